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
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QThread>

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

// The options as stored: compares every stored field at once.
QVariantMap stored(const ScanOptions &o)
{
    const QTemporaryDir dir;
    QSettings s(dir.filePath(QStringLiteral("compare.ini")), QSettings::IniFormat);
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
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_settingsdialog"));
        Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void init() { QSettings().clear(); }

    void defaultThreadCount()
    {
        for (const auto &[ideal, expected] : {std::pair(1, 2), {4, 2}, {6, 3}, {12, 6}, {16, 8}, {18, 8}})
            QVERIFY2(SettingsKeys::defaultDecoderThreads(ideal) == expected,
                     qPrintable(QString::number(ideal)));
    }

    void storeRoundTrips()
    {
        ScanOptions expected;
        expected.decoderThreads = SettingsKeys::defaultDecoderThreads(QThread::idealThreadCount());
        QCOMPARE(stored(SettingsKeys::readScanOptions(QSettings())), stored(expected));
        QCOMPARE(stored(expected).size(), 18);
        ScanOptions base;
        base.folders = {"/srv/music"};
        base.engine = 0;
        base.preferredFormats = {"mp3"};
        QSettings s;
        SettingsKeys::writeScanOptions(s, unusualOptions());
        QVERIFY(!s.contains(SettingsKeys::scanFolders) && !s.contains(SettingsKeys::updateUrl));
        const ScanOptions read = SettingsKeys::readScanOptions(s, base);
        QCOMPARE(stored(read), stored(unusualOptions()));
        QCOMPARE(read.folders, base.folders);
        QCOMPARE(read.engine, 0);
        QCOMPARE(read.preferredFormats, base.preferredFormats);
    }

    void listParsing_data()
    {
        QTest::addColumn<bool>("extensions");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("capitals, dots, spaces")
            << true << " .Flac ,MP3 , .ogg." << QStringList{"flac", "mp3", "ogg"};
        QTest::newRow("empty and blank parts") << true << "mp3,, ,wav," << QStringList{"mp3", "wav"};
        QTest::newRow("no extensions") << true << "" << QStringList{};
        QTest::newRow("two patterns") << false << "*/a/*; */b/*;" << QStringList{"*/a/*", "*/b/*"};
        QTest::newRow("spaces kept inside")
            << false << " */My Jingles/* ; ;" << QStringList{"*/My Jingles/*"};
    }

    void listParsing()
    {
        QFETCH(bool, extensions);
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(extensions ? SettingsDialog::parseExtensions(text) : SettingsDialog::parseExcludes(text),
                 expected);
    }

    // What the dialog shows is what it stores, page by page reachable with Alt.
    void showsAndReturnsEveryOption()
    {
        ScanOptions in = unusualOptions();
        in.folders = {"/srv/music"};
        SettingsDialog dialog(in);
        auto *tabs = dialog.findChild<QTabWidget *>("settingsTabs");
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QStringList reach =
                rvwtest::keyboardTexts(tabs->widget(i)) + rvwtest::keyboardTexts(tabs->tabBar());
            for (QDialogButtonBox *box : dialog.findChildren<QDialogButtonBox *>())
                reach << rvwtest::keyboardTexts(box);
            QCOMPARE(rvwtest::mnemonicProblems(reach), QStringList());
        }
        QCOMPARE(dialog.findChild<QLineEdit *>("excludes")->text(), QStringLiteral("*/Jingles/*; */Beds/*"));
        QCOMPARE(dialog.findChild<QLineEdit *>("updateUrl")->text(), AppInfo::defaultUpdateEndpoint());
        QCOMPARE(stored(dialog.options()), stored(in));
        QCOMPARE(dialog.options().folders, in.folders);

        for (QCheckBox *box : dialog.findChildren<QCheckBox *>())
            box->toggle();
        dialog.findChild<QComboBox *>("keeperPolicy")->setCurrentIndex(3);
        dialog.findChild<QLineEdit *>("extensions")->setText(".WAV, Aiff");
        dialog.findChild<QLineEdit *>("excludes")->setText("*/x/*");
        dialog.findChild<QLineEdit *>("updateUrl")->setText("  http://127.0.0.1:9/latest.json ");
        ScanOptions edited = in;
        edited.followSymlinks = edited.includeHidden = edited.detectMetadata = false;
        edited.detectIdentical = edited.detectSameAudio = edited.detectAcoustic = edited.useCache = true;
        edited.keeperPolicy = PreferredFormat;
        edited.extensions = {"wav", "aiff"};
        edited.excludes = {"*/x/*"};
        QCOMPARE(stored(dialog.options()), stored(edited));
        SettingsDialog again{ScanOptions()};
        QCOMPARE(again.findChild<QLineEdit *>("updateUrl")->text(),
                 QStringLiteral("http://127.0.0.1:9/latest.json"));
        QVERIFY(!again.findChild<QCheckBox *>("checkOnStartup")->isChecked());
    }

    // A stored value the controls cannot show comes back as the nearest one they can.
    void outOfRangeValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("threads above") << SettingsKeys::decoderThreads << 40.0 << 16.0;
        QTest::newRow("threads below") << SettingsKeys::decoderThreads << 0.0 << 1.0;
        QTest::newRow("threshold above") << SettingsKeys::threshold << 0.5 << 0.40;
        QTest::newRow("threshold below") << SettingsKeys::threshold << 0.01 << 0.02;
        QTest::newRow("fpcalc threshold above") << SettingsKeys::chromaprintThreshold << 0.9 << 0.40;
        QTest::newRow("duration tolerance below") << SettingsKeys::durationTolerance << 0.0 << 1.0;
        QTest::newRow("duration tolerance above") << SettingsKeys::durationTolerance << 26.0 << 25.0;
        QTest::newRow("metadata tolerance above") << SettingsKeys::metadataTolerance << 31000.0 << 30000.0;
        QTest::newRow("metadata tolerance, whole seconds")
            << SettingsKeys::metadataTolerance << 2500.0 << 2000.0;
        QTest::newRow("analysed seconds below") << SettingsKeys::fingerprintSeconds << 19.0 << 20.0;
        QTest::newRow("analysed seconds above") << SettingsKeys::fingerprintSeconds << 601.0 << 600.0;
        QTest::newRow("size beyond int") << SettingsKeys::minBytes << 1e13 << 1048576.0 * 1024;
        QTest::newRow("size, whole KB") << SettingsKeys::minBytes << 50000.0 << 48.0 * 1024;
        QTest::newRow("negative size") << SettingsKeys::minBytes << -2048.0 << 0.0;
        QTest::newRow("duration above") << SettingsKeys::minDurationMs << 601000.0 << 600000.0;
        QTest::newRow("duration, whole seconds") << SettingsKeys::minDurationMs << 7500.0 << 7000.0;
    }

    void outOfRangeValues()
    {
        QFETCH(QString, key);
        QFETCH(double, value);
        QFETCH(double, expected);
        QSettings s;
        s.setValue(key, value);
        const SettingsDialog dialog(SettingsKeys::readScanOptions(s));
        SettingsKeys::writeScanOptions(s, dialog.options());
        QCOMPARE(s.value(key).toDouble(), expected);
    }

    // Only the threshold the scan will compare against is offered, and an edit of it is returned.
    void thresholdOfEngineInUse()
    {
        const int engine = Chromaprint::available() ? 1 : 0;
        ScanOptions in;
        in.engine = engine;
        in.threshold = 0.30;
        in.chromaprintThreshold = 0.15;
        SettingsDialog dialog(in);
        auto *builtIn = dialog.findChild<QDoubleSpinBox *>("threshold");
        auto *fpcalc = dialog.findChild<QDoubleSpinBox *>("chromaprintThreshold");
        QDoubleSpinBox *offered = engine == 1 ? fpcalc : builtIn;
        QVERIFY(offered->isVisibleTo(&dialog));
        QVERIFY(!(engine == 1 ? builtIn : fpcalc)->isVisibleTo(&dialog));
        offered->setValue(0.21);
        const ScanOptions out = dialog.options();
        QCOMPARE(QList<double>({out.threshold, out.chromaprintThreshold}),
                 engine == 1 ? QList<double>({0.30, 0.21}) : QList<double>({0.21, 0.15}));
    }

    void clearCacheAndStatus()
    {
        CacheDatabase cache;
        QString error;
        QVERIFY2(cache.open(&error) && cache.clear(&error), qPrintable(error));
        TrackInfo t;
        t.size = 1000;
        t.mtime = QDateTime::fromSecsSinceEpoch(1700000000);
        t.analysed = true;
        for (const char *path : {"/nowhere/a.mp3", "/nowhere/b.mp3"}) {
            t.path = QString::fromLatin1(path);
            cache.store(t, 0);
        }
        SettingsDialog dialog{ScanOptions()};
        auto *status = dialog.findChild<QLabel *>("cacheStatus");
        QVERIFY2(status->text().startsWith("2 files cached, using "), qPrintable(status->text()));
        QSignalSpy spy(&dialog, &SettingsDialog::clearCacheRequested);
        auto *button = dialog.findChild<QPushButton *>("clearCache");
        button->click();
        QCOMPARE(spy.count(), 1);
        QVERIFY(status->text().startsWith("Cache cleared."));
        QVERIFY(!button->isEnabled());
    }

    void stopSkippingButton()
    {
        QVERIFY(!SettingsDialog(ScanOptions()).findChild<QPushButton *>("stopSkipping"));
        UpdateChecker::setSkippedVersion("2.1.0");
        SettingsDialog dialog{ScanOptions()};
        auto *button = dialog.findChild<QPushButton *>("stopSkipping");
        QVERIFY2(button && button->text().contains("2.1.0"), "no button naming the skipped version");
        button->click();
        QVERIFY(UpdateChecker::skippedVersion().isEmpty());
        QVERIFY(!button->isEnabled());
    }
};

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
