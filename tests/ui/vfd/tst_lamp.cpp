#include "ui/vfd/Lamp.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QTest>

using namespace rvw::test;
using namespace rvw::vfd;

namespace {

const QColor kTeal = expected::teal, kOrange = expected::orange, kDark = expected::teal.darker(260);

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// Border at the left edge and fill just inside it, left of the centred text.
void checkBox(QWidget &widget, const QColor &border, const QColor &fill)
{
    const QImage image = renderTransparent(widget);
    const QColor b = image.pixelColor(0, image.height() / 2), f = image.pixelColor(3, image.height() / 2);
    QVERIFY2(sameColour(b, border), qPrintable(QStringLiteral("border ") + describe(b)));
    QVERIFY2(sameColour(f, fill), qPrintable(QStringLiteral("fill ") + describe(f)));
}

} // namespace

class tst_Lamp : public QObject
{
    Q_OBJECT

private slots:
    void sizeHints()
    {
        const QFontMetrics metrics(legendFont(8, true));
        const auto widthFor = [&](const char *text) {
            return metrics.horizontalAdvance(QLatin1String(text));
        };
        Lamp lamp(QStringLiteral("A"));
        QVERIFY(lamp.minimumSizeHint().width() > widthFor("A") + 18);
        // PLAY and PAUSE share one lamp: it keeps the width of the wider legend.
        lamp.setReservedText(QStringLiteral("PAUSE ALL"));
        QCOMPARE(lamp.minimumSizeHint().width(), widthFor("PAUSE ALL") + 18);
        lamp.setText(QStringLiteral("A MUCH LONGER KEY"));
        QCOMPARE(lamp.minimumSizeHint().width(), widthFor("A MUCH LONGER KEY") + 18);
        Badge badge;
        badge.setText(QStringLiteral("FLAC"));
        QCOMPARE(badge.minimumSizeHint(), QSize(widthFor("FLAC") + 14, metrics.height() + 6));
    }

    void presses_data()
    {
        QTest::addColumn<bool>("checkable");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("key"); // 0 presses the left mouse button, -1 the right one
        QTest::addColumn<bool>("autoRepeat");
        QTest::addColumn<QStringList>("log");
        const QStringList latch{"on", "clicked", "off", "clicked"}, twice{"clicked", "clicked"}, none;
        QTest::newRow("plain, left click") << false << true << 0 << false << twice;
        QTest::newRow("checkable, left click") << true << true << 0 << false << latch;
        QTest::newRow("checkable, space") << true << true << int(Qt::Key_Space) << false << latch;
        QTest::newRow("return") << false << true << int(Qt::Key_Return) << false << twice;
        QTest::newRow("enter") << false << true << int(Qt::Key_Enter) << false << twice;
        QTest::newRow("right click") << true << true << -1 << false << none;
        QTest::newRow("other key") << true << true << int(Qt::Key_A) << false << none;
        QTest::newRow("auto-repeat") << true << true << int(Qt::Key_Space) << true << none;
        QTest::newRow("disabled, click") << true << false << 0 << false << none;
        QTest::newRow("disabled, space") << false << false << int(Qt::Key_Space) << false << none;
    }

    void presses()
    {
        QFETCH(bool, checkable);
        QFETCH(bool, enabled);
        QFETCH(int, key);
        QFETCH(bool, autoRepeat);
        QFETCH(QStringList, log);
        Lamp lamp(QStringLiteral("LINK"));
        lamp.setCheckable(checkable);
        lamp.setEnabledLamp(false);
        lamp.setEnabledLamp(enabled);
        QCOMPARE(lamp.cursor().shape(), enabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
        QStringList seen;
        connect(&lamp, &Lamp::toggled, this, [&](bool on) { seen << (on ? "on" : "off"); });
        connect(&lamp, &Lamp::clicked, this, [&] { seen << "clicked"; });
        for (int i = 0; i < 2; ++i) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
            if (key <= 0)
                QTest::mousePress(&lamp, key == 0 ? Qt::LeftButton : Qt::RightButton);
            else
                QApplication::sendEvent(&lamp, &press);
        }
        QCOMPARE(seen, log);
    }

    void fills_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QColor>("border");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("off") << "" << kTeal << kTeal << withAlpha(kTeal, 22);
        QTest::newRow("off, hovered") << "hovered" << kTeal << kTeal.lighter(130) << withAlpha(kTeal, 46);
        QTest::newRow("on, hovered") << "on hovered" << kTeal << kTeal.lighter(130) << kTeal;
        QTest::newRow("on, orange") << "on" << kOrange << kOrange << kOrange;
        QTest::newRow("disabled, hovered") << "disabled hovered" << kTeal << kDark << withAlpha(kDark, 22);
        QTest::newRow("disabled, on") << "disabled on" << kTeal << kDark << kDark;
        QTest::newRow("badge") << "badge" << kTeal << kTeal << withAlpha(kTeal, 28);
        QTest::newRow("badge, active, orange") << "badge on" << kOrange << kOrange << kOrange;
        QTest::newRow("badge, empty, paints nothing")
            << "badge on empty" << kTeal << QColor(Qt::transparent) << QColor(Qt::transparent);
    }

    void fills()
    {
        QFETCH(QString, state);
        QFETCH(QColor, colour);
        QFETCH(QColor, border);
        QFETCH(QColor, fill);
        Lamp lamp(QStringLiteral("A"));
        Badge badge;
        badge.setText(state.contains("empty") ? QString() : QStringLiteral("MP3"));
        badge.setColour(colour);
        badge.setActive(state.contains("on"));
        QWidget &widget = state.contains("badge") ? static_cast<QWidget &>(badge) : lamp;
        widget.resize(60, 24);
        lamp.setColour(colour);
        lamp.setOn(state.contains("on"));
        lamp.setEnabledLamp(!state.contains("disabled"));
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), lamp.mapToGlobal(QPointF(2, 2)));
        if (state.contains("hovered"))
            QApplication::sendEvent(&lamp, &enter);
        checkBox(widget, border, fill);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&lamp, &leave);
        QVERIFY(!lamp.isHovered());
    }
};

QTEST_MAIN(tst_Lamp)
#include "tst_lamp.moc"
