#include "ui/vfd/Palette.h"
#include "ui/vfd/RenderHelpers.h"
#include "ui/vfd/Scrubber.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using rvw::vfd::Scrubber;
namespace colour = rvw::vfd::colour;

namespace {

// Row y as runs of columns: '|' playhead, '#' played bar, '+' bar not yet played, '.' none.
QString runs(const QImage &image, int y)
{
    const QList<QRgb> kinds{colour::playhead().rgb(), colour::teal().rgb(), colour::unplayed().rgb()};
    QString row, out;
    for (int x = 0; x < image.width(); ++x) {
        const qsizetype kind = kinds.indexOf(image.pixel(x, y));
        row += kind < 0 ? QChar('.') : QChar("|#+"[kind]);
    }
    for (qsizetype i = 0, n = 1; i < row.size(); i += n) {
        for (n = 1; i + n < row.size() && row.at(i + n) == row.at(i);)
            ++n;
        out += (n > 1 ? QString::number(n) : QString()) + row.at(i);
    }
    return out;
}

} // namespace

class tst_Scrubber : public QObject
{
    Q_OBJECT

private slots:
    // 100 pixels wide: which columns show a full-scale bar (top) and which any bar (middle).
    void timeAxis_data()
    {
        // setup: buckets, the one loud bucket (-1: all), duration, bucketMs, span, position
        QTest::addColumn<QList<int>>("setup");
        QTest::addColumn<QString>("rows");
        QTest::newRow("few buckets are widened") << QList<int>{10, 3, 1000, 0, 0, 0} << "|29.10+60. |99+";
        QTest::newRow("many buckets per column") << QList<int>{1000, 555, 1000, 0, 0, 0} << "|54.+44. |99+";
        QTest::newRow("shorter copy ends early") << QList<int>{10, -1, 1000, 0, 2000, 0} << "|49+50. |49+50.";
        QTest::newRow("span shorter than the copy") << QList<int>{10, -1, 1000, 0, 500, 0} << "|99+ |99+";
        QTest::newRow("buckets end first") << QList<int>{10, -1, 1000, 40, 0, 0} << "|39+60. |39+60.";
        QTest::newRow("buckets outlast the duration") << QList<int>{10, -1, 500, 100, 0, 0} << "|99+ |99+";
        QTest::newRow("no time known") << QList<int>{20, 19, 0, 0, 0, 0} << "95.5+ #99+";
        QTest::newRow("played up to the head") << QList<int>{100, -1, 1000, 0, 0, 505} << "50#|49+ 50#|49+";
    }

    void timeAxis()
    {
        QFETCH(QList<int>, setup);
        QFETCH(QString, rows);
        Scrubber scrubber;
        scrubber.resize(100, 40);
        QList<float> peaks(setup[0], setup[1] < 0 ? 1.0f : 0.0f);
        if (setup[1] >= 0)
            peaks[setup[1]] = 1.0f;
        scrubber.setEnvelope(peaks, setup[2], setup[3]);
        scrubber.setTimeSpan(setup[4]);
        scrubber.setPosition(setup[5]);
        const QImage image = rvw::test::render(scrubber);
        QCOMPARE(runs(image, 5) + " " + runs(image, 20), rows);
    }

    // Clicks, drags and keys seek within the time axis and never beyond its ends; "-": no seek.
    void seeks()
    {
        // key 0 clicks at x; -1 moves there with the left button held, -2 with the right one
        const auto seek = [](int duration, int position, int key, int x = 0) {
            Scrubber scrubber;
            scrubber.resize(200, 30);
            scrubber.setEnvelope(QList<float>(10, 1.0f), duration);
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
            QStringList values;
            for (const QVariantList &args : spy)
                values << args.at(0).toString();
            return values.isEmpty() ? QStringLiteral("-") : values.join(',');
        };
        const QStringList clicks{seek(10000, 0, 0, 0),   seek(10000, 0, 0, 1),   seek(10030, 0, 0, 13),
                                 seek(10000, 0, 0, 200), seek(10000, 0, 0, 350), seek(10000, 0, 0, -20),
                                 seek(0, 0, 0, 100),     seek(10000, 0, -1, 20), seek(10000, 0, -1, -30),
                                 seek(10000, 0, -2, 90)};
        QCOMPARE(clicks.join(' '), "0 50 651 10000 10000 0 - 1000 0 -");
        const QStringList keys{seek(10000, 7000, Qt::Key_Left),  seek(10000, 3000, Qt::Key_Left),
                               seek(10000, 3000, Qt::Key_Right), seek(10000, 8000, Qt::Key_Right),
                               seek(10000, 3000, Qt::Key_Home),  seek(10000, 3000, Qt::Key_End),
                               seek(0, 0, Qt::Key_End),          seek(10000, 3000, Qt::Key_Up)};
        QCOMPARE(keys.join(' '), "2000 0 8000 10000 0 10000 - -");
    }

    // A dotted ring shows the keyboard focus; a busy state reaches the screen, and clearing
    // ends it and forgets the file.
    void focusRingAndBusy()
    {
        rvw::test::PaintCounter<Scrubber> scrubber;
        scrubber.resize(200, 30);
        scrubber.show();
        QVERIFY(QTest::qWaitForWindowActive(&scrubber));
        scrubber.clearFocus();
        QCOMPARE(runs(scrubber.grab().toImage(), 2), "200.");
        scrubber.setFocus();
        QTRY_VERIFY(scrubber.hasFocus());
        QVERIFY(runs(scrubber.grab().toImage(), 2).count('|') > 40);
        QCoreApplication::processEvents(); // no repaint left waiting
        const int paints = scrubber.paints;
        scrubber.setBusy(true);
        QTRY_VERIFY(scrubber.paints > paints);
        scrubber.setEnvelope(QList<float>(10, 1.0f), 1000);
        QVERIFY(!scrubber.isBusy());
        scrubber.setBusy(true);
        scrubber.clear();
        QVERIFY(!scrubber.isBusy() && scrubber.duration() == 0 && scrubber.waveform().isEmpty());
    }
};

QTEST_MAIN(tst_Scrubber)
#include "tst_scrubber.moc"
