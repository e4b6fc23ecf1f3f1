// Draws the program's images: the logo strip, the burn-in and About backgrounds and the icon.
// Run once after changing a drawing; the PNGs it writes are committed beside it.
// Usage: orvane-make-assets <folder>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor Steel(58, 74, 110);
const QColor Slate(120, 134, 170);
const QColor Pale(174, 176, 193);

// A processor package seen from above: a rounded die with pins on every side.
void drawChip(QPainter &p, const QRectF &box)
{
    p.save();
    const qreal pin = box.width() / 10.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 170, 90));
    for (int i = 1; i < 5; ++i) {
        const qreal at = box.left() + box.width() * i / 5.0 - pin / 2;
        const qreal atY = box.top() + box.height() * i / 5.0 - pin / 2;
        p.drawRect(QRectF(at, box.top(), pin, pin * 1.5));
        p.drawRect(QRectF(at, box.bottom() - pin * 1.5, pin, pin * 1.5));
        p.drawRect(QRectF(box.left(), atY, pin * 1.5, pin));
        p.drawRect(QRectF(box.right() - pin * 1.5, atY, pin * 1.5, pin));
    }
    const QRectF die = box.adjusted(pin * 1.2, pin * 1.2, -pin * 1.2, -pin * 1.2);
    QLinearGradient g(die.topLeft(), die.bottomRight());
    g.setColorAt(0, QColor(70, 90, 140));
    g.setColorAt(1, QColor(25, 32, 55));
    p.setBrush(g);
    p.drawRoundedRect(die, pin * 0.6, pin * 0.6);
    p.setPen(QPen(QColor(230, 235, 250), qMax<qreal>(1.0, die.width() / 9.0)));
    p.setBrush(Qt::NoBrush);
    const QRectF ring = die.adjusted(die.width() * 0.24, die.height() * 0.24, -die.width() * 0.24,
                                     -die.height() * 0.24);
    p.drawEllipse(ring);
    p.restore();
}

QImage banner(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, 0);
    g.setColorAt(0, Steel);
    g.setColorAt(0.7, Slate);
    g.setColorAt(1, Pale);
    p.fillRect(image.rect(), g);
    return image;
}

QImage logo()
{
    QImage image = banner(288, 21);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawChip(p, QRectF(4, 2, 17, 17));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(27, 0, 200, 21), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("CPU Orvane"));
    f.setBold(false);
    f.setPixelSize(10);
    p.setFont(f);
    p.setPen(QColor(225, 230, 245));
    p.drawText(QRect(120, 0, 160, 21), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("processor benchmark"));
    return image;
}

QImage burnIn()
{
    QImage image = banner(301, 30);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A small flame beside the title.
    QPainterPath flame;
    flame.moveTo(15, 26);
    flame.cubicTo(4, 22, 8, 12, 14, 4);
    flame.cubicTo(16, 11, 24, 14, 21, 22);
    flame.cubicTo(20, 25, 18, 26, 15, 26);
    QLinearGradient fg(0, 4, 0, 26);
    fg.setColorAt(0, QColor(255, 220, 90));
    fg.setColorAt(1, QColor(230, 90, 30));
    p.setPen(Qt::NoPen);
    p.setBrush(fg);
    p.drawPath(flame);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(15);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(32, 0, 260, 30), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Burn-In"));
    return image;
}

QImage about()
{
    QImage image(400, 100, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 400, 0);
    g.setColorAt(0, Steel);
    g.setColorAt(1, Pale);
    p.fillRect(QRect(0, 0, 400, 34), g);
    drawChip(p, QRectF(6, 3, 28, 28));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(18);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(42, 0, 300, 34), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("CPU Orvane"));
    p.fillRect(QRect(0, 34, 400, 2), QColor(200, 170, 90));
    return image;
}

QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawChip(p, QRectF(0, 0, size, size));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    bool ok = logo().save(out.filePath(QStringLiteral("logo.png"))) &&
              burnIn().save(out.filePath(QStringLiteral("burnin.png"))) &&
              about().save(out.filePath(QStringLiteral("about.png"))) &&
              icon(128).save(out.filePath(QStringLiteral("orvane.png")));
    for (const int size : {16, 32, 48, 64, 256})
        ok = ok && icon(size).save(out.filePath(QStringLiteral("orvane-%1.png").arg(size)));
    return ok ? 0 : 1;
}
