#include "app/AppInfo.h"
#include "app/Translations.h"
#include "audio/Chromaprint.h"
#include "scan/CacheDatabase.h"
#include "ui/Mnemonics.h"
#include "ui/SettingsDialog.h"
#include "ui/SettingsKeys.h"
#include "update/UpdateChecker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QThread>

using namespace rvw;

namespace {

template <typename T> T *child(QWidget &parent, const char *name)
{
    T *w = parent.findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qWarning("no child %s", name);
    return w;
}

// Every stored option set away from its default.
ScanOptions unusualOptions()
{
    ScanOptions o;
    o.extensions = {"flac", "mp3"};
    o.excludes = {"*/Jingles/*"};
    o.followSymlinks = true;
    o.includeHidden = true;
    o.minBytes = 123456;
    o.minDurationMs = 12345;
    o.detectIdentical = false;
    o.detectSameAudio = false;
    o.detectAcoustic = false;
    o.detectMetadata = true;
    o.fingerprintSeconds = 90;
    o.threshold = 0.31;
    o.chromaprintThreshold = 0.2;
    o.durationTolerance = 9;
    o.decoderThreads = 13;
    o.metadataTolerance = 7000;
    o.useCache = false;
    o.keeperPolicy = MostCompleteTags;
    return o;
}

void compareStored(const ScanOptions &a, const ScanOptions &b)
{
    QCOMPARE(a.extensions, b.extensions);
    QCOMPARE(a.excludes, b.excludes);
    QCOMPARE(a.followSymlinks, b.followSymlinks);
    QCOMPARE(a.includeHidden, b.includeHidden);
    QCOMPARE(a.minBytes, b.minBytes);
    QCOMPARE(a.minDurationMs, b.minDurationMs);
    QCOMPARE(a.detectIdentical, b.detectIdentical);
    QCOMPARE(a.detectSameAudio, b.detectSameAudio);
    QCOMPARE(a.detectAcoustic, b.detectAcoustic);
    QCOMPARE(a.detectMetadata, b.detectMetadata);
    QCOMPARE(a.fingerprintSeconds, b.fingerprintSeconds);
    QCOMPARE(a.threshold, b.threshold);
    QCOMPARE(a.chromaprintThreshold, b.chromaprintThreshold);
    QCOMPARE(a.durationTolerance, b.durationTolerance);
    QCOMPARE(a.decoderThreads, b.decoderThreads);
    QCOMPARE(a.metadataTolerance, b.metadataTolerance);
    QCOMPARE(a.useCache, b.useCache);
    QCOMPARE(a.keeperPolicy, b.keeperPolicy);
}

} // namespace

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_settingsdialog"));
        rvw::Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void init() { QSettings().clear(); }

    void defaultThreadCount_data()
    {
        QTest::addColumn<int>("ideal");
        QTest::addColumn<int>("expected");
        QTest::newRow("1 thread") << 1 << 2;
        QTest::newRow("4 threads") << 4 << 2;
        QTest::newRow("5 threads") << 5 << 2;
        QTest::newRow("6 threads") << 6 << 3;
        QTest::newRow("7 threads") << 7 << 3;
        QTest::newRow("12 threads") << 12 << 6;
        QTest::newRow("16 threads") << 16 << 8;
        QTest::newRow("64 threads") << 64 << 8;
    }
    void defaultThreadCount()
    {
        QFETCH(int, ideal);
        QFETCH(int, expected);
        QCOMPARE(SettingsKeys::defaultDecoderThreads(ideal), expected);
    }

    void firstStartGivesDefaults()
    {
        const QSettings empty;
        const ScanOptions read = SettingsKeys::readScanOptions(empty);
        ScanOptions expected;
        expected.decoderThreads = SettingsKeys::defaultDecoderThreads(QThread::idealThreadCount());
        compareStored(read, expected);
        QCOMPARE(read.engine, 1);
        QCOMPARE(read.preferredFormats, ScanOptions().preferredFormats);
    }

    void everyKeyRoundTrips()
    {
        const ScanOptions written = unusualOptions();
        {
            QSettings s;
            SettingsKeys::writeScanOptions(s, written);
        }
        const QSettings s;
        const QStringList keys{"detect/identical",         "detect/sameAudio",
                               "detect/acoustic",          "detect/metadata",
                               "detect/threshold",         "detect/chromaprintThreshold",
                               "detect/durationTolerance", "detect/metadataTolerance",
                               "detect/keeperPolicy",      "files/extensions",
                               "files/excludes",           "files/minBytes",
                               "files/minDurationMs",      "files/hidden",
                               "files/symlinks",           "perf/decoderThreads",
                               "perf/fingerprintSeconds",  "perf/useCache"};
        for (const QString &key : keys)
            QVERIFY2(s.contains(key), qPrintable(key));
        QVERIFY(!s.contains("scan/folders"));
        QVERIFY(!s.contains("updates/url"));
        compareStored(SettingsKeys::readScanOptions(s), written);
    }

    void readKeepsUnstoredFieldsOfBase()
    {
        ScanOptions base;
        base.folders = {"/srv/music"};
        base.engine = 0;
        base.preferredFormats = {"mp3"};
        const ScanOptions read = SettingsKeys::readScanOptions(QSettings(), base);
        QCOMPARE(read.folders, base.folders);
        QCOMPARE(read.engine, 0);
        QCOMPARE(read.preferredFormats, base.preferredFormats);
    }

    void extensionParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("plain") << "mp3, flac" << QStringList{"mp3", "flac"};
        QTest::newRow("capitals, dots, spaces") << " .Flac ,MP3 , .ogg." << QStringList{"flac", "mp3", "ogg"};
        QTest::newRow("empty parts") << "mp3,,wav," << QStringList{"mp3", "wav"};
        QTest::newRow("blank part") << "mp3, ,wav" << QStringList{"mp3", "wav"};
        QTest::newRow("nothing") << "" << QStringList{};
    }
    void extensionParsing()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(SettingsDialog::parseExtensions(text), expected);
    }

    void exclusionParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two") << "*/a/*; */b/*" << QStringList{"*/a/*", "*/b/*"};
        QTest::newRow("trailing semicolon") << "*/a/*;" << QStringList{"*/a/*"};
        QTest::newRow("spaces kept inside") << " */My Jingles/* ;" << QStringList{"*/My Jingles/*"};
        QTest::newRow("nothing") << ";;" << QStringList{};
    }
    void exclusionParsing()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(SettingsDialog::parseExcludes(text), expected);
    }

    void okTruncatesToWholeUnits()
    {
        ScanOptions in;
        in.folders = {"/srv/music"};
        in.engine = 0;
        in.chromaprintThreshold = 0.17;
        in.minBytes = 50000;         // 48.8 KB
        in.minDurationMs = 7500;     // 7.5 s
        in.metadataTolerance = 2500; // 2.5 s
        SettingsDialog dialog(in);
        const ScanOptions out = dialog.options();
        QCOMPARE(out.minBytes, qint64(48 * 1024));
        QCOMPARE(out.minDurationMs, qint64(7000));
        QCOMPARE(out.metadataTolerance, 2000);
        QCOMPARE(out.folders, in.folders);
        QCOMPARE(out.engine, 0);
        QCOMPARE(out.chromaprintThreshold, 0.17);
        QCOMPARE(out.extensions, in.extensions);
        QCOMPARE(out.excludes, in.excludes);
    }

    void controlsShowAndReturnEveryOption()
    {
        const ScanOptions in = unusualOptions();
        SettingsDialog dialog(in);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Ravelwick Settings"));
        auto *tabs = child<QTabWidget>(dialog, "settingsTabs");
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 4);
        // Each page's keys, the tab titles and the dialog's buttons are reached with Alt.
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QStringList reach = rvwtest::keyboardTexts(tabs->widget(i));
            for (int t = 0; t < tabs->count(); ++t)
                reach << tabs->tabText(t);
            for (QDialogButtonBox *box : dialog.findChildren<QDialogButtonBox *>())
                reach << rvwtest::keyboardTexts(box);
            QCOMPARE(rvwtest::mnemonicProblems(reach), QStringList());
        }
        QCOMPARE(child<QLineEdit>(dialog, "extensions")->text(), QStringLiteral("flac, mp3"));
        QCOMPARE(child<QSpinBox>(dialog, "minKb")->value(), 120);
        QCOMPARE(child<QSpinBox>(dialog, "metadataTolerance")->value(), 7);
        auto *policy = child<QComboBox>(dialog, "keeperPolicy");
        QCOMPARE(policy->count(), 8);
        QCOMPARE(policy->currentText(), QStringLiteral("Most complete tags"));
        QCOMPARE(policy->itemData(5).toInt(), int(OldestFile));
        QCOMPARE(policy->itemText(5), QStringLiteral("Oldest file"));

        ScanOptions expected = in;
        expected.minBytes = 120 * 1024;
        expected.minDurationMs = 12000;
        compareStored(dialog.options(), expected);

        // Edit a few controls and read them back.
        child<QCheckBox>(dialog, "detectIdentical")->setChecked(true);
        child<QDoubleSpinBox>(dialog, "threshold")->setValue(0.5); // beyond the range
        child<QSpinBox>(dialog, "decoderThreads")->setValue(40);   // beyond the range
        policy->setCurrentIndex(3);
        child<QLineEdit>(dialog, "extensions")->setText(".WAV, Aiff");
        const ScanOptions edited = dialog.options();
        QVERIFY(edited.detectIdentical);
        QCOMPARE(edited.threshold, 0.40);
        QCOMPARE(edited.decoderThreads, 16);
        QCOMPARE(edited.keeperPolicy, int(PreferredFormat));
        QCOMPARE(edited.extensions, QStringList({"wav", "aiff"}));
    }

    // Only the threshold the scan will compare against is offered, and an edit of it is returned.
    void thresholdOfEngineInUse_data()
    {
        QTest::addColumn<int>("engine");
        QTest::newRow("fpcalc") << 1;
        QTest::newRow("built-in analysis") << 0;
    }

    void thresholdOfEngineInUse()
    {
        QFETCH(int, engine);
        if (engine == 1 && !Chromaprint::available())
            QSKIP("fpcalc is not installed");
        ScanOptions in;
        in.engine = engine;
        in.threshold = 0.30;
        in.chromaprintThreshold = 0.15;
        SettingsDialog dialog(in);
        auto *builtIn = dialog.findChild<QDoubleSpinBox *>("threshold");
        auto *fpcalc = dialog.findChild<QDoubleSpinBox *>("chromaprintThreshold");
        QVERIFY(builtIn && fpcalc);
        QCOMPARE(fpcalc->value(), 0.15);
        QDoubleSpinBox *offered = engine == 1 ? fpcalc : builtIn;
        QDoubleSpinBox *other = engine == 1 ? builtIn : fpcalc;
        QVERIFY(offered->isVisibleTo(&dialog));
        QVERIFY(!other->isVisibleTo(&dialog));
        offered->setValue(0.21);
        const ScanOptions out = dialog.options();
        QCOMPARE(engine == 1 ? out.chromaprintThreshold : out.threshold, 0.21);
        QCOMPARE(engine == 1 ? out.threshold : out.chromaprintThreshold, engine == 1 ? 0.30 : 0.15);
    }

    void updateKeysWrittenByOptions()
    {
        SettingsDialog dialog{ScanOptions()};
        auto *url = child<QLineEdit>(dialog, "updateUrl");
        auto *onStart = child<QCheckBox>(dialog, "checkOnStartup");
        QCOMPARE(url->text(), AppInfo::defaultUpdateEndpoint());
        QVERIFY(onStart->isChecked());
        QVERIFY(!QSettings().contains("updates/url"));

        url->setText("  http://127.0.0.1:9/api/latest.json  ");
        onStart->setChecked(false);
        dialog.options();
        QSettings s;
        QCOMPARE(s.value("updates/url").toString(), QStringLiteral("http://127.0.0.1:9/api/latest.json"));
        QCOMPARE(s.value("updates/checkOnStartup").toBool(), false);

        SettingsDialog again{ScanOptions()};
        QCOMPARE(child<QLineEdit>(again, "updateUrl")->text(),
                 QStringLiteral("http://127.0.0.1:9/api/latest.json"));
        QVERIFY(!child<QCheckBox>(again, "checkOnStartup")->isChecked());
        QCOMPARE(child<QLabel>(again, "lastChecked")->text(), QStringLiteral("Last checked: never"));
    }

    void clearCacheButton()
    {
        SettingsDialog dialog{ScanOptions()};
        auto *status = child<QLabel>(dialog, "cacheStatus");
        QVERIFY(status->text().endsWith(QStringLiteral(".")));
        QVERIFY2(status->text().contains(" cached, using ") || status->text() == "Cache unavailable.",
                 qPrintable(status->text()));
        QSignalSpy spy(&dialog, &SettingsDialog::clearCacheRequested);
        auto *button = child<QPushButton>(dialog, "clearCache");
        button->click();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(status->text(), QStringLiteral("Cache cleared. The next scan will re-analyse everything."));
        QVERIFY(!button->isEnabled());
    }

    void cacheStatusCountsRows()
    {
        CacheDatabase cache;
        QString error;
        QVERIFY2(cache.open(&error), qPrintable(error));
        QVERIFY(cache.clear(&error));
        TrackInfo t;
        t.path = QStringLiteral("/nowhere/a.mp3");
        t.size = 1000;
        t.mtime = QDateTime::fromSecsSinceEpoch(1700000000);
        t.analysed = true;
        cache.store(t, 0);
        QCOMPARE(cache.rowCount(), 1);
        const auto status = [] {
            SettingsDialog dialog{ScanOptions()};
            return child<QLabel>(dialog, "cacheStatus")->text();
        };
        QVERIFY2(status().startsWith("1 file cached, using "), qPrintable(status()));
        t.path = QStringLiteral("/nowhere/b.mp3");
        cache.store(t, 0);
        QVERIFY2(status().startsWith("2 files cached, using "), qPrintable(status()));
    }

    void skippedVersionButton()
    {
        {
            SettingsDialog dialog{ScanOptions()};
            QVERIFY(!dialog.findChild<QPushButton *>("stopSkipping"));
        }
        UpdateChecker::setSkippedVersion("2.1.0");
        SettingsDialog dialog{ScanOptions()};
        auto *button = child<QPushButton>(dialog, "stopSkipping");
        QVERIFY(button);
        QVERIFY2(button->text().contains("2.1.0"), qPrintable(button->text()));
        button->click();
        QVERIFY(UpdateChecker::skippedVersion().isEmpty());
        QVERIFY(!button->isEnabled());
    }

    void engineLine()
    {
        SettingsDialog dialog{ScanOptions()};
        const QString text = child<QLabel>(dialog, "engineLabel")->text();
        if (Chromaprint::available())
            QVERIFY(text.contains(Chromaprint::fpcalcPath()));
        else
            QVERIFY(text.startsWith("Built-in analysis (fallback)."));
    }
};

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
