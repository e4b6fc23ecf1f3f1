#include "results/resultscontroller.h"

#include "core/numbertext.h"
#include "results/resultsfile.h"

ResultsController::ResultsController(ResultsView &view, std::function<QString()> barWidthText)
    : m_view(view), m_barWidthText(std::move(barWidthText))
{}

void ResultsController::save()
{
    if (m_view.resultTitle().isEmpty())
        m_view.setResultTitle(QStringLiteral("Default"));
    const QString path = m_view.resultsPath();
    if (path.isEmpty()) {
        m_view.showResultsMessage(QStringLiteral("file not specified"));
        return;
    }
    const auto saved = ResultsFile::save(path, m_view.resultTitle(), m_barWidthText());
    if (!saved.ok)
        m_view.showResultsMessage(QStringLiteral("The result could not be saved to ") + path +
                                  QStringLiteral(":\n") + saved.error);
}

void ResultsController::load()
{
    const QString path = m_view.resultsPath();
    if (path.isEmpty()) {
        m_view.showResultsMessage(QStringLiteral("file not specified"));
        return;
    }
    const ResultsFile::Fields fields = ResultsFile::load(path);
    if (fields.count >= 1)
        m_loadedTitle = fields.title;
    if (fields.count < 2)
        return;
    m_loadedWidth = fields.width;

    const auto width = readNumber(m_loadedWidth);
    if (!width || *width < 0.0)
        return;
    // The figure is the stored width over 20, set 50 twips past the end of a bar of that width
    // (the chart's bars start 2400 twips in).
    LoadedResult shown;
    shown.title = m_loadedTitle;
    shown.barTwips = static_cast<float>(*width);
    shown.figure = doubleText(*width / 20.0);
    shown.figureLeftTwips = static_cast<float>(*width + 2400.0 + 50.0);
    m_view.showLoadedResult(shown);
}
