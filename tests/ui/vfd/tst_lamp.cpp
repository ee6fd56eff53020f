#include "ui/vfd/Lamp.h"
#include "ui/vfd/RenderHelpers.h"

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QTest>

using namespace rvw::vfd;

class tst_Lamp : public QObject
{
    Q_OBJECT

private slots:
    // Each action done twice; 0 presses the left mouse button, -1 the right one.
    void presses()
    {
        const auto twice = [this](bool checkable, bool enabled, int key, bool autoRepeat = false) {
            Lamp lamp(QStringLiteral("LINK"));
            lamp.setCheckable(checkable);
            lamp.setEnabledLamp(false);
            lamp.setEnabledLamp(enabled);
            QStringList seen{lamp.cursor().shape() == Qt::PointingHandCursor ? "hand:" : "arrow:"};
            connect(&lamp, &Lamp::toggled, this, [&](bool on) { seen << (on ? "on" : "off"); });
            connect(&lamp, &Lamp::clicked, this, [&] { seen << "clicked"; });
            for (int i = 0; i < 2; ++i) {
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
                if (key <= 0)
                    QTest::mousePress(&lamp, key == 0 ? Qt::LeftButton : Qt::RightButton);
                else
                    QApplication::sendEvent(&lamp, &press);
            }
            return seen.join(' ');
        };
        const QStringList seen = QStringList()
                                 << twice(false, true, 0) << twice(true, true, 0)
                                 << twice(true, true, Qt::Key_Space) << twice(false, true, Qt::Key_Return)
                                 << twice(false, true, Qt::Key_Enter) << twice(true, true, -1)
                                 << twice(true, true, Qt::Key_A) << twice(true, true, Qt::Key_Space, true)
                                 << twice(true, false, 0) << twice(false, false, Qt::Key_Space);
        QCOMPARE(seen.join(" | "),
                 "hand: clicked clicked | hand: on clicked off clicked | hand: on clicked off clicked"
                 " | hand: clicked clicked | hand: clicked clicked | hand: | hand: | hand: | arrow:"
                 " | arrow:");
    }

    // Fill opacity by state: hovering brightens at once, but not while disabled; a badge shows
    // only with a text.
    void fills()
    {
        rvw::test::PaintCounter<Lamp> lamp(QStringLiteral("A"));
        Badge badge;
        lamp.resize(60, 24);
        badge.resize(60, 24);
        const auto fill = [](QWidget &w) { return rvw::test::render(w).pixelColor(3, 12); };
        QStringList alphas{QString::number(fill(lamp).alpha())};
        lamp.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lamp));
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), lamp.mapToGlobal(QPointF(2, 2)));
        QCoreApplication::processEvents(); // no repaint left waiting
        const int paints = lamp.paints;
        QApplication::sendEvent(&lamp, &enter);
        QTRY_VERIFY(lamp.paints > paints);
        alphas << QString::number(fill(lamp).alpha());
        lamp.setEnabledLamp(false); // no highlight while disabled
        alphas << QString::number(fill(lamp).alpha());
        alphas << QString::number(fill(badge).alpha());
        badge.setText(QStringLiteral("MP3"));
        alphas << QString::number(fill(badge).alpha());
        badge.setActive(true);
        alphas << QString::number(fill(badge).alpha());
        QCOMPARE(alphas.join(' '), "22 46 22 0 28 255");
    }
};

QTEST_MAIN(tst_Lamp)
#include "tst_lamp.moc"
