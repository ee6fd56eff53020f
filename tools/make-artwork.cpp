// Draws the program's two PNG resources: the application icon (256 x 256) and the
// logo shown by the about dialog (520 x 173). Run it from the build folder:
//   cmake --build build --target ravelwick_artwork
//   QT_QPA_PLATFORM=offscreen build/tools/ravelwick_artwork src/app/icons
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

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
    p.setPen(QPen(kGlow.darker(250), r.width() * 0.02));
    p.drawPath(frame);

    const int bars = 15;
    const qreal gap = r.width() * 0.012;
    const qreal inner = r.width() * 0.74;
    const qreal barW = (inner - gap * (bars - 1)) / bars;
    const qreal x0 = r.left() + (r.width() - inner) / 2;
    const qreal mid = r.center().y();
    for (int i = 0; i < bars; ++i) {
        const qreal t = qreal(i) / (bars - 1);
        const qreal h = r.height() * (0.12 + 0.5 * qAbs(qSin(t * M_PI * 2.2)) * (1.0 - 0.4 * t));
        const QRectF bar(x0 + i * (barW + gap), mid - h / 2, barW, h);
        p.fillRect(bar.translated(0, -r.height() * 0.05), QColor(kGlow.red(), kGlow.green(), kGlow.blue(), 230));
        QColor echo = kAmber;
        echo.setAlpha(150);
        p.fillRect(bar.adjusted(0, h * 0.15, 0, -h * 0.15).translated(barW * 0.35, r.height() * 0.08), echo);
    }
}

QImage makeIcon()
{
    QImage img(256, 256, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, QRectF(8, 8, 240, 240));
    return img;
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
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    const bool ok = makeIcon().save(out + QStringLiteral("/appicon.png"), "PNG") &&
                    makeLogo().save(out + QStringLiteral("/logo.png"), "PNG");
    return ok ? 0 : 1;
}
