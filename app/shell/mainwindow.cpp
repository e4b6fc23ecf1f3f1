#include "shell/mainwindow.h"

#include "core/numbertext.h"
#include "core/units.h"
#include "core/version.h"
#include "shell/glyphbutton.h"
#include "ui_mainwindow.h"
#include "widgets/captionfit.h"
#include "widgets/desktopname.h"
#include "widgets/images.h"
#include "widgets/keyboard.h"
#include "widgets/messagebox.h"
#include "widgets/windowborder.h"
#include "widgets/windowdrag.h"

#include <QCloseEvent>
#include <QDir>
#include <QScreen>
#include <QWindow>

// Where the logic's names meet the form's controls: every control the run, the probe and the
// chart reach is named here and nowhere else.
void MainWindow::mapControls()
{
    const auto field = [this](Field f) -> QWidget *& {
        return m_fields[static_cast<int>(f)];
    };
    field(Field::AdditionSeconds) = ui->txt1;
    field(Field::SubtractionSeconds) = ui->txt2;
    field(Field::MultiplicationSeconds) = ui->txt3;
    field(Field::DivisionSeconds) = ui->txt4;
    field(Field::PrimeSeconds) = ui->txt5;
    field(Field::PrimeResult) = ui->txt6;
    field(Field::PiSeconds) = ui->txt7;
    field(Field::PiResult) = ui->Text1;
    field(Field::PowerSeconds) = ui->txt8;
    field(Field::PowerResult) = ui->Text2;
    field(Field::SimpleTotal) = ui->txtTotal;
    field(Field::OverallTotal) = ui->txtTotal2;
    field(Field::ComplexTotal) = ui->txtcomptotal;

    const auto host = [this](ProbeField f) -> QLineEdit *& {
        return m_hostFields[static_cast<int>(f)];
    };
    host(ProbeField::ProcessorName) = ui->Text3;
    host(ProbeField::OperatingSystem) = ui->Text5;
    host(ProbeField::Memory) = ui->Text4;
    host(ProbeField::ClockSpeed) = ui->txt2k;
    host(ProbeField::ProcessorCount) = ui->txtproc2;

    // Each reference machine: its name, its time and its bar, in ascending time.
    m_referenceEntries = {{{ui->lblCOMP1, ui->lblCOMPs1, ui->shapeCOMP1},
                           {ui->lblCOMP3, ui->lblCOMPs3, ui->ShapeCOMP3},
                           {ui->lblCOMP2, ui->lblCOMPs2, ui->ShapeCOMP2},
                           {ui->lblcompb, ui->lblcomp1b, ui->shapecompb},
                           {ui->lblCOMP4, ui->lblCOMPs4, ui->ShapeCOMP4},
                           {ui->lblCOMPa, ui->lblcomp1a, ui->Shapecompa},
                           {ui->lblCOMP5, ui->lblCOMPs5, ui->shapeCOMP5},
                           {ui->lblCOMP6, ui->lblCOMPs6, ui->ShapeCOMP6},
                           {ui->lblcomp7, ui->lblcomps7, ui->ShapeCOMP7}}};

    connect(ui->Command1, &QPushButton::clicked, this, &MainWindow::benchmarkClicked);
    connect(ui->Command7, &QPushButton::clicked, this, &MainWindow::burnInClicked);
    connect(ui->cmdAbout, &QPushButton::clicked, this, &MainWindow::aboutClicked);
    connect(ui->Command6, &QPushButton::clicked, this, &MainWindow::submitClicked);
    connect(ui->Command2, &QPushButton::clicked, this, &MainWindow::nextComparisonClicked);
    connect(ui->Command3, &QPushButton::clicked, this, &MainWindow::loadClicked);
    connect(ui->Command4, &QPushButton::clicked, this, &MainWindow::saveClicked);
    connect(ui->lblMinimize, &GlyphButton::clicked, this, &MainWindow::minimise);
    connect(ui->lbX, &GlyphButton::clicked, this, &MainWindow::closeRequested);
}

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    ui->imgLogo->setPixmap(readPng(QStringLiteral(":/assets/logo.png")));
    ui->lblBeta->setText(QStringLiteral("v" ORVANE_VERSION_SHOWN));
    fitCaptions(this);
    mapControls();
    setFixedSize(twipsToPixels(WidthTwips), twipsToPixels(CollapsedHeightTwips));
    ui->txtio->setText(QDir::home().filePath(QStringLiteral("mycomp.dat")));

    m_drag = new WindowDrag(this);
    for (QWidget *handle :
         {static_cast<QWidget *>(ui->imgLogo), static_cast<QWidget *>(ui->lblBeta),
          static_cast<QWidget *>(ui->lblstatus)})
        m_drag->addHandle(handle);
    m_drag->addMoveSource(this);
    m_drag->addMoveSource(ui->client);

    // Until the window grows, what lies below its collapsed edge is out of sight: hidden, it is
    // also out of the keyboard's reach and not reported as showing to assistive technology.
    const int collapsedEdge = twipsToPixels(CollapsedHeightTwips) - ui->client->y();
    const auto parts = ui->client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *part : parts) {
        if (part->y() >= collapsedEdge && !part->isHidden())
            m_belowCollapsedEdge << part;
    }
    setBelowCollapsedEdgeShown(false);

    new DesktopName(this, taskbarName());
    // Everything a mouse reaches, the keyboard reaches: the fields are read-only but take the
    // focus with Tab, so their values can be read, selected and copied; Return and Space press
    // the focused button.
    QList<QWidget *> fields{ui->Text3, ui->Text5, ui->Text4, ui->txt2k, ui->txtproc2};
    for (QWidget *field : m_fields)
        fields << field;
    makeFieldsReachable(fields);
    const QList<QWidget *> chain{
        ui->Text3,     ui->Text5,    ui->Text4,    ui->txt2k,       ui->txtproc2,
        ui->Command1,  ui->Command7, ui->cmdAbout, ui->txt1,        ui->txt2,
        ui->txt3,      ui->txt4,     ui->txtTotal, ui->txt6,        ui->txt5,
        ui->Text1,     ui->txt7,     ui->Text2,    ui->txt8,        ui->txtcomptotal,
        ui->txtTotal2, ui->Command2, ui->Command6, ui->lblMinimize, ui->lbX};
    setTabChain(chain);
    pressButtonsWithReturn(this);
    ui->Command1->setFocus();

    // Nothing to submit and no own bar before the first complete run.
    ui->Command6->setEnabled(false);
    ui->Shape1->setVisible(false);

    // The loaded result's labels are not there, for assistive technology either, until they say
    // something.
    ui->lblcustom->setVisible(false);
    ui->lblload->setVisible(false);
}

