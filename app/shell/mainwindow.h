// form1, the program's main window: a fixed-size window without a title bar that draws its own
// chrome (a logo strip to drag it by, a minimise and a close glyph) and shows the host's system
// information, the result fields of a benchmark run and the comparison chart.
//
// The window is a view: it shows what it is given and says which button was pressed. The logic
// names what it shows by meaning (Field, ProbeField, a reference entry's number); the table in
// mainwindow.cpp maps those names to the form's controls, and no other file names them.
#pragma once

#include "benchmark/benchmarkview.h"
#include "benchmark/comparisonchart.h"
#include "results/resultscontroller.h"
#include "sysinfo/systemprobe.h"

#include <QWidget>

#include <array>
#include <memory>

namespace Ui {
class MainWindow;
}
class QLineEdit;
class WindowDrag;

class MainWindow : public QWidget, public ResultsView
{
    Q_OBJECT

public:
    static constexpr int WidthTwips = 9690;
    static constexpr int CollapsedHeightTwips = 2220;
    static constexpr int ExpandedHeightTwips = 8700;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    WindowDrag &drag() { return *m_drag; }
    bool isClosed() const { return m_closed; }

    // What a taskbar shows for the window while its caption is empty.
    static QString taskbarName() { return QStringLiteral("CPU Orvane"); }
    void minimise();
    void centreOnScreen();
    // Puts back the collapsed or expanded size and clears a caption someone set; nothing while
    // minimised.
    void keepFrame(bool expanded);
    // Grows the window to its expanded height, keeping it on the screen, and shows what lies
    // below the collapsed edge.
    void expand();

    // Presses the Benchmark button, as a click would; returns when its handler has finished.
    void pressBenchmark();
    QString benchmarkCaption() const;
    void setBenchmarkCaption(const QString &caption);
    void setBenchmarkEnabled(bool enabled);
    void setSubmitEnabled(bool enabled);
    void setStatus(const QString &caption);

    QString text(Field field) const;
    void setText(Field field, const QString &text);
    void showHost(const ProbeResult &host);
    void setHostText(ProbeField field, const QString &text);

    // The comparison chart: reference entries 1 to 9, and the own bar (30 twips a second).
    void setReferenceEntryVisible(int entry, bool visible);
    void setOwnBarWidth(float twips);
    void showOwnResult();

    // ResultsView
    QString resultsPath() const override;
    QString resultTitle() const override;
    void setResultTitle(const QString &title) override;
    void showLoadedResult(const LoadedResult &result) override;
    void showResultsMessage(const QString &text) override;

signals:
    void benchmarkClicked();
    void burnInClicked();
    void aboutClicked();
    void submitClicked();
    void nextComparisonClicked();
    void loadClicked();
    void saveClicked();
    // The close glyph, or the desktop closing the window: the program ends.
    void closeRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void mapControls();
    void setBelowCollapsedEdgeShown(bool shown);

    std::unique_ptr<Ui::MainWindow> ui;
    std::array<QWidget *, FieldCount> m_fields{};
    std::array<QLineEdit *, ProbeFieldCount> m_hostFields{};
    std::array<std::array<QWidget *, 3>, ComparisonChart::Entries> m_referenceEntries{};
    WindowDrag *m_drag = nullptr;
    QList<QWidget *> m_belowCollapsedEdge;
    bool m_closed = false;
};
