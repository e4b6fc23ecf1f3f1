// Captions and fonts of the windows at the screen's scale: CTest runs this program once at 1x and
// once with QT_SCALE_FACTOR=2, as on a high-density desktop.
#include "benchmark/burninwindow.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/aboutwindow.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"
#include "sysinfo/systemprobe.h"
#include "widgets/captionfit.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <memory>

namespace {

// Why a control's caption does not fit it, empty when it does.
QString misfit(QWidget *control)
{
    if (auto *label = qobject_cast<QLabel *>(control)) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            return {};
        const QRect room = label->contentsRect();
        const QFontMetrics metrics(label->font());
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        QRect needed = metrics.boundingRect(room, flags, label->text());
        // Every line at its full spacing: three lines squeezed into the height of two are no
        // fit.
        const int lines = qMax(1, qRound(double(needed.height()) / metrics.height()));
        needed.setHeight(lines * metrics.lineSpacing() - metrics.leading());
        if (needed.height() <= room.height() && needed.width() <= room.width())
            return {};
        return QStringLiteral("needs %1 x %2, has %3 x %4")
            .arg(needed.width())
            .arg(needed.height())
            .arg(room.width())
            .arg(room.height());
    }
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const int room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        return needed <= room ? QString()
                              : QStringLiteral("needs %1, has %2").arg(needed).arg(room);
    }
    if (auto *frame = qobject_cast<QGroupBox *>(control)) {
        const int needed = frame->fontMetrics().horizontalAdvance(frame->title());
        return needed <= frame->width() ? QString() : QStringLiteral("title too wide");
    }
    return {};
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void captionsFitTheirControls_data();
    void captionsFitTheirControls();
    void labelsGrowAwayFromTheirAlignment_data();
    void labelsGrowAwayFromTheirAlignment();
    void piCaptionWrapsOverTwoLines();
    void resultFieldsShowTheWholeValue();
    void memoryFitsItsField_data();
    void memoryFitsItsField();
    void textIsDrawnInAScalableFaceAboveOneToOne();
    void everyFieldHasABorder();

private:
    QWidget *window(const QString &which);

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
    std::unique_ptr<AboutWindow> about;
};

void TestCaptions::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qInfo("device pixel ratio %g", qApp->primaryScreen()->devicePixelRatio());
}

void TestCaptions::init()
{
    kernels = std::make_unique<FakeKernels>();
    // The values and times of a real run: the longest texts the result fields show.
    kernels->result = [](Kernel kernel) {
        static constexpr double results[KernelCount] = {
            750000000.0, 150000000.0,        1.2500000075e17,   1.999999996,
            30712429.0,  3.1415926449823899, 1.0460278636963902};
        return results[static_cast<int>(kernel)];
    };
    kernels->seconds = [](Kernel, int) {
        return 12.345;
    };
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(windows->mainWindow()));
    // Expanded, so every part of the main window is shown.
    control<QPushButton>(windows->mainWindow(), "Command1")->click();
}

void TestCaptions::cleanup()
{
    about.reset();
    windows.reset();
    kernels.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QWidget *TestCaptions::window(const QString &which)
{
    if (which == QLatin1String("main"))
        return windows->mainWindow();
    if (which == QLatin1String("burn-in"))
        return windows->burnIn();
    if (which == QLatin1String("submit"))
        return windows->submit();
    about = std::make_unique<AboutWindow>(windows->mainWindow());
    return about.get();
}

void TestCaptions::captionsFitTheirControls_data()
{
    QTest::addColumn<QString>("which");
    for (const char *which : {"main", "burn-in", "submit", "about"})
        QTest::newRow(which) << QString::fromLatin1(which);
}

void TestCaptions::captionsFitTheirControls()
{
    QFETCH(QString, which);
    QStringList misfits;
    const auto controls = window(which)->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        const QString why = misfit(control);
        if (!why.isEmpty())
            misfits << control->objectName() + QStringLiteral(": ") + why;
    }
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void TestCaptions::labelsGrowAwayFromTheirAlignment_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<bool>("wrapped");
    QTest::newRow("left-aligned: grows to the right") << int(Qt::AlignLeft) << false;
    QTest::newRow("right-aligned: grows to the left") << int(Qt::AlignRight) << false;
    QTest::newRow("centred: grows both ways") << int(Qt::AlignHCenter) << false;
    QTest::newRow("wrapped: grows downwards") << int(Qt::AlignLeft) << true;
}

// A caption too big for its label: the label grows to hold it, and the edge (or the centre) the
// caption is aligned to stays where it was.
void TestCaptions::labelsGrowAwayFromTheirAlignment()
{
    QFETCH(int, alignment);
    QFETCH(bool, wrapped);
    QWidget window;
    auto *label = new QLabel(QStringLiteral("A caption far wider than its label"), &window);
    label->setAlignment(Qt::Alignment(alignment) | Qt::AlignTop);
    label->setWordWrap(wrapped);
    const QRect before(200, 40, 60, 20);
    label->setGeometry(before);
    fitCaptions(&window);
    const QRect after = label->geometry();
    QVERIFY2(misfit(label).isEmpty(), qPrintable(misfit(label)));
    if (wrapped) {
        QCOMPARE(after.topLeft(), before.topLeft());
        QCOMPARE(after.width(), before.width());
        QVERIFY(after.height() > before.height());
    } else {
        QCOMPARE(after.top(), before.top());
        QCOMPARE(after.height(), before.height());
        QVERIFY(after.width() > before.width());
        if (alignment == Qt::AlignLeft)
            QCOMPARE(after.left(), before.left());
        else if (alignment == Qt::AlignRight)
            QCOMPARE(after.right(), before.right());
        else
            QVERIFY(qAbs(after.center().x() - before.center().x()) <= 1);
    }
}

