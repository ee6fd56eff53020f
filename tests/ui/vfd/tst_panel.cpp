#include "ui/vfd/Panel.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontMetrics>
#include <QTest>

using rvw::test::describe;
using rvw::test::renderTransparent;
using rvw::test::sameColour;
using rvw::vfd::ElidingLabel;
using rvw::vfd::Panel;

class tst_Panel : public QObject
{
    Q_OBJECT

private slots:
    void panelPaint()
    {
        Panel panel;
        QVERIFY(!panel.autoFillBackground());
        panel.resize(80, 40);
        const QImage image = renderTransparent(panel);
        QVERIFY2(sameColour(image.pixelColor(40, 20), QColor(0x04, 0x10, 0x0e)),
                 qPrintable(describe(image.pixelColor(40, 20))));
        QVERIFY2(sameColour(image.pixelColor(0, 20), QColor(0x12, 0x3a, 0x34)),
                 qPrintable(describe(image.pixelColor(0, 20))));
        QVERIFY(sameColour(image.pixelColor(40, 39), QColor(0x12, 0x3a, 0x34)));
        // Rounded corners leave the very corner pixel mostly clear.
        QVERIFY(image.pixelColor(0, 0).alpha() < 128);
    }

    void labelSizeHints()
    {
        ElidingLabel label;
        QCOMPARE(label.pointSize(), 9);
        QCOMPARE(label.sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
        QCOMPARE(label.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        const QString text = QStringLiteral("Some Artist - Some Title.flac");
        label.setText(text);
        const QFontMetrics nine(rvw::vfd::legendFont(9, true));
        QCOMPARE(label.sizeHint(), QSize(nine.horizontalAdvance(text), nine.height() + 2));
        QCOMPARE(label.minimumSizeHint(), QSize(40, nine.height() + 2));
        label.setPointSize(14);
        const QFontMetrics fourteen(rvw::vfd::legendFont(14, true));
        QCOMPARE(label.sizeHint(), QSize(fourteen.horizontalAdvance(text), fourteen.height() + 2));
        QVERIFY(label.sizeHint().width() > nine.horizontalAdvance(text));
    }

    void toolTipHoldsWholeText()
    {
        ElidingLabel label;
        const QString text = QStringLiteral("A rather long file name that will not fit.mp3");
        label.setText(text);
        QCOMPARE(label.text(), text);
        QCOMPARE(label.toolTip(), text);
    }

    // A narrow label shows what it would show for its middle-elided text: start and end kept.
    void elidesInTheMiddle()
    {
        const QString text = QStringLiteral("BEGINNING-of-a-rather-long-file-name-ENDING.flac");
        ElidingLabel narrow;
        narrow.setText(text);
        narrow.resize(120, 20);

        const QFontMetrics metrics(rvw::vfd::legendFont(9, true));
        const QString shortened = metrics.elidedText(text, Qt::ElideMiddle, 120);
        QVERIFY(shortened.contains(QChar(0x2026)));
        QVERIFY(shortened.startsWith(QLatin1Char('B')));
        QVERIFY(shortened.endsWith(QStringLiteral("flac")));

        ElidingLabel reference;
        reference.setText(shortened);
        reference.resize(120, 20);
        const QImage shown = renderTransparent(narrow);
        QCOMPARE(shown, renderTransparent(reference));

        ElidingLabel wide;
        wide.setText(text);
        wide.resize(metrics.horizontalAdvance(text) + 10, 20);
        const QImage full = renderTransparent(wide);
        QVERIFY(full.copy(0, 0, 120, 20) != shown);
    }

    void labelColour()
    {
        ElidingLabel label;
        label.setColour(QColor(0xe0, 0x8a, 0x2b));
        label.setPointSize(20);
        label.setText(QStringLiteral("\u2588\u2588\u2588"));
        label.resize(label.sizeHint());
        const QImage image = renderTransparent(label);
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y)
            for (int x = 0; x < image.width() && !found; ++x)
                found = sameColour(image.pixelColor(x, y), QColor(0xe0, 0x8a, 0x2b));
        QVERIFY(found);
    }
};

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