MainWindow::~MainWindow() = default;

void MainWindow::centreOnScreen()
{
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void MainWindow::keepFrame(bool expanded)
{
    if (isMinimized())
        return;
    // Only a real change: clearing an empty caption would rename the taskbar entry twice.
    if (!windowTitle().isEmpty())
        setWindowTitle(QString());
    setFixedSize(twipsToPixels(WidthTwips),
                 twipsToPixels(expanded ? ExpandedHeightTwips : CollapsedHeightTwips));
}

void MainWindow::expand()
{
    setFixedSize(twipsToPixels(WidthTwips), twipsToPixels(ExpandedHeightTwips));
    // The window grows downwards; where its lower edge would leave the screen it moves up just
    // enough. It is not hidden and shown again to take the new size: the window manager takes
    // it as it is, and on X11 a window once minimised would be mapped minimised again (Qt
    // leaves its hints asking for that).
    if (const QScreen *screen = this->screen())
        move(keptWithin(QRect(pos(), size()), screen->availableGeometry()));
    setBelowCollapsedEdgeShown(true);
    setWindowTitle(QString());
}

void MainWindow::minimise()
{
    setWindowState(windowState() | Qt::WindowMinimized);
    setWindowTitle(taskbarName());
}

void MainWindow::paintEvent(QPaintEvent *)
{
    paintWindowBorder(this);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_closed = true;
    event->accept();
    // Closing from the desktop ends the program as the close glyph does.
    emit closeRequested();
}

void MainWindow::setBelowCollapsedEdgeShown(bool shown)
{
    for (QWidget *part : std::as_const(m_belowCollapsedEdge))
        part->setVisible(shown);
}

void MainWindow::pressBenchmark()
{
    ui->Command1->click();
}

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

void MainWindow::setSubmitEnabled(bool enabled)
{
    ui->Command6->setEnabled(enabled);
}

void MainWindow::setStatus(const QString &caption)
{
    // One change of name for assistive technology: the label's own, or the end of an
    // announcement that named the status line otherwise.
    ui->lblstatus->setText(caption);
    if (!ui->lblstatus->accessibleName().isEmpty())
        ui->lblstatus->setAccessibleName(QString());
}

QString MainWindow::text(Field field) const
{
    QWidget *control = m_fields[static_cast<int>(field)];
    if (auto *line = qobject_cast<QLineEdit *>(control))
        return line->text();
    return static_cast<QPlainTextEdit *>(control)->toPlainText();
}

void MainWindow::setText(Field field, const QString &text)
{
    QWidget *control = m_fields[static_cast<int>(field)];
    if (auto *line = qobject_cast<QLineEdit *>(control)) {
        line->setText(text);
        line->setCursorPosition(0);
    } else {
        static_cast<QPlainTextEdit *>(control)->setPlainText(text);
    }
}

void MainWindow::showHost(const ProbeResult &host)
{
    for (int f = 0; f < ProbeFieldCount; ++f)
        setHostText(static_cast<ProbeField>(f), host.texts[f]);
}

void MainWindow::setHostText(ProbeField field, const QString &text)
{
    QLineEdit *line = m_hostFields[static_cast<int>(field)];
    // The clock is refreshed every two seconds and mostly reads the same: no repaint then, and
    // a selection the user made in the field stays.
    if (line->text() == text)
        return;
    line->setText(text);
    // Long names start at their beginning, not scrolled to their end.
    line->setCursorPosition(0);
}

void MainWindow::setReferenceEntryVisible(int entry, bool visible)
{
    if (entry < 1 || entry > ComparisonChart::Entries)
        return;
    for (QWidget *part : m_referenceEntries[entry - 1])
        part->setVisible(visible);
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
    // A screen reader hears the score with the status: the status line is named so until its
    // next change.
    QString status = ui->lblstatus->text();
    if (status.startsWith(u'\u00BB'))
        status = status.mid(1).trimmed();
    ui->lblstatus->setAccessibleName(status + QStringLiteral(" Total Time: ") +
                                     ui->txtTotal2->text() + QStringLiteral(" seconds."));
}

QString MainWindow::resultsPath() const
{
    return ui->txtio->text();
}

QString MainWindow::resultTitle() const
{
    return ui->txtname->text();
}

void MainWindow::setResultTitle(const QString &title)
{
    ui->txtname->setText(title);
}

void MainWindow::showLoadedResult(const LoadedResult &result)
{
    ui->Shape2->resize(qMax(1, twipsToPixels(result.barTwips)), ui->Shape2->height());
    ui->lblcustom->setText(result.title);
    ui->lblcustom->setVisible(!result.title.isEmpty());
    ui->Shape2->setVisible(true);
    ui->lblload->setText(result.figure);
    ui->lblload->setVisible(!result.figure.isEmpty());
    ui->lblload->move(twipsToPixels(result.figureLeftTwips), ui->lblload->y());
}

void MainWindow::showResultsMessage(const QString &text)
{
    showMessage(this, text);
}
