// What the main window's Save and Load buttons do: keep the last result under a title in the
// results file, and show a loaded one as a second bar beside the own one.
#pragma once

#include <QString>

#include <functional>

// A loaded result as the chart shows it: a bar of the stored width, its title beside it and a
// figure at its end. Widths and positions are in twips.
struct LoadedResult
{
    QString title;
    float barTwips = 0;
    QString figure;
    float figureLeftTwips = 0;
};

class ResultsView
{
public:
    virtual ~ResultsView() = default;
    virtual QString resultsPath() const = 0;
    virtual QString resultTitle() const = 0;
    virtual void setResultTitle(const QString &title) = 0;
    virtual void showLoadedResult(const LoadedResult &result) = 0;
    virtual void showResultsMessage(const QString &text) = 0;
};

class ResultsController
{
public:
    // barWidthText gives the own bar's width as the last run wrote it.
    ResultsController(ResultsView &view, std::function<QString()> barWidthText);

    void save();
    void load();

    // The fields of the last file loaded, as read.
    const QString &loadedTitle() const { return m_loadedTitle; }
    const QString &loadedWidth() const { return m_loadedWidth; }

private:
    ResultsView &m_view;
    std::function<QString()> m_barWidthText;
    QString m_loadedTitle;
    QString m_loadedWidth;
};
