#include "app/AppInfo.h"
#include "app/Platform.h"
#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "cleanup/FileOps.h"
#include "scan/CacheDatabase.h"
#include "support/AudioFixtures.h"
#include "ui/ComparePlayer.h"
#include "ui/DialogDriver.h"
#include "ui/MainWindow.h"
#include "ui/Mnemonics.h"
#include "ui/ResultsModel.h"
#include "ui/SettingsDialog.h"
#include "ui/UpdateDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

using namespace rvw;
using rvwtest::DialogDriver;

namespace {

constexpr int kScanTimeoutMs = 90000;

QAction *action(QWidget &w, const QString &text)
{
    for (QAction *a : w.findChildren<QAction *>()) {
        if (QString(a->text()).remove(QLatin1Char('&')) == text)
            return a;
    }
    qWarning("no action %s", qPrintable(text));
    return nullptr;
}

QString bytesText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 2, QLocale::DataSizeTraditionalFormat);
}

// A view of the window through its widgets, as a user would see it.
struct View
{
    explicit View(MainWindow &w)
        : window(w), tree(w.findChild<QTreeView *>("resultsTree")),
          model(qobject_cast<QStandardItemModel *>(tree->model())),
          summary(w.findChild<QLabel *>("summaryLabel")), status(w.findChild<QLabel *>("statusLabel")),
          log(w.findChild<QPlainTextEdit *>("logView")), filter(w.findChild<QLineEdit *>("filterBox")),
          player(w.findChild<ComparePlayer *>("comparePlayer"))
    {
    }

    QStandardItem *group(int g) const { return model->item(g, 0); }
    QStandardItem *file(int g, int r) const { return group(g)->child(r, 0); }

    // The group whose file rows include one whose path contains `part`, or -1.
    int groupWith(const QString &part) const
    {
        for (int g = 0; g < model->rowCount(); ++g) {
            for (int r = 0; r < group(g)->rowCount(); ++r) {
                if (file(g, r)->toolTip().contains(part))
                    return g;
            }
        }
        return -1;
    }
    int keeperRow(int g) const
    {
        for (int r = 0; r < group(g)->rowCount(); ++r) {
            if (file(g, r)->data(Results::KeeperRole).toBool())
                return r;
        }
        return -1;
    }
    QStringList paths(bool checked, bool keepers) const
    {
        QStringList out;
        for (int g = 0; g < model->rowCount(); ++g) {
            for (int r = 0; r < group(g)->rowCount(); ++r) {
                const QStandardItem *f = file(g, r);
                if ((f->checkState() == Qt::Checked) == checked &&
                    f->data(Results::KeeperRole).toBool() == keepers)
                    out << f->toolTip();
            }
        }
        return out;
    }
    int checkedCount() const { return paths(true, true).size() + paths(true, false).size(); }
    QString logText() const { return log->toPlainText(); }

    MainWindow &window;
    QTreeView *tree;
    QStandardItemModel *model;
    QLabel *summary;
    QLabel *status;
    QPlainTextEdit *log;
    QLineEdit *filter;
    ComparePlayer *player;
};

// Types `path` into a shown file dialog's name box and accepts it, as a user pressing Enter would.
// (selectFile() leaves the box alone while it has the focus.)
void typeIntoFileDialog(QFileDialog *fd, const QString &path)
{
    auto *name = fd->findChild<QLineEdit *>("fileNameEdit");
    QVERIFY(name);
    name->setText(path);
    static_cast<QDialog *>(fd)->accept(); // the file dialog's own accept, which checks the name
}

