#include "ui/vfd/Panel.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontMetrics>
#include <QTest>

using namespace rvw::test;
using rvw::vfd::ElidingLabel;
using rvw::vfd::Panel;

class tst_Panel : public QObject
{
    Q_OBJECT

private slots:
    void panelPaintsFrameAndFill()
    {
        Panel panel;
        panel.resize(80, 40);
        const QImage image = renderTransparent(panel);
        QCOMPARE(image.pixelColor(40, 20).alpha(), 255);
        QVERIFY(image.pixelColor(0, 20) != image.pixelColor(40, 20));
    }

    // The label asks for its whole text at its point size, shrinks to 40 pixels, and keeps the
    // whole text in its tooltip.
    void labelSizeHints()
    {
        ElidingLabel label;
        const QString text = QStringLiteral("Some Artist - Some Title.flac");
        label.setText(text);
        label.setPointSize(14);
        const QFontMetrics metrics(rvw::vfd::legendFont(14, true));
        QCOMPARE(label.sizeHint(), QSize(metrics.horizontalAdvance(text), metrics.height() + 2));
        QCOMPARE(label.minimumSizeHint(), QSize(40, metrics.height() + 2));
        QCOMPARE(label.toolTip(), text);
    }

    // A narrow label shows what it would show for its middle-elided text: start and end kept.
    void elidesInTheMiddle()
    {
        const QString text = QStringLiteral("BEGINNING-of-a-rather-long-file-name-ENDING.flac");
        const QString shortened =
            QFontMetrics(rvw::vfd::legendFont(9, true)).elidedText(text, Qt::ElideMiddle, 120);
        QVERIFY(shortened.startsWith(QLatin1Char('B')) && shortened.contains(QChar(0x2026)) &&
                shortened.endsWith(QStringLiteral("flac")));
        ElidingLabel narrow, reference, wide;
        narrow.setText(text);
        reference.setText(shortened);
        wide.setText(text);
        narrow.resize(120, 20);
        reference.resize(120, 20);
        wide.resize(1000, 20);
        const QImage shown = renderTransparent(narrow);
        QCOMPARE(shown, renderTransparent(reference));
        QVERIFY(renderTransparent(wide).copy(0, 0, 120, 20) != shown);
    }

    void labelColour()
    {
        ElidingLabel label;
        label.setColour(expected::orange);
        label.setPointSize(20);
        label.setText(QStringLiteral("\u2588\u2588\u2588"));
        label.resize(label.sizeHint());
        const QImage image = renderTransparent(label);
        QVERIFY(sameColour(image.pixelColor(image.width() / 2, image.height() / 2), expected::orange));
    }
};

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
