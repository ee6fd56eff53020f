// Draws the program's two PNG resources: the application icon (256 x 256) and the
// logo shown by the about dialog (520 x 173). Run it from the build folder:
//   cmake --build build --target ravelwick_artwork
//   QT_QPA_PLATFORM=offscreen build/tools/ravelwick_artwork src/app/icons
// With --hicolor it draws the desktop icon at every size of the freedesktop hicolor theme
// instead, each at its own size, into <dir>/<N>x<N>/apps/com.kestrilon.Ravelwick.png:
//   QT_QPA_PLATFORM=offscreen build/tools/ravelwick_artwork --hicolor packaging/icons/hicolor
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>
#include <cstdio>

namespace {

const QColor kPanel(0x10, 0x16, 0x1a);
const QColor kGlow(0x4d, 0xf0, 0xd0);
const QColor kAmber(0xff, 0xb3, 0x47);

// Two overlapping waveforms in the display's colours: the mark of the program.
void drawMark(QPainter &p, const QRectF &r)
{
    QPainterPath frame;
    frame.addRoundedRect(r, r.width() * 0.18, r.height() * 0.18);
    QLinearGradient bg(r.topLeft(), r.bottomLeft());
    bg.setColorAt(0, kPanel.lighter(160));
    bg.setColorAt(1, kPanel);
    p.fillPath(frame, bg);
    // At least one pixel, so that the frame still shows on the smallest icons.
    p.setPen(QPen(kGlow.darker(250), qMax(r.width() * 0.02, 1.0)));
    p.drawPath(frame);

    // Fewer, wider bars where fifteen would blur into each other. On small icons every bar,
    // gap and offset is a whole number of pixels, so that the edges stay sharp.
    const qreal w = r.width();
    const bool small = w < 56;
    const int bars = !small ? 15 : w >= 40 ? 7 : w >= 20 ? 5 : 4;
    qreal gap = w * 0.012;
    qreal inner = w * 0.74;
    qreal barW = (inner - gap * (bars - 1)) / bars;
    qreal x0 = r.left() + (w - inner) / 2;
    if (small) {
        gap = 1;
        barW = qMax(1.0, std::floor((inner - gap * (bars - 1)) / bars));
        inner = bars * barW + gap * (bars - 1);
        x0 = qRound(r.left() + (w - inner) / 2);
    }
    const qreal mid = r.center().y();
    for (int i = 0; i < bars; ++i) {
        const qreal t = qreal(i) / (bars - 1);
        const qreal h = r.height() * (0.12 + 0.5 * qAbs(qSin(t * M_PI * 2.2)) * (1.0 - 0.4 * t));
        const QRectF bar(x0 + i * (barW + gap), mid - h / 2, barW, h);
        QRectF glow = bar.translated(0, -r.height() * 0.05);
        QRectF shadow = bar.adjusted(0, h * 0.15, 0, -h * 0.15).translated(barW * 0.35, r.height() * 0.08);
        if (small) {
            const auto snap = [](const QRectF &b) {
                return QRectF(QPointF(qRound(b.left()), qRound(b.top())),
                              QPointF(qRound(b.right()), qMax(qRound(b.bottom()), qRound(b.top()) + 1)));
            };
            glow = snap(glow);
            shadow = snap(shadow.translated(qMax(1.0, std::round(barW * 0.35)) - barW * 0.35, 0));
        }
        p.fillRect(glow, QColor(kGlow.red(), kGlow.green(), kGlow.blue(), 230));
        QColor echo = kAmber;
        echo.setAlpha(150);
        p.fillRect(shadow, echo);
    }
}

// The icon at `size` pixels square, with a margin of 1/32 of the size (8 px at 256).
QImage makeIcon(int size = 256)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 32.0;
    drawMark(p, QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
    return img;
}

// The sizes of the hicolor icon theme that desktops look up for an application icon.
const int kHicolorSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
const QString kIconName = QStringLiteral("com.kestrilon.Ravelwick");

bool writeHicolor(const QString &root)
{
    for (const int size : kHicolorSizes) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, kIconName);
        if (!QDir().mkpath(dir) || !makeIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "ravelwick_artwork: cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

QImage makeLogo()
{
    QImage img(520, 173, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawMark(p, QRectF(10, 16, 140, 140));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(56);
    title.setBold(true);
    p.setFont(title);
    p.setPen(kPanel.lighter(130));
    p.drawText(QRectF(170, 20, 345, 90), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ravelwick"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(20);
    p.setFont(sub);
    p.setPen(kGlow.darker(160));
    p.drawText(QRectF(174, 108, 345, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("duplicate music finder"));
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--hicolor") {
        if (argc != 3) {
            std::fprintf(stderr, "usage: ravelwick_artwork [DIR] | --hicolor DIR\n");
            return 2;
        }
        return writeHicolor(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    const bool ok = makeIcon().save(out + QStringLiteral("/appicon.png"), "PNG") &&
                    makeLogo().save(out + QStringLiteral("/logo.png"), "PNG");
    return ok ? 0 : 1;
}
