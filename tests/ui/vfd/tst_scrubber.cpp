#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/Scrubber.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using rvw::test::describe;
using rvw::test::grabImage;
using rvw::test::sameColour;
using rvw::vfd::Scrubber;

namespace {

const QColor kPlayed = rvw::test::expected::teal;
const QColor kUnplayed = rvw::test::expected::unplayed;
const QColor kBackground = rvw::test::expected::scrubberBackground;
const QColor kPlayhead = rvw::test::expected::orange;
const QColor kGhostLine = rvw::test::expected::ghost;

// A waveform bar, as opposed to the background or the playhead.
bool isBar(const QColor &c)
{
    return sameColour(c, kPlayed) || sameColour(c, kUnplayed);
}

QList<float> flat(int n, float value)
{
    return QList<float>(n, value);
}

void sendMove(QWidget &widget, const QPoint &pos, Qt::MouseButtons buttons)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(pos), widget.mapToGlobal(QPointF(pos)), Qt::NoButton, buttons,
                     Qt::NoModifier);
    QApplication::sendEvent(&widget, &move);
}

} // namespace

class tst_Scrubber : public QObject
{
    Q_OBJECT

private slots:
    void defaults()
    {
        Scrubber scrubber;
        QCOMPARE(scrubber.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!scrubber.hasMouseTracking());
        QCOMPARE(scrubber.duration(), 0);
        QVERIFY(!scrubber.isBusy());
    }

    void playedAndUnplayedColumns()
    {
        Scrubber scrubber;
        scrubber.resize(100, 40);
        scrubber.setEnvelope(flat(100, 1.0f), 1000);
        scrubber.setPosition(505); // play x 50.5
        const QImage image = grabImage(scrubber);
        const int mid = 20;
        for (const int x : {0, 10, 49}) {
            QVERIFY2(sameColour(image.pixelColor(x, mid + 5), kPlayed),
                     qPrintable(
                         QStringLiteral("column %1: %2").arg(x).arg(describe(image.pixelColor(x, mid + 5)))));
        }
        for (const int x : {52, 70, 99}) {
            QVERIFY2(sameColour(image.pixelColor(x, mid + 5), kUnplayed),
                     qPrintable(
                         QStringLiteral("column %1: %2").arg(x).arg(describe(image.pixelColor(x, mid + 5)))));
        }
        // Full-scale bars reach two pixels from the edges.
        QVERIFY(sameColour(image.pixelColor(70, 3), kUnplayed));
        QVERIFY(sameColour(image.pixelColor(70, 0), kBackground));

        // The playhead runs through the whole height.
        int playheadColumns = 0;
        for (int x = 0; x < 100; ++x) {
            if (sameColour(image.pixelColor(x, 0), kPlayhead, 40))
                ++playheadColumns;
        }
        QCOMPARE(playheadColumns, 1);
        QVERIFY(sameColour(image.pixelColor(50, 0), kPlayhead));
        QVERIFY(sameColour(image.pixelColor(50, 39), kPlayhead));
    }

    void barHeightFollowsPeak()
    {
        Scrubber scrubber;
        scrubber.resize(50, 44); // mid 22, full half-height 20
        QList<float> peaks = flat(50, 0.0f);
        peaks[10] = 0.5f; // half-height 10
        scrubber.setEnvelope(peaks, 1000);
        const QImage image = grabImage(scrubber);
        QVERIFY(sameColour(image.pixelColor(10, 14), kPlayed) ||
                sameColour(image.pixelColor(10, 14), kUnplayed));
        QVERIFY(sameColour(image.pixelColor(10, 8), kBackground));
        // A silent bucket still shows a 1-pixel trace at the middle.
        QVERIFY(isBar(image.pixelColor(30, 22)));
        QVERIFY(sameColour(image.pixelColor(30, 18), kBackground));
    }

    void shortWaveformIsWidened()
    {
        Scrubber scrubber;
        scrubber.resize(100, 40);
        QList<float> peaks = flat(10, 0.0f);
        peaks[3] = 1.0f;
        scrubber.setEnvelope(peaks, 1000);
        const QImage image = grabImage(scrubber);
        for (int x = 0; x < 100; ++x) {
            const bool tall = isBar(image.pixelColor(x, 5));
            QVERIFY2(tall == (x >= 30 && x < 40), qPrintable(QStringLiteral("column %1").arg(x)));
        }
    }

    void longWaveformTakesColumnMaximum()
    {
        Scrubber scrubber;
        scrubber.resize(10, 40);
        QList<float> peaks = flat(1000, 0.0f);
        peaks[555] = 1.0f; // column 5 covers buckets 500..599
        scrubber.setEnvelope(peaks, 1000);
        const QImage image = grabImage(scrubber);
        for (int x = 0; x < 10; ++x)
            QCOMPARE(isBar(image.pixelColor(x, 5)), x == 5);
    }

