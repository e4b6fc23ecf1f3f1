#include "mainwindow.h"

#include "appwindows.h"
#include "burninwindow.h"
#include "captionfit.h"
#include "glyphbutton.h"
#include "messages.h"
#include "numbertext.h"
#include "resultsfile.h"
#include "systemprobe.h"
#include "timetext.h"
#include "ui_mainwindow.h"
#include "units.h"
#include "windowdrag.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

MainWindow::MainWindow(AppWindows &windows, KernelSet &kernels, SystemProbe &probe, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::MainWindow>()),
      m_windows(windows), m_probe(probe), m_run(*this, kernels),
      m_chart([this](int entry, bool visible) { setReferenceEntryVisible(entry, visible); })
{
    ui->setupUi(this);
    fitCaptions(this);
    setFixedSize(twipsToPixels(WidthTwips), twipsToPixels(CollapsedHeightTwips));
    ui->txtio->setText(QDir::home().filePath(QStringLiteral("mycomp.dat")));

    m_drag = new WindowDrag(this);
    for (QWidget *handle :
         {static_cast<QWidget *>(ui->imgLogo), static_cast<QWidget *>(ui->lblBeta),
          static_cast<QWidget *>(ui->lblstatus)})
        m_drag->addHandle(handle);
    m_drag->addMoveSource(this);
    m_drag->addMoveSource(ui->client);
    connect(ui->lblMinimize, &GlyphButton::clicked, this, &MainWindow::minimise);
    connect(ui->lbX, &GlyphButton::clicked, this, [this] { m_windows.closeAll(); });

    // Until the window grows, what lies below its collapsed edge is out of sight: hidden, it is
    // also out of the keyboard's reach and not reported as showing to assistive technology.
    const int collapsedEdge = twipsToPixels(CollapsedHeightTwips) - ui->client->y();
    const auto parts = ui->client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *part : parts) {
        if (part->y() >= collapsedEdge && !part->isHidden())
            m_belowCollapsedEdge << part;
    }
    setBelowCollapsedEdgeShown(false);

    m_checkUP = new QTimer(this);
    m_checkUP->setObjectName(QStringLiteral("checkUP"));
    m_checkUP->setInterval(100);
    connect(m_checkUP, &QTimer::timeout, this, &MainWindow::keepFrame);
    m_checkUP->start();

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(2000);
    connect(m_timer1, &QTimer::timeout, this,
            [this] { ui->txt2k->setText(m_probe.refreshSpeed()); });

    connect(ui->Command1, &QPushButton::clicked, this, [this] { m_run.click(); });
    connect(ui->Command7, &QPushButton::clicked, this, [this] { m_windows.showBurnIn(); });
    connect(ui->cmdAbout, &QPushButton::clicked, this, [this] { m_windows.showAbout(); });
    connect(ui->Command6, &QPushButton::clicked, this, [this] { m_windows.showSubmit(); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { m_chart.next(); });
    connect(ui->Command3, &QPushButton::clicked, this, &MainWindow::loadResult);
    connect(ui->Command4, &QPushButton::clicked, this, &MainWindow::saveResult);

    load();
}

MainWindow::~MainWindow() = default;

void MainWindow::load()
{
    ui->Command6->setEnabled(false);
    m_timer1->start();
    QCoreApplication::processEvents();
    const ProbeResult host = m_probe.startUp();
    ui->txt2k->setText(host.txt2k);
    m_chart.reset();
    ui->Shape1->setVisible(false);
    ui->Text5->setText(host.Text5);
    ui->Text4->setText(host.Text4);
    ui->Text3->setText(host.Text3);
    ui->txtproc2->setText(host.txtproc2);
    // Long names start at their beginning, not scrolled to their end.
    for (QLineEdit *field : {ui->Text3, ui->Text5, ui->Text4, ui->txt2k, ui->txtproc2})
        field->setCursorPosition(0);
}

void MainWindow::centreOnScreen()
{
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void MainWindow::keepFrame()
{
    if (isMinimized())
        return;
    // Only a real change: clearing an empty caption would rename the taskbar entry twice.
    if (!windowTitle().isEmpty())
        setWindowTitle(QString());
    setFixedSize(twipsToPixels(WidthTwips),
                 twipsToPixels(m_windowExpanded ? ExpandedHeightTwips : CollapsedHeightTwips));
}

void MainWindow::minimise()
{
    setWindowState(windowState() | Qt::WindowMinimized);
    setWindowTitle(taskbarName());
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    nameTaskbarEntry();
}

void MainWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        nameTaskbarEntry();
}

