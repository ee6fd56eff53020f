#include "app/Translations.h"
#include "audio/Chromaprint.h"
#include "scan/CacheDatabase.h"
#include "ui/Mnemonics.h"
#include "ui/SettingsDialog.h"
#include "ui/SettingsKeys.h"
#include "update/UpdateChecker.h"

#include <QtTest>

using namespace rvw;

namespace {

// Every stored option set away from its default.
ScanOptions unusualOptions()
{
    ScanOptions o;
    o.extensions = {"flac", "mp3"};
    o.excludes = {"*/Jingles/*", "*/Beds/*"};
    o.followSymlinks = o.includeHidden = o.detectMetadata = true;
    o.detectIdentical = o.detectSameAudio = o.detectAcoustic = o.useCache = false;
    o.minBytes = 123 * 1024;
    o.minDurationMs = 12000;
    o.fingerprintSeconds = 90;
    o.threshold = 0.31;
    o.chromaprintThreshold = 0.2;
    o.durationTolerance = 9;
    o.decoderThreads = 13;
    o.metadataTolerance = 7000;
    o.keeperPolicy = MostCompleteTags;
    return o;
}

// The options as stored, to compare every stored field at once.
QVariantMap stored(const ScanOptions &o)
{
    const QTemporaryDir dir;
    QSettings s(dir.filePath("compare.ini"), QSettings::IniFormat);
    SettingsKeys::writeScanOptions(s, o);
    QVariantMap map;
    for (const QString &key : s.allKeys())
        map.insert(key, s.value(key));
    return map;
}

} // namespace

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("RavelwickTests");
        QCoreApplication::setApplicationName("tst_settingsdialog");
        Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void init() { QSettings().clear(); }

    // Half the cores, at least 2 and at most 8; every option is stored and read back, and what
    // is not stored (folders, engine, preferred formats) comes from the base.
    void storeRoundTrips()
    {
        using SettingsKeys::defaultDecoderThreads;
        QVERIFY(defaultDecoderThreads(1) == 2 && defaultDecoderThreads(6) == 3 &&
                defaultDecoderThreads(18) == 8);
        ScanOptions defaults;
        defaults.decoderThreads = defaultDecoderThreads(QThread::idealThreadCount());
        QCOMPARE(stored(SettingsKeys::readScanOptions(QSettings())), stored(defaults));
        QCOMPARE(stored(defaults).size(), 18);
        ScanOptions base;
        base.folders = {"/srv/music"};
        base.engine = 0;
        base.preferredFormats = {"mp3"};
        QSettings s;
        SettingsKeys::writeScanOptions(s, unusualOptions());
        QVERIFY(!s.contains(SettingsKeys::scanFolders) && !s.contains(SettingsKeys::updateUrl));
        const ScanOptions read = SettingsKeys::readScanOptions(s, base);
        QCOMPARE(stored(read), stored(unusualOptions()));
        QVERIFY(read.folders == base.folders && read.engine == 0 &&
                read.preferredFormats == base.preferredFormats);
    }

    // What the dialog shows is what it returns, page by page reachable with Alt, with only the
    // threshold of the engine in use offered; what is edited comes back, lists cleaned of dots,
    // case and empty entries, and the update settings are kept for the next dialog.
    void showsAndReturnsEveryOption()
    {
        const bool fpcalc = Chromaprint::available();
        ScanOptions in = unusualOptions();
        in.folders = {"/srv/music"};
        in.engine = fpcalc ? 1 : 0;
        SettingsDialog dialog(in);
        auto *tabs = dialog.findChild<QTabWidget *>("settingsTabs");
        const auto spin = [&](const char *name) { return dialog.findChild<QDoubleSpinBox *>(name); };
        QDoubleSpinBox *offered = spin(fpcalc ? "chromaprintThreshold" : "threshold");
        QVERIFY(offered->isVisibleTo(&dialog) &&
                !spin(fpcalc ? "threshold" : "chromaprintThreshold")->isVisibleTo(&dialog));
        QStringList shared = rvwtest::keyboardTexts(tabs->tabBar()); // within reach from every page
        for (QDialogButtonBox *box : dialog.findChildren<QDialogButtonBox *>())
            shared << rvwtest::keyboardTexts(box);
        for (int i = 0; i < tabs->count(); ++i)
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(tabs->widget(i)) + shared),
                     QStringList());
        QVERIFY(stored(dialog.options()) == stored(in) && dialog.options().folders == in.folders);

        offered->setValue(0.21);
        for (QCheckBox *box : dialog.findChildren<QCheckBox *>())
            box->toggle();
        dialog.findChild<QComboBox *>("keeperPolicy")->setCurrentIndex(3);
        dialog.findChild<QLineEdit *>("extensions")->setText(" .Flac ,MP3 , .ogg.,, ,wav,");
        dialog.findChild<QLineEdit *>("excludes")->setText("*/a/*; */My Jingles/* ; ;");
        dialog.findChild<QLineEdit *>("updateUrl")->setText("  http://127.0.0.1:9/latest.json ");
        ScanOptions edited = in;
        (fpcalc ? edited.chromaprintThreshold : edited.threshold) = 0.21;
        edited.followSymlinks = edited.includeHidden = edited.detectMetadata = false;
        edited.detectIdentical = edited.detectSameAudio = edited.detectAcoustic = edited.useCache = true;
        edited.keeperPolicy = PreferredFormat;
        edited.extensions = {"flac", "mp3", "ogg", "wav"};
        edited.excludes = {"*/a/*", "*/My Jingles/*"};
        QCOMPARE(stored(dialog.options()), stored(edited));
        SettingsDialog again{ScanOptions()};
        QCOMPARE(again.findChild<QLineEdit *>("updateUrl")->text(), "http://127.0.0.1:9/latest.json");
        QVERIFY(!again.findChild<QCheckBox *>("checkOnStartup")->isChecked());
    }

    // A stored value the controls cannot show comes back as the nearest one they can: above the
    // top, below the bottom, between whole units.
    void outOfRangeValues()
    {
        using namespace SettingsKeys;
        const QStringList keys{decoderThreads,    threshold,         chromaprintThreshold,
                               durationTolerance, metadataTolerance, fingerprintSeconds,
                               minBytes,          minDurationMs};
        const auto clamped = [&](const QList<double> &values) {
            QSettings s;
            for (int i = 0; i < keys.size(); ++i)
                s.setValue(keys[i], values.value(i));
            writeScanOptions(s, SettingsDialog(readScanOptions(s)).options());
            QStringList out;
            for (const QString &key : keys)
                out << s.value(key).toString();
            return out.join(' ');
        };
        QCOMPARE(clamped({40, 0.5, 0.9, 26, 31000, 601, 1e13, 601000}),
                 "16 0.4 0.4 25 30000 600 1073741824 600000");
        QCOMPARE(clamped({0, 0.01, 0.001, 0, -1000, 19, -2048, -1}), "1 0.02 0.02 1 0 20 0 0");
        QCOMPARE(clamped({4, 0.3, 0.3, 5, 2500, 30, 50000, 7500}), "4 0.3 0.3 5 2000 30 49152 7000");
    }

    // The cache's size is shown and clearing it asks once; a skipped update can be offered again.
    void cacheAndSkippedVersion()
    {
        CacheDatabase cache;
        QString error;
        QVERIFY2(cache.open(&error) && cache.clear(&error), qPrintable(error));
        TrackInfo t;
        t.path = "/nowhere/a.mp3";
        t.mtime = QDateTime::fromSecsSinceEpoch(1700000000);
        t.analysed = true;
        cache.store(t, 0);
        QVERIFY(!SettingsDialog(ScanOptions()).findChild<QPushButton *>("stopSkipping"));
        UpdateChecker::setSkippedVersion("2.1.0");
        SettingsDialog dialog{ScanOptions()};
        auto *status = dialog.findChild<QLabel *>("cacheStatus");
        QVERIFY2(status->text().startsWith("1 file cached, using "), qPrintable(status->text()));
        QSignalSpy spy(&dialog, &SettingsDialog::clearCacheRequested);
        for (const char *name : {"clearCache", "stopSkipping"}) {
            auto *button = dialog.findChild<QPushButton *>(name);
            button->click();
            QVERIFY2(!button->isEnabled(), name);
        }
        QVERIFY(spy.count() == 1 && status->text().startsWith("Cache cleared.") &&
                UpdateChecker::skippedVersion().isEmpty());
    }
};

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