    void zeroDurationShowsNoPlayhead()
    {
        Scrubber scrubber;
        scrubber.resize(60, 30);
        scrubber.setEnvelope(flat(60, 1.0f), 0);
        scrubber.setPosition(500);
        const QImage image = grabImage(scrubber);
        QVERIFY(sameColour(image.pixelColor(0, 15), kPlayed));
        for (int x = 1; x < 60; ++x)
            QVERIFY(sameColour(image.pixelColor(x, 15), kUnplayed));
        for (int x = 0; x < 60; ++x)
            QVERIFY(sameColour(image.pixelColor(x, 0), kBackground));

        QSignalSpy seeks(&scrubber, &Scrubber::seekRequested);
        QTest::mousePress(&scrubber, Qt::LeftButton, {}, QPoint(30, 10));
        QCOMPARE(seeks.count(), 0);
    }

    void emptyShowsTextAndLine()
    {
        Scrubber scrubber;
        scrubber.resize(200, 40);
        const QImage idle = grabImage(scrubber);
        QVERIFY(sameColour(idle.pixelColor(2, 20), kGhostLine));
        QVERIFY(sameColour(idle.pixelColor(2, 10), kBackground));
        QVERIFY(sameColour(idle.pixelColor(197, 20), kGhostLine));

        scrubber.setBusy(true);
        QVERIFY(scrubber.isBusy());
        const QImage busy = grabImage(scrubber);
        QVERIFY(busy != idle); // "ANALYSING…" instead of "NO SIGNAL"

        scrubber.setEnvelope(flat(10, 0.5f), 1000);
        QVERIFY(!scrubber.isBusy());
        scrubber.setBusy(true);
        scrubber.clear();
        QVERIFY(!scrubber.isBusy());
        QVERIFY(scrubber.waveform().isEmpty());
        QCOMPARE(scrubber.duration(), 0);
        QCOMPARE(grabImage(scrubber), idle);
    }

    void seekValues_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("left edge") << 0 << qint64(0);
        QTest::newRow("one pixel") << 1 << qint64(50);
        QTest::newRow("middle") << 100 << qint64(5000);
        QTest::newRow("truncated") << 3 << qint64(150);
        QTest::newRow("right edge") << 200 << qint64(10000);
        QTest::newRow("beyond the right") << 350 << qint64(10000);
        QTest::newRow("left of the widget") << -20 << qint64(0);
    }

    void seekValues()
    {
        QFETCH(int, x);
        QFETCH(qint64, expected);
        Scrubber scrubber;
        scrubber.resize(200, 30);
        scrubber.setEnvelope(flat(10, 0.5f), 10000);
        QSignalSpy seeks(&scrubber, &Scrubber::seekRequested);
        scrubber.emitSeek(x);
        QCOMPARE(seeks.count(), 1);
        QCOMPARE(seeks.at(0).at(0).toLongLong(), expected);
    }

    void truncatesTowardsZero()
    {
        Scrubber scrubber;
        scrubber.resize(3, 30);
        scrubber.setEnvelope(flat(3, 0.5f), 1000);
        QSignalSpy seeks(&scrubber, &Scrubber::seekRequested);
        scrubber.emitSeek(1); // 333.33
        scrubber.emitSeek(2); // 666.67
        QCOMPARE(seeks.at(0).at(0).toLongLong(), 333);
        QCOMPARE(seeks.at(1).at(0).toLongLong(), 666);
    }

    void mouseSeeks()
    {
        Scrubber scrubber;
        scrubber.resize(200, 30);
        scrubber.setEnvelope(flat(10, 0.5f), 10000);
        QSignalSpy seeks(&scrubber, &Scrubber::seekRequested);

        QTest::mousePress(&scrubber, Qt::LeftButton, {}, QPoint(50, 10));
        QTest::mouseRelease(&scrubber, Qt::LeftButton, {}, QPoint(50, 10));
        QTest::mousePress(&scrubber, Qt::RightButton, {}, QPoint(150, 10));
        QTest::mouseRelease(&scrubber, Qt::RightButton, {}, QPoint(150, 10));
        sendMove(scrubber, QPoint(20, 10), Qt::LeftButton); // dragging
        sendMove(scrubber, QPoint(-30, 10), Qt::LeftButton);
        sendMove(scrubber, QPoint(90, 10), Qt::NoButton);    // not dragging
        sendMove(scrubber, QPoint(90, 10), Qt::RightButton); // only the left button scrubs

        QList<qint64> values;
        for (const QList<QVariant> &args : seeks)
            values << args.at(0).toLongLong();
        QCOMPARE(values, (QList<qint64>{2500, 7500, 1000, 0}));
    }
};

QTEST_MAIN(tst_Scrubber)
#include "tst_scrubber.moc"