qint64 sizeOf(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &p : paths)
        total += QFileInfo(p).size();
    return total;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_source;
    QScopedPointer<QTemporaryDir> m_work;
    QString m_lib;
    QString m_quarantine;

    void resetSettings()
    {
        QSettings s;
        s.clear();
        s.setValue("updates/checkOnStartup", false);
        s.setValue("safety/quarantineRoot", m_quarantine);
        s.setValue("detect/acoustic", false); // hash tiers only: quick and exact
    }

    // Runs a scan from the window; `states` collects the enabled states "Start Scan" went through.
    bool scan(MainWindow &w, QList<bool> *states = nullptr)
    {
        QAction *start = action(w, "Start Scan");
        QList<bool> seen;
        auto conn = connect(start, &QAction::changed, this, [&] { seen << start->isEnabled(); });
        View v(w);
        v.status->clear(); // a second scan must not be taken as done by the first one's status
        start->trigger();
        const bool ok =
            QTest::qWaitFor([&] { return v.status->text().startsWith("Scan complete in"); }, kScanTimeoutMs);
        disconnect(conn);
        if (states)
            *states = seen;
        return ok;
    }

    bool makeLibrary(QString *error)
    {
        const QString root = m_source.path();
        for (const char *sub : {"Studio", "Archive", "Incoming"})
            QDir(root).mkpath(sub);
        using rvwtest::ffmpeg;
        using rvwtest::melodyInput;
        const QStringList tags1{"-metadata",           "artist=Demo Band", "-metadata",
                                "title=Morning Chord", "-metadata",        "album=Demo Sessions"};
        const QStringList tags2{"-metadata", "artist=Demo Band", "-metadata", "title=Night Pulse"};
        if (!ffmpeg(melodyInput(1, 6) + QStringList{"-ac", "2", "-c:a", "flac"} + tags1 +
                        QStringList{root + "/Studio/Morning.flac"},
                    error) ||
            !ffmpeg(melodyInput(2, 6) + QStringList{"-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"} +
                        tags2 + QStringList{root + "/Incoming/Night.mp3"},
                    error) ||
            !ffmpeg({"-i", root + "/Incoming/Night.mp3", "-c", "copy", "-map_metadata", "-1", "-metadata",
                     "title=Night Pulse (Edit)", "-metadata", "artist=Demo Band",
                     root + "/Archive/Night retag.mp3"},
                    error) ||
            !ffmpeg(melodyInput(3, 6) + QStringList{"-c:a", "flac", root + "/Studio/Tide.flac"}, error))
            return false;
        return rvwtest::copyFile(root + "/Studio/Morning.flac", root + "/Archive/Morning copy.flac") &&
               rvwtest::copyFile(root + "/Studio/Morning.flac", root + "/Archive/Morning copy 2.flac");
    }

    static void copyTree(const QString &from, const QString &to)
    {
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString src = it.next();
            const QString dst = to + src.mid(from.size());
            QDir().mkpath(QFileInfo(dst).absolutePath());
            QFile::copy(src, dst);
        }
    }

    static QStringList filesUnder(const QString &root)
    {
        QStringList names;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << QFileInfo(it.next()).fileName();
        names.sort();
        return names;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("RavelwickTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindow"));
        // As a user in Britain sees the window: English plurals, day-first dates.
        QVERIFY(Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom))
                    .contains("ravelwick_en"));
        Platform::applyDecoderRanking();
        if (rvwtest::ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the test library cannot be generated");
        QVERIFY(m_source.isValid());
        QString error;
        QVERIFY2(makeLibrary(&error), qPrintable(error));
        // The analysis cache of earlier runs must not decide anything here.
        CacheDatabase cache;
        if (cache.open())
            cache.clear();
    }

    void init()
    {
        m_work.reset(new QTemporaryDir);
        QVERIFY(m_work->isValid());
        m_lib = m_work->filePath("Library");
        m_quarantine = m_work->filePath("Quarantine");
        copyTree(m_source.path(), m_lib);
        QDir(ActionRunner::manifestDirectory()).removeRecursively();
        resetSettings();
    }

    void formatDuration_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "-";
        QTest::newRow("negative") << qint64(-5) << "-";
        QTest::newRow("under a second") << qint64(999) << "0:00";
        QTest::newRow("59.9 s") << qint64(59999) << "0:59";
        QTest::newRow("61 s") << qint64(61000) << "1:01";
        QTest::newRow("just under an hour") << qint64(3599999) << "59:59";
        QTest::newRow("an hour") << qint64(3600000) << "1:00:00";
        QTest::newRow("1:02:03") << qint64(3723000) << "1:02:03";
        QTest::newRow("26 hours") << qint64(93600000) << "26:00:00";
    }
    void formatDuration()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(Results::formatDuration(ms), text);
    }

    void tierColours()
    {
        QCOMPARE(Results::tierColour(Identical).name(), QStringLiteral("#146c2e"));
        QCOMPARE(Results::tierColour(SameAudio).name(), QStringLiteral("#1c5a8a"));
        QCOMPARE(Results::tierColour(Acoustic).name(), QStringLiteral("#b35a0f"));
        QCOMPARE(Results::tierColour(Metadata).name(), QStringLiteral("#a11a1a"));
        QCOMPARE(Results::tierColour(Unmatched).name(), QStringLiteral("#a11a1a"));
        QCOMPARE(Results::tierColour(MatchTier(9)).name(), QStringLiteral("#a11a1a"));
    }

    void fileRowShowsAnalysisNote()
    {
        TrackInfo t;
        t.path = "/srv/music/a.mp3";
        t.fileName = "a.mp3";
        t.error = "Truncated frame header";
        const QList<QStandardItem *> row = Results::fileRow(t, 4, 1, false);
        QCOMPARE(row.size(), 9);
        QCOMPARE(row[0]->toolTip(), QStringLiteral("/srv/music/a.mp3\n\nNote: Truncated frame header"));
        QCOMPARE(row[0]->checkState(), Qt::Checked);
        QCOMPARE(row[1]->text(), QStringLiteral("duplicate"));
        QCOMPARE(row[8]->text(), QStringLiteral("/srv/music"));
        qDeleteAll(row);
    }

    void layoutAndActions()
    {
        MainWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Ravelwick"));
        QCOMPARE(w.size(), QSize(1180, 720));
        const QStringList texts{"Add Folder...",
                                "Remove Folder",
                                "Start Scan",
                                "Stop",
                                "Select All Duplicates",
                                "Clear Selection",
                                "Invert Selection",
                                "Remove Selected...",
                                "Undo Previous Clean-up...",
                                "Export Report...",
                                "Settings...",
                                "Check for Updates...",
                                "About Ravelwick",
                                "Play / Pause",
                                "Listen to Deck A",
                                "Listen to Deck B",
                                "Switch A / B",
                                "Keep Decks in Sync",
                                "Comparison Player",
                                "Exit"};
        for (const QString &t : texts)
            QVERIFY2(action(w, t), qPrintable(t));
        int stops = 0;
        for (QAction *a : w.findChildren<QAction *>())
            stops += QString(a->text()).remove(QLatin1Char('&')) == "Stop" ? 1 : 0;
        QCOMPARE(stops, 2);
        QCOMPARE(action(w, "Start Scan")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(action(w, "Switch A / B")->shortcut(), QKeySequence("Ctrl+3"));
        QVERIFY(!action(w, "Stop")->isEnabled());
        QVERIFY(action(w, "Comparison Player")->isChecked());
        QVERIFY(action(w, "Keep Decks in Sync")->isChecked());
        // The player's LINK lamp and the menu's action are one setting, whichever is used.
        auto *player = w.findChild<ComparePlayer *>();
        QVERIFY(player);
        player->setLinked(false);
        QVERIFY(!action(w, "Keep Decks in Sync")->isChecked());
        player->setLinked(true);
        QVERIFY(action(w, "Keep Decks in Sync")->isChecked());
        // Every command is in reach of Alt and a letter: the menu titles and the window's
        // buttons and labels share one set of letters, each menu's entries another.
        QStringList reach = rvwtest::keyboardTexts(&w);
        for (QAction *a : w.menuBar()->actions()) {
            reach << a->text();
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::menuTexts(a->menu())), QStringList());
        }
        QCOMPARE(w.menuBar()->actions().size(), 7);
        for (const QLabel *label : w.findChildren<QLabel *>()) {
            if (label->buddy())
                reach << label->text();
        }
        QCOMPARE(rvwtest::mnemonicProblems(reach), QStringList());
        auto *bar = w.findChild<QToolBar *>("mainToolBar");
        QVERIFY(bar);
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QVERIFY(!bar->isMovable());
        QCOMPARE(View(w).summary->text(), QStringLiteral("No scan has been run yet."));
        QCOMPARE(View(w).status->text(), QStringLiteral("Ready"));
        QCOMPARE(View(w).model->columnCount(), 9);
        QVERIFY(View(w).logText().contains("Ravelwick 1.0.0 ready."));
        auto *dock = w.findChild<QDockWidget *>("logDock");
        QVERIFY(dock && dock->isHidden());
        QCOMPARE(w.findChild<QPlainTextEdit *>("logView")->maximumBlockCount(), 5000);
    }

    void folderRules()
    {
        MainWindow w;
        QDir(m_work->path()).mkpath("Music");
        QDir(m_work->path()).mkpath("music");
        w.addScanFolder(m_work->filePath("Music"));
        w.addScanFolder(m_work->filePath("music"));
        w.addScanFolder(m_work->filePath("Music"));
        w.addScanFolder(m_work->filePath("Music/../Music"));
        w.addScanFolder(m_work->filePath("Music") + "/"); // a repeat, however it is typed
        w.addScanFolder(m_work->filePath("missing"));
        w.addScanFolder(m_lib + "/Studio/Morning.flac"); // a file, not a folder
        w.addScanFolder(QString());
        QCOMPARE(w.scanFolders(), QStringList({m_work->filePath("Music"), m_work->filePath("music")}));
        // Long paths are cut in the middle, where the folders the librarian knows are least likely;
        // the whole path is in the tool tip.
        auto *list = w.findChild<QListWidget *>("folderList");
        QVERIFY(list);
        QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
        QCOMPARE(list->item(0)->toolTip(), QDir::toNativeSeparators(m_work->filePath("Music")));
        // Folders dropped on the window are added; a dropped file is no folder and is refused.
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(m_lib), QUrl::fromLocalFile(m_lib + "/Studio/Morning.flac")});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(&w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        QCOMPARE(w.scanFolders(),
                 QStringList({m_work->filePath("Music"), m_work->filePath("music"), QDir::cleanPath(m_lib)}));
        QMimeData fileOnly;
        fileOnly.setUrls({QUrl::fromLocalFile(m_lib + "/Studio/Morning.flac")});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &fileOnly, Qt::LeftButton, Qt::NoModifier);
        refused.setAccepted(false);
        QApplication::sendEvent(&w, &refused);
        QVERIFY(!refused.isAccepted());
        // Ctrl+F goes to the filter box.
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        list->setFocus();
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(w.findChild<QLineEdit *>("filterBox")->hasFocus());
    }

    void startNeedsFolderAndMethod()
    {
        {
            MainWindow w;
            DialogDriver driver;
            driver.answer(QMessageBox::Ok);
            w.startScan();
            QTRY_VERIFY(driver.done());
            QCOMPARE(driver.titles(), QStringList{"Nothing to scan"});
            QCOMPARE(driver.texts(),
                     QStringList{"Add at least one folder containing music before starting a scan."});
        }
        QSettings s;
        for (const char *key : {"detect/identical", "detect/sameAudio", "detect/acoustic", "detect/metadata"})
            s.setValue(key, false);
        MainWindow w;
        w.addScanFolder(m_lib);
        DialogDriver driver;
        driver.answer(QMessageBox::Ok);
        w.startScan();
        QTRY_VERIFY(driver.done());
        QCOMPARE(driver.titles(), QStringList{"No detection method enabled"});
        QVERIFY(!View(w).logText().contains("--- Scan started"));
    }

    void progressReports()
    {
        MainWindow w;
        View v(w);
        auto *bar = w.findChild<QProgressBar *>("progressBar");
        QVERIFY(QMetaObject::invokeMethod(&w, "onProgress", Q_ARG(int, 0), Q_ARG(int, 0),
                                          Q_ARG(QString, "12 files found")));
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(v.status->text(), QStringLiteral("12 files found"));
        QVERIFY(
            QMetaObject::invokeMethod(&w, "onProgress", Q_ARG(int, 3), Q_ARG(int, 10), Q_ARG(QString, "")));
        QCOMPARE(bar->maximum(), 10);
        QCOMPARE(bar->value(), 3);
        QCOMPARE(v.status->text(), QStringLiteral("12 files found"));
    }

    void scanFailureRestoresControls()
    {
        MainWindow w;
        View v(w);
        QVERIFY(QMetaObject::invokeMethod(&w, "onScanStarted"));
        QVERIFY(!action(w, "Start Scan")->isEnabled());
        QVERIFY(action(w, "Stop")->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(&w, "onScanFailed", Q_ARG(QString, "disk unplugged")));
        for (const char *name :
             {"Start Scan", "Settings...", "Remove Selected...", "Undo Previous Clean-up..."})
            QVERIFY2(action(w, name)->isEnabled(), name);
        QVERIFY(!action(w, "Stop")->isEnabled());
        QVERIFY(w.findChild<QProgressBar *>("progressBar")->isHidden());
        QCOMPARE(v.status->text(), QStringLiteral("Scan failed: disk unplugged"));
        QVERIFY(v.logText().contains("Scan failed: disk unplugged"));
        QCOMPARE(v.model->rowCount(), 0);
    }

    // "Stopping..." holds until the scan ends, and what a cancelled scan hands back is never
    // presented as a finished result.
    void cancelledScan_data()
    {
        QTest::addColumn<int>("found");
        QTest::newRow("files found, none compared") << 54;
        QTest::newRow("stopped while looking for files") << 0;
    }

    void cancelledScan()
    {
        QFETCH(int, found);
        MainWindow w;
        View v(w);
        QVERIFY(QMetaObject::invokeMethod(&w, "onScanStarted"));
        QVERIFY(QMetaObject::invokeMethod(&w, "onStopScan"));
        QCOMPARE(v.status->text(), QStringLiteral("Stopping..."));
        QVERIFY(QMetaObject::invokeMethod(&w, "onProgress", Q_ARG(int, 5), Q_ARG(int, 54),
                                          Q_ARG(QString, "5 of 54")));
        QVERIFY(QMetaObject::invokeMethod(&w, "onPhaseChanged", Q_ARG(QString, "Fingerprinting")));
        QCOMPARE(v.status->text(), QStringLiteral("Stopping..."));

        QList<TrackInfo> tracks;
        for (int i = 0; i < found; ++i) {
            TrackInfo t;
            t.id = i;
            t.path = m_lib + QStringLiteral("/track%1.mp3").arg(i);
            t.fileName = QFileInfo(t.path).fileName();
            tracks << t;
        }
        QVERIFY(QMetaObject::invokeMethod(&w, "onScanFinished", Q_ARG(QList<rvw::TrackInfo>, tracks),
                                          Q_ARG(QList<rvw::MatchGroup>, {}), Q_ARG(bool, true),
                                          Q_ARG(qint64, 1200)));
        QVERIFY2(v.status->text().startsWith("Scan cancelled after"), qPrintable(v.status->text()));
        const QString summary = v.summary->text();
        QVERIFY2(summary.contains("cancelled") && summary.contains("incomplete"), qPrintable(summary));
        QVERIFY2(!summary.contains("no duplicates found"), qPrintable(summary));

        // The next scan's reports are shown again.
        QVERIFY(QMetaObject::invokeMethod(&w, "onScanStarted"));
        QVERIFY(QMetaObject::invokeMethod(&w, "onPhaseChanged", Q_ARG(QString, "Scanning folders")));
        QCOMPARE(v.status->text(), QStringLiteral("Scanning folders"));
    }

    // A scan that found nothing to compare says so, instead of reading as if none had run.
    void scanWithoutAudioFiles_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::newRow("empty folder") << QStringList();
        QTest::newRow("no audio files") << QStringList{"notes.txt", "Covers/front.jpg"};
    }

    void scanWithoutAudioFiles()
    {
        QFETCH(QStringList, files);
        const QString folder = m_work->filePath("Nothing");
        QVERIFY(QDir().mkpath(folder + "/Covers"));
        for (const QString &name : files) {
            QFile f(folder + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not audio");
        }
        MainWindow w;
        w.addScanFolder(folder);
        View v(w);
        QVERIFY(scan(w));
        QCOMPARE(v.model->rowCount(), 0);
        QVERIFY2(v.summary->text().startsWith("No audio files were found in the scanned folders"),
                 qPrintable(v.summary->text()));
    }

    void scanFillsTreeAndDecks()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        QList<bool> states;
        QVERIFY(scan(w, &states));
        QVERIFY2(states.size() >= 2 && !states.first() && states.last(), "Start Scan went off and on again");
        QVERIFY(action(w, "Start Scan")->isEnabled());
        QVERIFY(action(w, "Settings...")->isEnabled());
        QVERIFY(!action(w, "Stop")->isEnabled());
        QVERIFY(!w.findChild<QProgressBar *>("progressBar")->isVisible());

        QCOMPARE(v.model->rowCount(), 2);
        const int morning = v.groupWith("Morning.flac");
        const int night = v.groupWith("Night.mp3");
        QVERIFY(morning >= 0 && night >= 0 && morning != night);
        QCOMPARE(v.group(morning)->rowCount(), 3);
        QVERIFY(v.group(morning)->text().contains(" - 3 copies - "));
        QCOMPARE(v.model->item(morning, 1)->text(), QStringLiteral("Identical file"));
        QCOMPARE(v.model->item(morning, 1)->foreground().color().name(), QStringLiteral("#146c2e"));
        QCOMPARE(v.model->item(night, 1)->text(), QStringLiteral("Same audio, different tags"));
        QCOMPARE(v.group(night)->rowCount(), 2);
        QVERIFY(v.groupWith("Tide.flac") < 0);

        // Exactly one keeper per group, unticked; every other copy ticked.
        for (int g : {morning, night}) {
            const int k = v.keeperRow(g);
            QVERIFY(k >= 0);
            for (int r = 0; r < v.group(g)->rowCount(); ++r) {
                QCOMPARE(v.file(g, r)->checkState(), r == k ? Qt::Unchecked : Qt::Checked);
                QCOMPARE(v.group(g)->child(r, 1)->text(),
                         r == k ? QStringLiteral("KEEP") : QStringLiteral("duplicate"));
            }
        }
        QVERIFY(v.paths(true, true).isEmpty());
        const QStringList ticked = v.paths(true, false);
        QCOMPARE(ticked.size(), 3);

        const QString expected =
            QStringLiteral("6 files scanned - 2 duplicate groups - 3 redundant copies (%1). "
                           "Currently selected for removal: 3 files, %1.")
                .arg(bytesText(sizeOf(ticked)));
        QCOMPARE(v.summary->text(), expected);

        QCOMPARE(v.tree->currentIndex(), v.model->index(0, 0));
        QVERIFY(v.player->hasAudio(ComparePlayer::A));
        QVERIFY(v.player->hasAudio(ComparePlayer::B));
        QVERIFY(v.logText().contains("--- Scan started "));
        QVERIFY(v.logText().contains("--- Scan complete in "));
    }

    void scanWithoutDuplicates()
    {
        MainWindow w;
        w.addScanFolder(m_lib + "/Studio");
        View v(w);
        QVERIFY(scan(w));
        QCOMPARE(v.model->rowCount(), 0);
        QCOMPARE(v.summary->text(), QStringLiteral("Scanned 2 files - no duplicates found."));
    }

    void selectionCommands()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        const QStringList keepers = v.paths(false, true);
        const QStringList others = v.paths(true, false);

        action(w, "Invert Selection")->trigger(); // on a fresh result: the keepers alone
        QCOMPARE(v.paths(true, true), keepers);
        QVERIFY(v.paths(true, false).isEmpty());
        QVERIFY(v.summary->text().contains(QStringLiteral("2 files, %1.").arg(bytesText(sizeOf(keepers)))));

        action(w, "Clear Selection")->trigger();
        QCOMPARE(v.checkedCount(), 0);
        QVERIFY2(v.summary->text().endsWith(
                     QStringLiteral("Currently selected for removal: 0 files, %1.").arg(bytesText(0))),
                 qPrintable(v.summary->text()));

        action(w, "Invert Selection")->trigger(); // nothing ticked: everything, keepers included
        QCOMPARE(v.checkedCount(), keepers.size() + others.size());

        action(w, "Select All Duplicates")->trigger();
        QCOMPARE(v.paths(true, false), others);
        QVERIFY(v.paths(true, true).isEmpty());

        // A tick changed by hand shows in the summary once it settles.
        const int morning = v.groupWith("Morning.flac");
        const int untick = v.keeperRow(morning) == 0 ? 1 : 0;
        const QString unticked = v.file(morning, untick)->toolTip();
        v.file(morning, untick)->setCheckState(Qt::Unchecked);
        QStringList rest = others;
        rest.removeAll(unticked);
        const QString expected = QStringLiteral("Currently selected for removal: %1 files, %2.")
                                     .arg(rest.size())
                                     .arg(bytesText(sizeOf(rest)));
        QTRY_VERIFY2(v.summary->text().endsWith(expected), qPrintable(v.summary->text()));

        // Sizes are those the scan saw: a file grown since is still counted as scanned.
        const qint64 scannedBytes = sizeOf(rest);
        QFile grown(rest.first());
        QVERIFY(grown.open(QIODevice::Append));
        grown.write(QByteArray(4096, 'x'));
        grown.close();
        action(w, "Clear Selection")->trigger();
        for (int g = 0; g < v.model->rowCount(); ++g) {
            for (int r = 0; r < v.group(g)->rowCount(); ++r) {
                if (rest.contains(v.file(g, r)->toolTip()))
                    v.file(g, r)->setCheckState(Qt::Checked);
            }
        }
        QTRY_VERIFY2(
            v.summary->text().endsWith(QStringLiteral("Currently selected for removal: %1 files, %2.")
                                           .arg(rest.size())
                                           .arg(bytesText(scannedBytes))),
            qPrintable(v.summary->text()));
    }

    void filterHidesAndKeepsTicks()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        const int morning = v.groupWith("Morning.flac");
        const int night = v.groupWith("Night.mp3");
        const int untick = v.keeperRow(morning) == 0 ? 1 : 0;
        v.file(morning, untick)->setCheckState(Qt::Unchecked);
        const QStringList before = v.paths(true, false);

        v.filter->setText("  NIGHT pulse ");
        QVERIFY(v.tree->isRowHidden(morning, QModelIndex()));
        QVERIFY(!v.tree->isRowHidden(night, QModelIndex()));
        for (int r = 0; r < 2; ++r)
            QVERIFY(!v.tree->isRowHidden(r, v.group(night)->index()));

        v.filter->setText("archive"); // the folder is part of the path
        QVERIFY(!v.tree->isRowHidden(morning, QModelIndex()));
        int shownMorning = 0;
        for (int r = 0; r < 3; ++r)
            shownMorning += v.tree->isRowHidden(r, v.group(morning)->index()) ? 0 : 1;
        QCOMPARE(shownMorning, 2);

        v.filter->setText("no such thing");
        QVERIFY(v.tree->isRowHidden(morning, QModelIndex()));
        QVERIFY(v.tree->isRowHidden(night, QModelIndex()));
        QCOMPARE(v.paths(true, false), before); // hidden rows keep their ticks

        v.filter->setText("   ");
        for (int g : {morning, night}) {
            QVERIFY(!v.tree->isRowHidden(g, QModelIndex()));
            for (int r = 0; r < v.group(g)->rowCount(); ++r)
                QVERIFY(!v.tree->isRowHidden(r, v.group(g)->index()));
        }
        QCOMPARE(v.paths(true, false), before);
        QCOMPARE(v.file(morning, untick)->checkState(), Qt::Unchecked);

        // A new result is shown through the filter still in the box.
        v.filter->setText("night");
        QVERIFY(scan(w));
        const int morningAgain = v.groupWith("Morning.flac");
        const int nightAgain = v.groupWith("Night.mp3");
        QVERIFY(morningAgain >= 0 && nightAgain >= 0);
        QVERIFY(v.tree->isRowHidden(morningAgain, QModelIndex()));
        QVERIFY(!v.tree->isRowHidden(nightAgain, QModelIndex()));
        QCOMPARE(v.tree->currentIndex(), v.group(nightAgain)->index());
    }

    // The removal dialog tells how many of the ticked files the filter keeps out of sight.
    void removalDialogCountsHiddenTicks()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        v.filter->setText("Night");
        QCOMPARE(v.paths(true, false).size(), 3); // Morning's two copies are ticked but hidden
        QString note;
        DialogDriver driver;
        driver.then([&](QWidget *dialog) {
            auto *label = dialog->findChild<QLabel *>("hiddenTicked");
            if (label)
                note = label->text();
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        });
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(note, QStringLiteral("2 of the ticked files are hidden by the filter."));
        QCOMPARE(filesUnder(m_lib).size(), 6);
    }

    // A group is refused whole, by name, unless a copy it keeps is on disk now as scanned;
    // the refused group is shown and made current even when the filter hid it.
    void unsafeRemovalIsRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("title");
        QTest::newRow("every copy ticked, group filtered out") << "tick all"
                                                               << "Every copy selected";
        QTest::newRow("keeper moved away after the scan") << "move"
                                                          << "Kept copy missing";
        QTest::newRow("keeper changed size") << "grow"
                                             << "Kept copy missing";
        QTest::newRow("keeper replaced by a folder") << "folder"
                                                     << "Kept copy missing";
    }

    void unsafeRemovalIsRefused()
    {
        QFETCH(QString, change);
        QFETCH(QString, title);
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        const int night = v.groupWith("Night.mp3");
        const QString keeper = v.file(night, v.keeperRow(night))->toolTip();
        QVERIFY(QFileInfo(keeper).isFile());
        if (change == QLatin1String("tick all")) {
            for (int r = 0; r < v.group(night)->rowCount(); ++r)
                v.file(night, r)->setCheckState(Qt::Checked);
            v.filter->setText("Morning");
            QVERIFY(v.tree->isRowHidden(night, QModelIndex()));
        } else if (change == QLatin1String("move")) {
            QVERIFY(QFile::rename(keeper, m_work->filePath("moved-away.mp3")));
        } else if (change == QLatin1String("grow")) {
            QFile file(keeper);
            QVERIFY(file.open(QIODevice::Append));
            file.write("tail");
        } else {
            QVERIFY(QFile::remove(keeper));
            QVERIFY(QDir().mkdir(keeper));
        }
        const int before = filesUnder(m_lib).size();
        DialogDriver driver;
        driver.answer(QMessageBox::Ok);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(driver.titles(), QStringList{title});
        const int id = v.group(night)->text().section(' ', 1, 1).toInt();
        QVERIFY2(driver.texts().value(0).startsWith(QStringLiteral("Group %1 ").arg(id)),
                 qPrintable(driver.texts().value(0)));
        QCOMPARE(v.tree->currentIndex(), v.group(night)->index());
        QVERIFY(!v.tree->isRowHidden(night, QModelIndex()));
        QCOMPARE(filesUnder(m_lib).size(), before);
        QVERIFY(filesUnder(m_quarantine).isEmpty());
    }

    // A clean-up runs beside the window: its progress shows files done of the total, and
    // Cancel stops it between two files, leaving the rest where they were.
    void cleanupShowsProgressAndStopsBetweenFiles()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        QVERIFY(scan(w));
        const QStringList ticked = v.paths(true, false);
        QCOMPARE(ticked.size(), 3);

        // Each move waits for the test's word, so the clean-up is caught part way.
        QSemaphore go;
        QAtomicInt moves;
        FileOps::setFaultHook([&](FileOps::Op op, const QString &path, qint64) {
            if (op == FileOps::Op::Rename && path.startsWith(m_lib)) {
                go.tryAcquire(1, 20000);
                moves.fetchAndAddRelaxed(1);
            }
            return 0;
        });
        DialogDriver driver;
        QStringList progress;
        driver.then([](QWidget *dialog) {
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        driver.then([&](QWidget *dialog) {
            // Whatever this step finds, the clean-up must be let go, or the test would hang.
            const auto letGo = qScopeGuard([&go] { go.release(10); });
            QCOMPARE(dialog->objectName(), QStringLiteral("cleanupProgress"));
            auto *text = dialog->findChild<QLabel *>("progressText");
            go.release(1);
            QTRY_COMPARE(moves.loadRelaxed(), 1);
            QTRY_COMPARE(text->text(), QStringLiteral("1 of 3 files done"));
            dialog->findChild<QPushButton *>("cancelCleanup")->click();
            QTRY_VERIFY(text->text().endsWith("Stopping after the current file..."));
            progress << text->text();
        });
        driver.answer(QMessageBox::Ok);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        FileOps::setFaultHook({});
        QVERIFY2(driver.unexpected().isEmpty(), qPrintable(driver.unexpected().join(", ")));
        QCOMPARE(progress.size(), 1);
        QCOMPARE(driver.titles(), QStringList{"Clean-up cancelled"});
        QVERIFY2(driver.texts().value(0).contains("1 file was left in place"),
                 qPrintable(driver.texts().value(0)));
        QCOMPARE(moves.loadRelaxed(), 2);
        int stayed = 0;
        for (const QString &p : ticked)
            stayed += QFileInfo::exists(p) ? 1 : 0;
        QCOMPARE(stayed, 1);
        QCOMPARE(filesUnder(m_quarantine).size(), 2);
        QVERIFY(v.logText().contains("Clean-up cancelled: 1 file left in place."));
        QCOMPARE(v.paths(true, false).size(), 1);

        // The two that moved come back; undo empties the quarantine batch.
        DialogDriver undo;
        undo.then([](QWidget *dialog) { qobject_cast<QInputDialog *>(dialog)->accept(); });
        undo.answer(QMessageBox::Ok);
        action(w, "Undo Previous Clean-up...")->trigger();
        QTRY_VERIFY(undo.done());
        for (const QString &p : ticked)
            QVERIFY2(QFileInfo::exists(p), qPrintable(p));
    }

    void quarantineRemovalPrunesAndUndoRestores()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        QVERIFY(scan(w));
        const int morning = v.groupWith("Morning.flac");
        // Keep one duplicate of the three identical copies, so that group survives the pruning.
        const int spare = v.keeperRow(morning) == 0 ? 1 : 0;
        v.file(morning, spare)->setCheckState(Qt::Unchecked);
        const QStringList removed = v.paths(true, false);
        QCOMPARE(removed.size(), 2);

        DialogDriver driver;
        QString hint;
        driver.then([&](QWidget *dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Remove duplicates"));
            QVERIFY(dialog->findChild<QRadioButton *>("modeQuarantine")->isChecked());
            hint = dialog->findChild<QLabel *>("quarantineHint")->text();
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(dialog)), QStringList());
            buttons->button(QDialogButtonBox::Ok)->click();
        });
        driver.answer(QMessageBox::Ok);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QVERIFY(driver.unexpected().isEmpty());
        QVERIFY(hint.contains(m_quarantine.toHtmlEscaped()));
        QVERIFY(hint.contains("Undo Previous Clean-up"));
        QCOMPARE(driver.titles(), QStringList{"Clean-up complete"});
        const QString text = driver.texts().value(0);
        QVERIFY2(text.startsWith(QStringLiteral("Removed 2 files, freeing ")), qPrintable(text));
        QVERIFY2(text.endsWith("\n\nThis clean-up can be reversed from Tools > Undo Previous Clean-up."),
                 qPrintable(text));

        for (const QString &p : removed)
            QVERIFY2(!QFileInfo::exists(p), qPrintable(p));
        QCOMPARE(filesUnder(m_quarantine).size(), 2);
        QVERIFY(v.logText().contains("Move to quarantine: 2 succeeded, 0 failed, "));
        // The night group lost a copy and went; the morning group keeps its two rows.
        QCOMPARE(v.model->rowCount(), 1);
        QCOMPARE(v.group(0)->rowCount(), 2);
        QVERIFY(v.group(0)->child(0)->toolTip().contains("Morning"));
        QVERIFY(!v.player->hasAudio(ComparePlayer::A));
        QVERIFY(!v.player->hasAudio(ComparePlayer::B));
        QVERIFY(v.summary->text().contains("Currently selected for removal: 0 files"));
        // The emptied group left the counts too.
        QVERIFY2(v.summary->text().startsWith("6 files scanned - 1 duplicate group - 1 redundant copy ("),
                 qPrintable(v.summary->text()));

        DialogDriver undo;
        undo.then([](QWidget *dialog) {
            auto *input = qobject_cast<QInputDialog *>(dialog);
            QVERIFY(input);
            QCOMPARE(input->windowTitle(), QStringLiteral("Undo previous clean-up"));
            QCOMPARE(input->labelText(), QStringLiteral("Select the clean-up to reverse:"));
            QVERIFY(input->textValue().endsWith(" - 2 files"));
            input->accept();
        });
        undo.answer(QMessageBox::Ok);
        action(w, "Undo Previous Clean-up...")->trigger();
        QTRY_VERIFY(undo.done());
        QCOMPARE(undo.titles(), QStringList{"Undo complete"});
        QCOMPARE(undo.texts(), QStringList{"Restored 2 files to their original locations."});
        for (const QString &p : removed)
            QVERIFY2(QFileInfo::exists(p), qPrintable(p));
        QVERIFY(v.logText().contains("Undo: 2 restored, 0 failed."));
        QVERIFY(ActionRunner::manifests().isEmpty());
        // The restored copies are back in the tree and the counts.
        QCOMPARE(v.model->rowCount(), 2);
        QVERIFY(v.groupWith("Night.mp3") >= 0);
        QCOMPARE(v.group(v.groupWith("Morning.flac"))->rowCount(), 3);
        QVERIFY2(v.summary->text().startsWith("6 files scanned - 2 duplicate groups - 3 redundant copies ("),
                 qPrintable(v.summary->text()));

        DialogDriver nothing;
        nothing.answer(QMessageBox::Ok);
        action(w, "Undo Previous Clean-up...")->trigger();
        QTRY_VERIFY(nothing.done());
        QCOMPARE(nothing.titles(), QStringList{"Nothing to undo"});
    }

    void unreadableUndoRecordIsAFailure()
    {
        QVERIFY(QDir().mkpath(ActionRunner::manifestDirectory()));
        const QString manifest = ActionRunner::manifestDirectory() + "/undo-20261207-081500.json";
        QFile f(manifest);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{ not an undo record");
        f.close();

        MainWindow w;
        View v(w);
        DialogDriver driver;
        driver.then([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->accept(); });
        driver.answer(QMessageBox::Ok);
        action(w, "Undo Previous Clean-up...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(driver.titles().value(0), QStringLiteral("Undo failed"));
        QVERIFY2(driver.texts().value(0).contains(manifest), qPrintable(driver.texts().value(0)));
        QVERIFY(QFileInfo::exists(manifest)); // the only record of where files went stays
    }

    void quarantineWithoutUndoRecordMovesNothing()
    {
        // Where the undo folder should be there is a plain file, so no manifest can be written.
        const QString undoDir = ActionRunner::manifestDirectory();
        QVERIFY(QDir(undoDir).removeRecursively());
        QFile blocker(undoDir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        const int before = filesUnder(m_lib).size();
        DialogDriver driver;
        driver.then([](QWidget *dialog) {
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        driver.answer(QMessageBox::Ok);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QFile::remove(undoDir);

        const QString text = driver.texts().value(0);
        QVERIFY2(text.startsWith("Removed 0 files"), qPrintable(text));
        QVERIFY2(!text.contains("can be reversed"), qPrintable(text));
        QVERIFY(v.logText().contains("Nothing was moved: the undo manifest cannot be written"));
        QCOMPARE(filesUnder(m_lib).size(), before);
        QVERIFY(filesUnder(m_quarantine).isEmpty());
    }

    void permanentDeletionAsksTwice()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        DialogDriver driver;
        driver.then([](QWidget *dialog) {
            dialog->findChild<QRadioButton *>("modeDelete")->setChecked(true);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        driver.answer(QMessageBox::Cancel);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(driver.titles(), QStringList{"Permanent deletion"});
        QCOMPARE(driver.texts(),
                 QStringList{"3 files will be deleted permanently and cannot be recovered.\n\n"
                             "Are you certain?"});
        QCOMPARE(filesUnder(m_lib).size(), 6);
        QCOMPARE(v.model->rowCount(), 2);

        DialogDriver again;
        again.then([](QWidget *dialog) {
            dialog->findChild<QRadioButton *>("modeDelete")->setChecked(true);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        again.answer(QMessageBox::Yes);
        again.answer(QMessageBox::Ok);
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(again.done());
        QCOMPARE(again.titles(), QStringList({"Permanent deletion", "Clean-up complete"}));
        QVERIFY2(!again.texts().value(1).contains("Undo"), qPrintable(again.texts().value(1)));
        QCOMPARE(filesUnder(m_lib).size(), 3);
        QCOMPARE(v.model->rowCount(), 0);
        QVERIFY(ActionRunner::manifests().isEmpty());
    }

    void changingQuarantineThenCancelling()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        const QString other = m_work->filePath("Elsewhere");
        QDir().mkpath(other);
        DialogDriver driver;
        QString hint;
        driver.then([](QWidget *dialog) {
            QTimer::singleShot(0, dialog->findChild<QPushButton *>("changeQuarantine"), &QPushButton::click);
        });
        driver.then([other](QWidget *picker) {
            auto *fd = qobject_cast<QFileDialog *>(picker);
            QVERIFY(fd);
            QCOMPARE(fd->windowTitle(), QStringLiteral("Choose a quarantine folder"));
            typeIntoFileDialog(fd, other);
        });
        driver.then([&hint](QWidget *dialog) {
            hint = dialog->findChild<QLabel *>("quarantineHint")->text();
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        });
        action(w, "Remove Selected...")->trigger();
        QTRY_VERIFY(driver.done());
        QVERIFY2(hint.contains(other) && !hint.contains("Undo"), qPrintable(hint));
        QCOMPARE(filesUnder(m_lib).size(), 6);
        w.close();
        QCOMPARE(QSettings().value("safety/quarantineRoot").toString(), other);
    }

    // The report's format and its file name's suffix always agree: a known suffix decides the
    // format, and a name without one gets the chosen format's.
    void exportFormatAndSuffix_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("kind");
        QTest::newRow("HTML, no suffix") << "report" << 0 << "report.html"
                                         << "html";
        QTest::newRow("CSV, no suffix") << "report" << 1 << "report.csv"
                                        << "csv";
        QTest::newRow("JSON, no suffix") << "report" << 2 << "report.json"
                                         << "json";
        QTest::newRow("M3U, no suffix") << "report" << 3 << "report.m3u8"
                                        << "m3u";
        QTest::newRow(".csv typed with HTML chosen") << "report.csv" << 0 << "report.csv"
                                                     << "csv";
        QTest::newRow(".JSON typed with M3U chosen") << "report.JSON" << 3 << "report.JSON"
                                                     << "json";
        QTest::newRow("other suffix kept, format's added") << "report.v2" << 1 << "report.v2.csv"
                                                           << "csv";
    }

    void exportFormatAndSuffix()
    {
        QFETCH(QString, name);
        QFETCH(int, filter);
        QFETCH(QString, written);
        QFETCH(QString, kind);
        MainWindow w;
        w.addScanFolder(m_lib);
        {
            DialogDriver driver;
            driver.answer(QMessageBox::Ok);
            action(w, "Export Report...")->trigger();
            QTRY_VERIFY(driver.done());
            QCOMPARE(driver.titles(), QStringList{"Nothing to export"});
        }
        View v(w);
        QVERIFY(scan(w));
        const QStringList filters{"HTML report (*.html)", "Comma separated values (*.csv)",
                                  "JSON data (*.json)", "M3U playlist (*.m3u8)"};
        const QString file = m_work->filePath(written);
        DialogDriver driver;
        QStringList offered;
        driver.then([&](QWidget *dialog) {
            auto *fd = qobject_cast<QFileDialog *>(dialog);
            QVERIFY(fd);
            offered = fd->nameFilters();
            fd->selectNameFilter(filters[filter]);
            typeIntoFileDialog(fd, m_work->filePath(name));
        });
        driver.answer(QMessageBox::No);
        action(w, "Export Report...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(offered, filters);
        QCOMPARE(driver.titles(), QStringList{"Report saved"});
        QCOMPARE(driver.texts(),
                 QStringList{QStringLiteral("Report saved to:\n%1\n\nOpen it now?").arg(file)});
        QVERIFY(v.logText().contains("Report written to " + file));
        QFile f(file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
        const QByteArray content = f.readAll();
        QVERIFY(!content.isEmpty());
        const bool html = content.toLower().contains("<html");
        const bool json = QJsonDocument::fromJson(content).isObject();
        const bool m3u = content.startsWith("#EXTM3U") || content.startsWith("\xEF\xBB\xBF#EXTM3U");
        if (kind == QLatin1String("html")) {
            QVERIFY(html && !json && !m3u);
        } else if (kind == QLatin1String("csv")) {
            QVERIFY(!html && !json && !m3u && content.contains(','));
        } else if (kind == QLatin1String("json")) {
            QVERIFY(json && !html);
        } else {
            QVERIFY(m3u && !html);
            QVERIFY(content.contains(QFileInfo(v.paths(true, false).first()).fileName().toUtf8()));
        }
    }

    // The file dialog only asked about the name typed; the one with a suffix added is not
    // replaced without asking.
    void exportAsksBeforeReplacingSuffixedName()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        QVERIFY(scan(w));
        const QString existing = m_work->filePath("report.csv");
        {
            QFile f(existing);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me");
        }
        DialogDriver driver;
        driver.then([&](QWidget *dialog) {
            auto *fd = qobject_cast<QFileDialog *>(dialog);
            QVERIFY(fd);
            fd->selectNameFilter("Comma separated values (*.csv)");
            typeIntoFileDialog(fd, m_work->filePath("report"));
        });
        driver.answer(QMessageBox::No);
        action(w, "Export Report...")->trigger();
        QTRY_VERIFY(driver.done());
        QCOMPARE(driver.titles(), QStringList{"Replace report"});
        QFile f(existing);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(m_work->filePath("report")));
    }

    void keepThisCopyInstead()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        QVERIFY(scan(w));
        const int morning = v.groupWith("Morning.flac");
        const int night = v.groupWith("Night.mp3");
        const int oldKeeper = v.keeperRow(night);
        const int chosen = 1 - oldKeeper;
        const QString groupText = v.group(night)->text();

        // A group row offers no menu.
        {
            DialogDriver driver;
            driver.then([](QWidget *menu) { menu->close(); });
            const QPoint groupPos = v.tree->visualRect(v.group(night)->index()).center();
            QVERIFY(QMetaObject::invokeMethod(&w, "onTreeContextMenu", Q_ARG(QPoint, groupPos)));
            QCOMPARE(driver.handled(), 0);
        }

        DialogDriver driver;
        QStringList entries;
        driver.then([&](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            QVERIFY(menu);
            for (QAction *a : menu->actions())
                entries << (a->isSeparator() ? QStringLiteral("|") : a->text());
            for (QAction *a : menu->actions()) {
                if (a->text() == "Keep this copy instead")
                    a->trigger();
            }
            menu->close();
        });
        const QPoint pos = v.tree->visualRect(v.file(night, chosen)->index()).center();
        QVERIFY(QMetaObject::invokeMethod(&w, "onTreeContextMenu", Q_ARG(QPoint, pos)));
        QTRY_VERIFY(driver.done());
        QCOMPARE(entries, QStringList({"Load into Deck A", "Load into Deck B", "|", "Play in system player",
                                       "Open containing folder", "Copy full path", "|",
                                       "Keep this copy instead", "|", "File details..."}));

        QVERIFY(v.file(night, chosen)->data(Results::KeeperRole).toBool());
        QVERIFY(!v.file(night, oldKeeper)->data(Results::KeeperRole).toBool());
        QCOMPARE(v.file(night, chosen)->checkState(), Qt::Unchecked);
        QCOMPARE(v.file(night, oldKeeper)->checkState(), Qt::Checked);
        QStandardItem *keepCell = v.group(night)->child(chosen, 1);
        QCOMPARE(keepCell->text(), QStringLiteral("KEEP"));
        QVERIFY(keepCell->font().bold());
        QCOMPARE(keepCell->foreground().color().name(), QStringLiteral("#146c2e"));
        QStandardItem *dupCell = v.group(night)->child(oldKeeper, 1);
        QCOMPARE(dupCell->text(), QStringLiteral("duplicate"));
        QCOMPARE(dupCell->font().weight(), QFont::Normal);
        QVERIFY(!dupCell->data(Qt::ForegroundRole).isValid());
        QCOMPARE(v.group(night)->text(), groupText);

        // The redundant total now counts the old keeper instead of the chosen copy.
        QStringList reclaim;
        for (int g : {morning, night}) {
            for (int r = 0; r < v.group(g)->rowCount(); ++r) {
                if (!v.file(g, r)->data(Results::KeeperRole).toBool())
                    reclaim << v.file(g, r)->toolTip();
            }
        }
        QVERIFY2(v.summary->text().contains(
                     QStringLiteral("3 redundant copies (%1)").arg(bytesText(sizeOf(reclaim)))),
                 qPrintable(v.summary->text()));
    }

    void fileDetailsShowEveryField()
    {
        // A per-cent sign and digit in a name, as in a URL-encoded download, must stay as it is.
        const QString odd = m_lib + "/Archive/Night %2 retag.mp3";
        QVERIFY(QFile::rename(m_lib + "/Archive/Night retag.mp3", odd));
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        QVERIFY(scan(w));
        const int night = v.groupWith("Night %2");
        QVERIFY(night >= 0);
        int row = 0;
        while (!v.file(night, row)->toolTip().contains("%2"))
            ++row;

        QString text;
        DialogDriver menuDriver;
        menuDriver.then([&](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            QVERIFY(menu);
            auto *boxDriver = new DialogDriver; // its own timer runs inside the box's event loop
            boxDriver->then([&](QWidget *box) {
                text = qobject_cast<QMessageBox *>(box)->text();
                box->close();
            });
            menu->close();
            for (QAction *a : menu->actions()) {
                if (a->text() == "File details...")
                    a->trigger();
            }
            delete boxDriver;
        });
        const QPoint pos = v.tree->visualRect(v.file(night, row)->index()).center();
        QVERIFY(QMetaObject::invokeMethod(&w, "onTreeContextMenu", Q_ARG(QPoint, pos)));
        QTRY_VERIFY(menuDriver.done());

        QFile file(odd);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sha = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
        QVERIFY2(text.startsWith("<b>Night %2 retag.mp3</b><br><br>Folder: " + m_lib + "/Archive<br>"),
                 qPrintable(text));
        QVERIFY2(text.contains("<br>Title: Night Pulse (Edit)<br>"), qPrintable(text));
        QVERIFY2(text.contains("<br><br>SHA-256: " + sha + "<br>Audio SHA-256: "), qPrintable(text));
        QVERIFY2(text.endsWith("<br>Fingerprint words: 0"), qPrintable(text)); // acoustic matching is off
    }

    void clearCacheThenCancel()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        View v(w);
        QVERIFY(scan(w));
        {
            CacheDatabase cache;
            QVERIFY(cache.open());
            QVERIFY(cache.rowCount() > 0);
        }
        DialogDriver driver;
        driver.then([](QWidget *dialog) {
            QVERIFY(qobject_cast<SettingsDialog *>(dialog));
            dialog->findChild<QPushButton *>("clearCache")->click();
            qobject_cast<QDialog *>(dialog)->reject();
        });
        action(w, "Settings...")->trigger();
        QTRY_VERIFY(driver.done());
        QVERIFY(v.logText().contains("Analysis cache cleared."));
        QVERIFY(!v.logText().contains("Settings updated."));
        CacheDatabase cache;
        QVERIFY(cache.open());
        QCOMPARE(cache.rowCount(), 0);
    }

    void acceptedSettingsAreStored()
    {
        MainWindow w;
        View v(w);
        DialogDriver driver;
        driver.then([](QWidget *dialog) {
            dialog->findChild<QLineEdit *>("updateUrl")->clear();
            dialog->findChild<QCheckBox *>("detectMetadata")->setChecked(true);
            qobject_cast<QDialog *>(dialog)->accept();
        });
        action(w, "Settings...")->trigger();
        QTRY_VERIFY(driver.done());
        QVERIFY(v.logText().contains("Settings updated."));
        QSettings s;
        QCOMPARE(s.value("detect/metadata").toBool(), true);
        QCOMPARE(s.value("updates/url").toString(), AppInfo::defaultUpdateEndpoint());
    }

    void settingsLoadAndSave()
    {
        {
            QSettings s;
            s.setValue("scan/folders", QStringList{m_lib, m_work->filePath("gone")});
            s.setValue("audition/showPlayer", false);
            s.setValue("audition/linked", false);
            s.setValue("detect/keeperPolicy", 6);
            s.setValue("files/minBytes", 4096);
            s.setValue("files/extensions", QStringList{"mp3"});
        }
        MainWindow w;
        w.show();
        QCOMPARE(w.scanFolders(), QStringList{m_lib});
        QVERIFY(!action(w, "Comparison Player")->isChecked());
        QVERIFY(!View(w).player->isVisible());
        QVERIFY(!action(w, "Keep Decks in Sync")->isChecked());
        QVERIFY(!View(w).player->isLinked());
        action(w, "Comparison Player")->setChecked(true);
        QVERIFY(View(w).player->isVisible());
        // The librarian's column widths and the split between folders and results come back.
        auto *splitter = w.findChild<QSplitter *>("mainSplitter");
        auto *tree = w.findChild<QTreeView *>();
        QVERIFY(splitter && tree);
        splitter->setSizes({400, 700});
        const QList<int> sizes = splitter->sizes();
        tree->header()->resizeSection(0, 333);
        QVERIFY(w.close());
        {
            MainWindow again;
            again.show();
            QCOMPARE(again.findChild<QSplitter *>("mainSplitter")->sizes(), sizes);
            QCOMPARE(again.findChild<QTreeView *>()->header()->sectionSize(0), 333);
        }

        QSettings s;
        QCOMPARE(s.value("scan/folders").toStringList(), QStringList{m_lib});
        QCOMPARE(s.value("audition/showPlayer").toBool(), true);
        QCOMPARE(s.value("audition/linked").toBool(), false);
        QCOMPARE(s.value("detect/keeperPolicy").toInt(), 6);
        QCOMPARE(s.value("files/minBytes").toLongLong(), 4096);
        QCOMPARE(s.value("files/extensions").toStringList(), QStringList{"mp3"});
        QCOMPARE(s.value("safety/quarantineRoot").toString(), m_quarantine);
        QVERIFY(s.contains("window/geometry"));
        QVERIFY(s.contains("window/state"));
        QVERIFY(s.contains("perf/decoderThreads"));
        QVERIFY(!s.contains("updates/url"));
    }

    void firstStartDefaults()
    {
        QSettings().clear();
        QSettings().setValue("updates/checkOnStartup", false); // no network from the test
        MainWindow w;
        w.show();
        QVERIFY(action(w, "Comparison Player")->isChecked());
        QVERIFY(View(w).player->isVisible());
        QVERIFY(action(w, "Keep Decks in Sync")->isChecked());
        QVERIFY(w.scanFolders().isEmpty());
        w.resize(1150, 640); // the saved geometry must bring this back
        QVERIFY(w.close());
        QSettings s;
        QCOMPARE(s.value("safety/quarantineRoot").toString(), ActionRunner::defaultQuarantineRoot());
        QCOMPARE(s.value("audition/showPlayer").toBool(), true);
        QCOMPARE(s.value("audition/linked").toBool(), true);

        MainWindow again;
        QCOMPARE(again.size(), QSize(1150, 640));
    }

    void closingDuringScanAsks()
    {
        MainWindow w;
        w.addScanFolder(m_lib);
        w.show();
        View v(w);
        DialogDriver no;
        no.answer(QMessageBox::No);
        action(w, "Start Scan")->trigger();
        QVERIFY(!w.close());
        QTRY_VERIFY(no.done());
        QCOMPARE(no.titles(), QStringList{"Scan in progress"});
        QCOMPARE(no.texts(), QStringList{"A scan is still running. Stop it and close Ravelwick?"});
        QVERIFY(w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(v.status->text().startsWith("Scan complete in"), kScanTimeoutMs);
        QCOMPARE(v.model->rowCount(), 2);

        DialogDriver yes;
        yes.answer(QMessageBox::Yes);
        action(w, "Start Scan")->trigger();
        QVERIFY(w.close());
        QCOMPARE(yes.titles(), QStringList{"Scan in progress"});
        QVERIFY(!w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(action(w, "Start Scan")->isEnabled(), kScanTimeoutMs);
    }

    void updateResults()
    {
        // A local update service answering each request with the next document.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QList<QByteArray> bodies{
            R"({"latest_version": "1.0.0"})",
            R"({"latest_version": "9.1.0", "release_date": "2026-12-05", "notes": "Better."})", "not json"};
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &bodies] {
                if (!socket->readAll().contains("\r\n\r\n") || bodies.isEmpty())
                    return;
                const QByteArray body = bodies.takeFirst();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                              "Content-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
        QSettings().setValue("updates/url",
                             QStringLiteral("http://127.0.0.1:%1/api/latest.json").arg(server.serverPort()));
        MainWindow w;
        View v(w);

        DialogDriver upToDate;
        upToDate.answer(QMessageBox::Ok);
        action(w, "Check for Updates...")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(upToDate.done(), 20000);
        QCOMPARE(upToDate.titles(), QStringList{"No update available"});
        QCOMPARE(upToDate.texts(), QStringList{"You are running the latest version of Ravelwick (1.0.0)."});
        QVERIFY(v.logText().contains("Ravelwick 1.0.0 is up to date."));

        DialogDriver offer;
        QString heading;
        offer.then([&heading](QWidget *dialog) {
            QVERIFY(qobject_cast<UpdateDialog *>(dialog));
            heading = dialog->findChild<QLabel *>("heading")->text();
            dialog->findChild<QPushButton *>("laterButton")->click();
        });
        action(w, "Check for Updates...")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(offer.done(), 20000);
        QCOMPARE(heading, QStringLiteral("Ravelwick 9.1.0 is available"));
        QVERIFY(v.logText().contains("Update available: version 9.1.0."));

        DialogDriver failure;
        failure.answer(QMessageBox::Ok);
        action(w, "Check for Updates...")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(failure.done(), 20000);
        QCOMPARE(failure.titles(), QStringList{"Update check failed"});
        QVERIFY(failure.texts().value(0).startsWith("Could not reach the update service.\n\n"));
        QVERIFY(v.logText().contains("Update check failed: "));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
