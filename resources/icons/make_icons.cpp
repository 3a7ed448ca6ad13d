// Draws icon 128 (a pulse wave on a navy screen) at 16, 32, 48, 64, 128 and 256 pixels and
// writes the PNGs and a Windows .ico next to this file. The large sizes are the 32-pixel drawing
// scaled, as veltrin.svg draws it. Run once by hand; the outputs are committed:
//   g++ -std=c++17 -fPIC make_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_icons
//   QT_QPA_PLATFORM=offscreen /tmp/make_icons resources/icons
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

// The 32-unit drawing scaled up, pens and all: the same picture as veltrin.svg.
static QImage DrawScaled(int n)
{
    QImage img(n, n, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(n / 32.0, n / 32.0);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(3, 3, 26, 26));
    const QPointF pts[] = {{3, 22}, {8, 22}, {10, 21}, {12, 8}, {14, 6}, {16, 12}, {17, 14},
                           {18, 12}, {20, 15}, {24, 20}, {29, 22}};
    QPainterPath path(pts[0]);
    for (const QPointF& pt : pts)
        path.lineTo(pt);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 255, 0), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(QPointF(3, 26), QPointF(29, 26));
    return img;
}

static QImage Draw(int n)
{
    if (n > 32)
        return DrawScaled(n);
    QImage img(n, n, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, n >= 32);
    const qreal s = n / 32.0;
    // Screen: navy field in a grey bezel, like the console's readouts.
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRoundedRect(QRectF(0.5, 0.5, n - 1, n - 1), 4 * s, 4 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(3 * s, 3 * s, n - 6 * s, n - 6 * s));
    // A pulse beat: baseline, steep systolic rise, dicrotic notch, decay.
    const QPointF pts[] = {{3, 22}, {8, 22}, {10, 21}, {12, 8}, {14, 6}, {16, 12}, {17, 14},
                           {18, 12}, {20, 15}, {24, 20}, {29, 22}};
    QPainterPath path(pts[0] * s);
    for (const QPointF& pt : pts)
        path.lineTo(pt * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 255, 0), n >= 32 ? 2.0 : 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    // Baseline grid tick in white so the motif reads at 16 px.
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(QPointF(3 * s, 26 * s), QPointF(n - 3 * s, 26 * s));
    return img;
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = true;
    for (int n : {16, 32, 48, 64, 128, 256})
        ok = ok && Draw(n).save(dir + QStringLiteral("/veltrin-%1.png").arg(n));
    QImageWriter ico(dir + "/veltrin.ico", "ico");
    ok = ok && ico.write(Draw(32));
    return ok ? 0 : 1;
}
