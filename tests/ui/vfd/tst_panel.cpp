#include "ui/vfd/Panel.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/SevenSegment.h"

#include <QFontMetrics>
#include <QTest>

using rvw::vfd::ElidingLabel;

class tst_Panel : public QObject
{
    Q_OBJECT

private slots:
    // A narrow label shows its text shortened in the middle (drawn as that shortened text
    // would be), and the whole text in its tool tip.
    void elidesInTheMiddle()
    {
        const QString text = QStringLiteral("BEGINNING-of-a-rather-long-file-name-ENDING.flac");
        ElidingLabel narrow, reference, wide;
        narrow.setText(QStringLiteral("first"));
        narrow.setText(text);
        reference.setText(QFontMetrics(rvw::vfd::legendFont(9, true)).elidedText(text, Qt::ElideMiddle, 120));
        wide.setText(text);
        QVERIFY(narrow.text() == text && narrow.toolTip() == text);
        narrow.resize(120, 20);
        reference.resize(120, 20);
        wide.resize(1000, 20);
        const QImage shown = rvw::test::render(narrow);
        QCOMPARE(shown, rvw::test::render(reference));
        QVERIFY(rvw::test::render(wide).copy(0, 0, 120, 20) != shown);
    }
};

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
