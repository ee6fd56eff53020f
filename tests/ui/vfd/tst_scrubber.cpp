#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/Scrubber.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace rvw::test;
using rvw::vfd::Scrubber;

namespace {

const QColor kPlayed = expected::teal, kUnplayed = expected::unplayed,
             kBackground = expected::scrubberBackground;

// A waveform bar, as opposed to the background or the playhead.
bool isBar(const QColor &c)
{
    return sameColour(c, kPlayed) || sameColour(c, kUnplayed);
}

// Silence with one full-scale bucket at `spike`, or full scale throughout when spike is -1.
QList<float> peaks(int n, int spike = -1)
{
    QList<float> p(n, spike < 0 ? 1.0f : 0.0f);
    if (spike >= 0)
        p[spike] = 1.0f;
    return p;
}

QList<qint64> seeks(const QSignalSpy &spy)
{
    QList<qint64> values;
    for (const QList<QVariant> &args : spy)
        values << args.at(0).toLongLong();
    return values;
}

} // namespace

class tst_Scrubber : public QObject
{
    Q_OBJECT

private slots:
    void playedUnplayedAndPlayhead()
    {
        Scrubber scrubber;
        scrubber.resize(100, 44); // middle 22, full half-height 20
        QList<float> p = peaks(100);
        p[80] = 0.5f;
        p[90] = 0.0f;
        scrubber.setEnvelope(p, 1000);
        scrubber.setPosition(505); // playhead at x 50.5
        const QImage image = grabImage(scrubber);
        for (const int x : {0, 49, 52, 99}) {
            const QColor c = image.pixelColor(x, 27);
            QVERIFY2(sameColour(c, x < 50 ? kPlayed : kUnplayed),
                     qPrintable(QString::number(x) + describe(c)));
        }
        QVERIFY(isBar(image.pixelColor(70, 2)) && sameColour(image.pixelColor(70, 1), kBackground));
        QVERIFY(isBar(image.pixelColor(80, 12)) && sameColour(image.pixelColor(80, 8), kBackground));
        // Silence still shows a one-pixel trace at the middle.
        QVERIFY(isBar(image.pixelColor(90, 22)) && sameColour(image.pixelColor(90, 18), kBackground));
        for (int x = 0; x < 100; ++x)
            QCOMPARE(sameColour(image.pixelColor(x, 0), expected::orange, 40), x == 50);
        QVERIFY(sameColour(image.pixelColor(50, 43), expected::orange));
    }

    // Which columns show a bar (traced) and which a full-scale one (tall), 100 pixels wide.
    void timeAxis_data()
    {
        QTest::addColumn<int>("buckets");
        QTest::addColumn<int>("spike");
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("bucketMs");
        QTest::addColumn<int>("span");
        QTest::addColumn<int>("firstTall");
        QTest::addColumn<int>("tallColumns");
        QTest::addColumn<int>("traced");
        QTest::newRow("few buckets are widened") << 10 << 3 << 1000 << 0 << 0 << 30 << 10 << 100;
        QTest::newRow("many take the column maximum") << 1000 << 555 << 1000 << 0 << 0 << 55 << 1 << 100;
        QTest::newRow("shorter copy ends early") << 10 << -1 << 1000 << 0 << 2000 << 0 << 50 << 50;
        QTest::newRow("span shorter than the copy") << 10 << -1 << 1000 << 0 << 500 << 0 << 100 << 100;
        QTest::newRow("buckets end before the duration") << 10 << -1 << 1000 << 40 << 0 << 0 << 40 << 40;
        QTest::newRow("buckets outlast the duration") << 10 << -1 << 500 << 100 << 0 << 0 << 100 << 100;
        QTest::newRow("no time known") << 20 << 19 << 0 << 0 << 0 << 95 << 5 << 100;
    }

    void timeAxis()
    {
        QFETCH(int, buckets);
        QFETCH(int, spike);
        QFETCH(int, duration);
        QFETCH(int, bucketMs);
        QFETCH(int, span);
        QFETCH(int, firstTall);
        QFETCH(int, tallColumns);
        QFETCH(int, traced);
        Scrubber scrubber;
        scrubber.resize(100, 40);
        scrubber.setEnvelope(peaks(buckets, spike), duration, bucketMs);
        scrubber.setTimeSpan(span);
        const QImage image = grabImage(scrubber);
        QCOMPARE(sameColour(image.pixelColor(0, 0), expected::orange, 40), duration > 0); // the playhead
        for (int x = 1; x < 100; ++x) {
            QVERIFY2(isBar(image.pixelColor(x, 5)) == (x >= firstTall && x < firstTall + tallColumns),
                     qPrintable(QStringLiteral("column %1").arg(x)));
            QVERIFY2(isBar(image.pixelColor(x, 20)) == (x < traced),
                     qPrintable(QStringLiteral("column %1").arg(x)));
        }
    }