void MainWindow::nameTaskbarEntry()
{
    // The caption stays empty (the window has no title bar to show it), but an empty platform
    // title would make Qt name the taskbar entry after the program's file.
    if (QWindow *window = windowHandle())
        window->setTitle(windowTitle().isEmpty() ? taskbarName() : windowTitle());
}

void MainWindow::paintEvent(QPaintEvent *)
{
    // The one-pixel border the window manager does not draw for a frameless window.
    QPainter p(this);
    p.setPen(QColor(64, 64, 64));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_closed = true;
    m_checkUP->stop();
    m_timer1->stop();
    event->accept();
    // Closing from the desktop ends the program as the close glyph does.
    m_windows.closeAll();
}

void MainWindow::setBelowCollapsedEdgeShown(bool shown)
{
    for (QWidget *part : std::as_const(m_belowCollapsedEdge))
        part->setVisible(shown);
}

void MainWindow::saveResult()
{
    if (ui->txtname->text().isEmpty())
        ui->txtname->setText(QStringLiteral("Default"));
    const QString path = ui->txtio->text();
    if (path.isEmpty()) {
        showMessage(this, QStringLiteral("file not specified"));
        return;
    }
    const auto saved = ResultsFile::save(path, ui->txtname->text(), m_run.barWidthText());
    if (!saved.ok)
        showMessage(this, QStringLiteral("The result could not be saved to ") + path +
                              QStringLiteral(":\n") + saved.error);
}