void TestCaptions::piCaptionWrapsOverTwoLines()
{
    const QLabel *label = control<QLabel>(windows->mainWindow(), "Label20");
    QTextLayout layout(label->text(), label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->contentsRect().width());
        ++lines;
    }
    layout.endLayout();
    QCOMPARE(lines, 2);
}

// The results of a real run fit their fields whole, on one line.
void TestCaptions::resultFieldsShowTheWholeValue()
{
    QWidget *main = windows->mainWindow();
    QStringList cut;
    QList<QLineEdit *> lines;
    for (const char *frame : {"frBenchDetails", "Frame1"})
        lines << control<QWidget>(main, frame)->findChildren<QLineEdit *>();
    lines << control<QLineEdit>(main, "txtTotal2");
    for (const QLineEdit *field : std::as_const(lines)) {
        // A line edit keeps two pixels either side of its text.
        const int needed = field->fontMetrics().horizontalAdvance(field->text()) + 4;
        if (field->isVisibleTo(main) && needed > field->contentsRect().width())
            cut << field->objectName() + QLatin1Char('=') + field->text();
    }
    const auto *power = control<QPlainTextEdit>(main, "Text2");
    QCOMPARE(power->toPlainText(), QStringLiteral("1.04602786369639"));
    const QTextLayout *layout = power->document()->firstBlock().layout();
    const qreal needed = layout->maximumWidth() + 2 * power->document()->documentMargin();
    if (layout->lineCount() != 1 || needed > power->viewport()->width())
        cut << QStringLiteral("Text2");
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
}

void TestCaptions::memoryFitsItsField_data()
{
    QTest::addColumn<quint64>("bytes");
    constexpr quint64 MiB = quint64(1) << 20;
    constexpr quint64 GiB = MiB << 10;
    QTest::newRow("24 GiB") << 24 * GiB;
    QTest::newRow("widest megabytes") << 88888 * MiB;
    QTest::newRow("128 GiB") << 128 * GiB;
    QTest::newRow("widest gigabytes below 16 TiB") << 8888 * GiB;
    QTest::newRow("16 TiB") << 16384 * GiB;
}

// Whatever memory the host has, up to 16 TiB, its text fits the field whole.
void TestCaptions::memoryFitsItsField()
{
    QFETCH(quint64, bytes);
    auto *field = control<QLineEdit>(windows->mainWindow(), "Text4");
    field->setText(SystemProbe::memoryText(bytes));
    // A line edit keeps two pixels either side of its text.
    const int needed = field->fontMetrics().horizontalAdvance(field->text()) + 4;
    QVERIFY2(needed <= field->contentsRect().width(),
             qPrintable(QStringLiteral("%1 needs %2, has %3")
                            .arg(field->text())
                            .arg(needed)
                            .arg(field->contentsRect().width())));
}

// A bitmap face drawn at twice its size would be tiny glyphs at double spacing.
void TestCaptions::textIsDrawnInAScalableFaceAboveOneToOne()
{
    if (qApp->primaryScreen()->devicePixelRatio() <= 1.0)
        QSKIP("one device pixel to a pixel: the bitmap faces are right here");
    QStringList bitmaps;
    for (const char *which : {"main", "burn-in", "submit", "about"}) {
        const auto controls = window(QString::fromLatin1(which))->findChildren<QWidget *>();
        for (QWidget *control : controls) {
            const QString family = QFontInfo(control->font()).family();
            if (!QFontDatabase::isScalable(family))
                bitmaps << control->objectName() + QStringLiteral(": ") + family;
        }
    }
    QVERIFY2(bitmaps.isEmpty(), qPrintable(bitmaps.join(QStringLiteral(", "))));
}

// Every field of the main window draws a border, the power result's included.
void TestCaptions::everyFieldHasABorder()
{
    QWidget *main = windows->mainWindow();
    const QImage picture = main->grab().toImage();
    const qreal ratio = picture.devicePixelRatio();
    QStringList borderless;
    const auto fields = main->findChildren<QWidget *>();
    for (QWidget *field : fields) {
        if (!qobject_cast<QLineEdit *>(field) && !qobject_cast<QPlainTextEdit *>(field))
            continue;
        if (!field->isVisibleTo(main))
            continue;
        // The middle of the field's top edge is drawn in a darker colour than its inside.
        const QPoint top = field->mapTo(main, QPoint(field->width() / 2, 0));
        const QPoint inside = field->mapTo(main, QPoint(field->width() / 2, 2));
        const auto at = [&](QPoint p) {
            return QColor(picture.pixel(qFloor(p.x() * ratio), qFloor(p.y() * ratio))).lightness();
        };
        if (at(top) >= at(inside))
            borderless << field->objectName();
    }
    QVERIFY2(borderless.isEmpty(), qPrintable(borderless.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