    void emptyShowsTextAndLine()
    {
        Scrubber scrubber;
        scrubber.resize(200, 40);
        const QImage idle = grabImage(scrubber);
        QVERIFY(sameColour(idle.pixelColor(2, 20), expected::ghost) &&
                sameColour(idle.pixelColor(2, 10), kBackground));
        scrubber.setBusy(true);
        QVERIFY(grabImage(scrubber) != idle); // "ANALYSING…" instead of "NO SIGNAL"
        scrubber.setEnvelope(peaks(10), 1000);
        QVERIFY(!scrubber.isBusy());
        scrubber.setBusy(true);
        scrubber.clear();
        QVERIFY(!scrubber.isBusy());
        QCOMPARE(scrubber.duration(), 0);
        QCOMPARE(grabImage(scrubber), idle);
    }

    // Clicks, drags and keys seek within the time axis and never beyond its ends.
    void seeks_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("key"); // 0 clicks at x; -1 moves there with the left button, -2 the right
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("expected"); // -1: no seek
        QTest::newRow("click, left edge") << 10000 << 0 << 0 << 0 << 0;
        QTest::newRow("click, one pixel") << 10000 << 0 << 0 << 1 << 50;
        QTest::newRow("click, truncated") << 10030 << 0 << 0 << 13 << 651;
        QTest::newRow("click, right edge") << 10000 << 0 << 0 << 200 << 10000;
        QTest::newRow("click, beyond the right") << 10000 << 0 << 0 << 350 << 10000;
        QTest::newRow("click, left of the widget") << 10000 << 0 << 0 << -20 << 0;
        QTest::newRow("click, no time known") << 0 << 0 << 0 << 100 << -1;
        QTest::newRow("drag") << 10000 << 0 << -1 << 20 << 1000;
        QTest::newRow("drag, left of the widget") << 10000 << 0 << -1 << -30 << 0;
        QTest::newRow("right-button drag") << 10000 << 0 << -2 << 90 << -1;
        QTest::newRow("left") << 10000 << 7000 << int(Qt::Key_Left) << 0 << 2000;
        QTest::newRow("left, clamped") << 10000 << 3000 << int(Qt::Key_Left) << 0 << 0;
        QTest::newRow("right") << 10000 << 3000 << int(Qt::Key_Right) << 0 << 8000;
        QTest::newRow("right, clamped") << 10000 << 8000 << int(Qt::Key_Right) << 0 << 10000;
        QTest::newRow("home") << 10000 << 3000 << int(Qt::Key_Home) << 0 << 0;
        QTest::newRow("end") << 10000 << 3000 << int(Qt::Key_End) << 0 << 10000;
        QTest::newRow("end, no time known") << 0 << 0 << int(Qt::Key_End) << 0 << -1;
        QTest::newRow("other key") << 10000 << 3000 << int(Qt::Key_Up) << 0 << -1;
    }

    void seeks()
    {
        QFETCH(int, duration);
        QFETCH(int, position);
        QFETCH(int, key);
        QFETCH(int, x);
        QFETCH(int, expected);
        Scrubber scrubber;
        scrubber.resize(200, 30);
        scrubber.setEnvelope(peaks(10), duration);
        scrubber.setPosition(position);
        QSignalSpy spy(&scrubber, &Scrubber::seekRequested);
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), scrubber.mapToGlobal(QPointF(x, 10)),
                         Qt::NoButton, key == -1 ? Qt::LeftButton : Qt::RightButton, Qt::NoModifier);
        if (key > 0)
            QTest::keyClick(&scrubber, Qt::Key(key));
        else if (key == 0)
            QTest::mousePress(&scrubber, Qt::LeftButton, {}, QPoint(x, 10));
        else
            QApplication::sendEvent(&scrubber, &move);
        QCOMPARE(::seeks(spy), expected < 0 ? QList<qint64>() : QList<qint64>{expected});
    }
};

QTEST_MAIN(tst_Scrubber)
#include "tst_scrubber.moc"