void MainWindow::loadResult()
{
    const QString path = ui->txtio->text();
    if (path.isEmpty()) {
        showMessage(this, QStringLiteral("file not specified"));
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
    ui->Shape2->resize(qMax(1, twipsToPixels(static_cast<float>(*width))), ui->Shape2->height());
    ui->lblcustom->setText(m_loadedTitle);
    ui->Shape2->setVisible(true);
    ui->lblload->setText(doubleText(*width / 20.0));
    const float left = static_cast<float>(*width + 2400.0 + 50.0);
    ui->lblload->move(twipsToPixels(left), ui->lblload->y());
}

void MainWindow::setReferenceEntryVisible(int entry, bool visible)
{
    static const char *const entries[ComparisonChart::Entries][3] = {
        {"lblCOMP1", "lblCOMPs1", "shapeCOMP1"}, {"lblCOMP3", "lblCOMPs3", "ShapeCOMP3"},
        {"lblCOMP2", "lblCOMPs2", "ShapeCOMP2"}, {"lblcompb", "lblcomp1b", "shapecompb"},
        {"lblCOMP4", "lblCOMPs4", "ShapeCOMP4"}, {"lblCOMPa", "lblcomp1a", "Shapecompa"},
        {"lblCOMP5", "lblCOMPs5", "shapeCOMP5"}, {"lblCOMP6", "lblCOMPs6", "ShapeCOMP6"},
        {"lblcomp7", "lblcomps7", "ShapeCOMP7"}};
    if (entry < 1 || entry > ComparisonChart::Entries)
        return;
    for (const char *name : entries[entry - 1]) {
        if (auto *w = ui->frResults->findChild<QWidget *>(QLatin1String(name)))
            w->setVisible(visible);
    }
}

// BenchmarkView -------------------------------------------------------------------------------

QString MainWindow::benchmarkCaption() const
{
    return ui->Command1->text();
}

void MainWindow::setBenchmarkCaption(const QString &caption)
{
    ui->Command1->setText(caption);
}

void MainWindow::setBenchmarkEnabled(bool enabled)
{
    ui->Command1->setEnabled(enabled);
}

void MainWindow::setStatus(const QString &caption)
{
    ui->lblstatus->setText(caption);
}

QString MainWindow::text(Field field) const
{
    switch (field) {
    case Field::txt1:
        return ui->txt1->text();
    case Field::txt2:
        return ui->txt2->text();
    case Field::txt3:
        return ui->txt3->text();
    case Field::txt4:
        return ui->txt4->text();
    case Field::txt5:
        return ui->txt5->text();
    case Field::txt6:
        return ui->txt6->text();
    case Field::txt7:
        return ui->txt7->text();
    case Field::txt8:
        return ui->txt8->text();
    case Field::Text1:
        return ui->Text1->text();
    case Field::Text2:
        return ui->Text2->toPlainText();
    case Field::txtTotal:
        return ui->txtTotal->text();
    case Field::txtTotal2:
        return ui->txtTotal2->text();
    case Field::txtcomptotal:
        return ui->txtcomptotal->text();
    }
    return {};
}

void MainWindow::setText(Field field, const QString &text)
{
    QLineEdit *edit = nullptr;
    switch (field) {
    case Field::txt1:
        edit = ui->txt1;
        break;
    case Field::txt2:
        edit = ui->txt2;
        break;
    case Field::txt3:
        edit = ui->txt3;
        break;
    case Field::txt4:
        edit = ui->txt4;
        break;
    case Field::txt5:
        edit = ui->txt5;
        break;
    case Field::txt6:
        edit = ui->txt6;
        break;
    case Field::txt7:
        edit = ui->txt7;
        break;
    case Field::txt8:
        edit = ui->txt8;
        break;
    case Field::Text1:
        edit = ui->Text1;
        break;
    case Field::Text2:
        ui->Text2->setPlainText(text);
        return;
    case Field::txtTotal:
        edit = ui->txtTotal;
        break;
    case Field::txtTotal2:
        edit = ui->txtTotal2;
        break;
    case Field::txtcomptotal:
        edit = ui->txtcomptotal;
        break;
    }
    edit->setText(text);
    edit->setCursorPosition(0);
}

void MainWindow::setSpeedTimerEnabled(bool enabled)
{
    if (enabled)
        m_timer1->start();
    else
        m_timer1->stop();
}

void MainWindow::setFrameKeeperEnabled(bool enabled)
{
    if (enabled)
        m_checkUP->start();
    else
        m_checkUP->stop();
}

void MainWindow::expandWindow()
{
    setFixedSize(twipsToPixels(WidthTwips), twipsToPixels(ExpandedHeightTwips));
    m_windowExpanded = true;
    // The window grows downwards; where its lower edge would leave the screen it moves up just
    // enough. It is not hidden and shown again to take the new size: the window manager takes
    // it as it is, and on X11 a window once minimised would be mapped minimised again (Qt
    // leaves its hints asking for that).
    if (const QScreen *screen = this->screen())
        move(keptWithin(QRect(pos(), size()), screen->availableGeometry()));
    setBelowCollapsedEdgeShown(true);
    setWindowTitle(QString());
}

void MainWindow::setOwnBarWidth(float twips)
{
    ui->Shape1->resize(qMax(1, twipsToPixels(twips)), ui->Shape1->height());
    // The bar says what it shows: 30 twips a second.
    ui->Shape1->setAccessibleName(QStringLiteral("Your CPU: ") +
                                  currencyText(Currency::fromDouble(twips / 30.0)) +
                                  QStringLiteral(" seconds"));
}

void MainWindow::showOwnResult()
{
    ui->Shape1->setVisible(true);
    ui->lblNA->setVisible(false);
}

void MainWindow::setSubmitEnabled(bool enabled)
{
    ui->Command6->setEnabled(enabled);
}

QString MainWindow::cycleCountText()
{
    return m_windows.burnIn()->cycleCountText();
}

QString MainWindow::logText()
{
    return m_windows.burnIn()->logText();
}

void MainWindow::setLogText(const QString &text)
{
    m_windows.burnIn()->setLogText(text);
}

void MainWindow::setSubmissionScore(const QString &score)
{
    m_windows.setSubmissionScore(score);
}

void MainWindow::letEventsRun()
{
    QCoreApplication::processEvents();
}

QString MainWindow::currentTimeText() const
{
    return timeText(m_clock());
}

void MainWindow::showInvalidCount()
{
    showMessage(this, QStringLiteral("Invalid value"));
}

void MainWindow::showLibraryFailure(const QString &message)
{
    showMessage(this, message, appTitle(), MessageIcon::Critical);
}
