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

#include <QtTest>
#include <QtWidgets>

#include <fstream>

using namespace rvw;
using rvwtest::DialogDriver;
using MB = QMessageBox;

namespace {

constexpr int kScanTimeoutMs = 90000;
constexpr int kTicks = -1, kShown = -2; // what Win::rows() reports instead of a column

// The window as a user sees it, through its widgets.
struct Win : MainWindow
{
    explicit Win(const QString &folder = {}) { addScanFolder(folder); }

    QTreeView *tree = findChild<QTreeView *>("resultsTree");
    QStandardItemModel *model = qobject_cast<QStandardItemModel *>(tree->model());
    QLabel *summary = findChild<QLabel *>("summaryLabel"), *status = findChild<QLabel *>("statusLabel");
    QLineEdit *filter = findChild<QLineEdit *>("filterBox");
    ComparePlayer *player = findChild<ComparePlayer *>("comparePlayer");
    QProgressBar *bar = findChild<QProgressBar *>("progressBar");

    QAction *act(const QString &text) const
    {
        const auto all = findChildren<QAction *>();
        const auto it = std::find_if(all.begin(), all.end(),
                                     [&](QAction *a) { return QString(a->text()).remove('&') == text; });
        return it == all.end() ? nullptr : *it;
    }
    QString log() const { return findChild<QPlainTextEdit *>("logView")->toPlainText(); }
    QStandardItem *file(int g, int r) const { return model->item(g)->child(r); }
    // Per file row, groups split by '|': `column`'s text (rows split by ','), or for kTicks 'x' when
    // ticked, or for kShown '+' when shown (the group's own row first).
    QString rows(int column = kTicks) const
    {
        QString out;
        for (int g = 0; g < model->rowCount(); ++g) {
            out += QString(g ? "|" : "") + (column == kShown ? (tree->isRowHidden(g, {}) ? "-" : "+") : "");
            for (int r = 0; r < model->item(g)->rowCount(); ++r)
                out += column >= 0        ? QString(r ? "," : "") + model->item(g)->child(r, column)->text()
                       : column == kTicks ? (file(g, r)->checkState() == Qt::Checked ? "x" : "-")
                                          : (tree->isRowHidden(r, model->index(g, 0)) ? "-" : "+");
        }
        return out;
    }
    // Calls a slot by name, as the scan controller's signals do.
    template <typename... A> bool call(const char *slot, const A &...args)
    {
        return QMetaObject::invokeMethod(this, slot, QArgument<A>(QMetaType::fromType<A>().name(), args)...);
    }
    bool scan()
    {
        status->clear(); // a second scan must not be taken as done by the first one's status
        act("Start Scan")->trigger();
        return QTest::qWaitFor([&] { return status->text().startsWith("Scan complete in"); }, kScanTimeoutMs);
    }
    // Triggers `action`: `steps` take the dialogs it opens, then message boxes get `buttons`.
    // Returns the boxes' titles (their texts go to `texts`) and anything the driver did not expect.
    QStringList run(const QString &action, const QList<DialogDriver::Step> &steps,
                    const QList<MB::StandardButton> &buttons = {}, QStringList *texts = nullptr)
    {
        DialogDriver driver;
        for (const DialogDriver::Step &step : steps)
            driver.then(step);
        for (MB::StandardButton button : buttons)
            driver.answer(button);
        act(action)->trigger();
        (void)QTest::qWaitFor([&] { return driver.done(); }, 30000);
        if (texts)
            *texts = driver.texts();
        return driver.titles() + driver.unexpected();
    }
    // Opens the file menu on row `r` of group `g` and triggers the entry `pick`, whose dialog goes
    // to `then`. Returns the entries ("|" for a separator); none when no menu opened.
    QStringList menu(int g, int r, const QString &pick = {}, const DialogDriver::Step &then = {})
    {
        QStringList entries;
        DialogDriver driver;
        driver.then([&](QWidget *popup) {
            popup->close();
            DialogDriver box;
            if (then)
                box.then(then);
            for (QAction *a : popup->actions()) {
                entries << (a->isSeparator() ? QStringLiteral("|") : a->text());
                if (a->text() == pick)
                    a->trigger();
            }
        });
        const QModelIndex index = r < 0 ? model->index(g, 0) : file(g, r)->index();
        call("onTreeContextMenu", tree->visualRect(index).center());
        return entries;
    }
};

// A removal dialog step: picks `mode` and presses `button`.
DialogDriver::Step removeAs(const QString &mode,
                            QDialogButtonBox::StandardButton button = QDialogButtonBox::Ok)
{
    return [=](QWidget *d) {
        d->findChild<QRadioButton *>(mode)->setChecked(true);
        d->findChild<QDialogButtonBox *>()->button(button)->click();
    };
}

// A file dialog step: types `path` into the name box and accepts it, as a user pressing Enter would.
DialogDriver::Step typeName(const QString &path)
{
    return [=](QWidget *d) {
        d->findChild<QLineEdit *>("fileNameEdit")->setText(path);
        static_cast<QDialog *>(d)->accept(); // the file dialog's own accept, which checks the name
    };
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) &&
           f.write(data) == data.size();
}

QStringList filesIn(const QString &root)
{
    QStringList found;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        found << it.next();
    return found;
}

// The size of `paths` on disk now, in the window's units.
QString bytes(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &p : paths)
        total += QFileInfo(p).size();
    return QLocale().formattedDataSize(total, 2, QLocale::DataSizeTraditionalFormat);
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home, m_source;
    QScopedPointer<QTemporaryDir> m_work;
    QString m_lib, m_quarantine;

    QString work(const QString &name) const { return m_work->filePath(name); }
    QString lib(const QString &name) const { return m_lib + '/' + name; }

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(m_home.path())); // settings, cache, undo records, recycle bin
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("RavelwickTests");
        QCoreApplication::setApplicationName("tst_mainwindow");
        // As a user in Britain sees the window: English plurals, day-first dates.
        QVERIFY(Translations::install(QLocale(QLocale::English, QLocale::UnitedKingdom))
                    .contains("ravelwick_en"));
        Platform::applyDecoderRanking();
        if (rvwtest::ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed; the test library cannot be generated");
        // Morning: three identical copies; Night: one recording tagged twice; Tide: alone.
        const QString root = m_source.path() + '/';
        QString error;
        QVERIFY(QDir().mkpath(root + "Studio") && QDir().mkpath(root + "Archive") &&
                QDir().mkpath(root + "Incoming"));
        QVERIFY2(rvwtest::ffmpeg(
                     rvwtest::melodyInput(1, 6) + rvwtest::melodyInput(2, 6) + rvwtest::melodyInput(3, 6) +
                         QStringList{"-map", "0", root + "Studio/Morning.flac", "-map", "1", "-metadata",
                                     "title=Night Pulse", root + "Incoming/Night.mp3", "-map", "2",
                                     root + "Studio/Tide.flac"},
                     &error) &&
                     rvwtest::ffmpeg({"-i", root + "Incoming/Night.mp3", "-c", "copy", "-metadata",
                                      "title=Night Pulse (Edit)", root + "Archive/Night retag.mp3"},
                                     &error),
                 qPrintable(error));
        QVERIFY(QFile::copy(root + "Studio/Morning.flac", root + "Archive/Morning copy.flac") &&
                QFile::copy(root + "Studio/Morning.flac", root + "Archive/Morning copy 2.flac"));
    }

    void init()
    {
        m_work.reset(new QTemporaryDir);
        m_lib = work("Library");
        m_quarantine = work("Quarantine");
        QCOMPARE(QProcess::execute("cp", {"-a", m_source.path(), m_lib}), 0);
        QDir(ActionRunner::manifestDirectory()).removeRecursively();
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash")
            .removeRecursively();
        QSettings s;
        s.clear();
        s.setValue("updates/checkOnStartup", false);
        s.setValue("safety/quarantineRoot", m_quarantine);
        s.setValue("detect/acoustic", false); // hash tiers only: quick and exact
    }

    // The texts and colours of the tree's cells, apart from a scan.
    void resultCells()
    {
        QStringList texts;
        for (qint64 ms : {0, 59999, 61000, 3599999, 3600000, 3723000, 93600000})
            texts << Results::formatDuration(ms);
        for (MatchTier tier : {Identical, SameAudio, Acoustic, Metadata, Unmatched})
            texts << Results::tierColour(tier).name();
        QCOMPARE(texts.join(' '),
                 "- 0:59 1:01 59:59 1:00:00 1:02:03 26:00:00 #146c2e #1c5a8a #b35a0f #a11a1a #a11a1a");
        TrackInfo t;
        t.path = "/srv/music/a.mp3";
        t.error = "Truncated frame header";
        const QList<QStandardItem *> row = Results::fileRow(t, 4, 1, false);
        QCOMPARE(row[0]->toolTip() + '|' + row[Results::FolderColumn]->text(),
                 "/srv/music/a.mp3\n\nNote: Truncated frame header|/srv/music");
        qDeleteAll(row);
    }

    // Before a scan: every command within reach of Alt and a letter; folders join the list once
    // however they are typed or dropped; Ctrl+F goes to the filter; a scan needs a folder and a
    // way of matching.
    void beforeScan()
    {
        Win w;
        QStringList reach = rvwtest::keyboardTexts(&w);
        for (QAction *a : w.menuBar()->actions()) {
            reach << a->text();
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::menuTexts(a->menu())), QStringList());
        }
        for (const QLabel *label : w.findChildren<QLabel *>())
            if (label->buddy())
                reach << label->text();
        QCOMPARE(rvwtest::mnemonicProblems(reach), QStringList());
        QCOMPARE(w.summary->text(), "No scan has been run yet.");
        QVERIFY(!w.act("Stop")->isEnabled() && w.log().contains("Ravelwick 1.0.0 ready."));
        QCOMPARE(w.run("Start Scan", {}, {MB::Ok}), QStringList{"Nothing to scan"});
        w.player->setLinked(false); // the player's LINK lamp and the menu's entry are one setting
        QVERIFY(!w.act("Keep Decks in Sync")->isChecked());

        const QString music = work("Music"), lower = work("music"), tide = lib("Studio/Tide.flac");
        QVERIFY(QDir().mkpath(music) && QDir().mkpath(lower));
        for (const QString &p :
             {music, lower, music, music + "/../Music", music + "/", work("gone"), tide, QString()})
            w.addScanFolder(p);
        auto *list = w.findChild<QListWidget *>("folderList");
        QVERIFY(list->textElideMode() == Qt::ElideMiddle &&
                list->item(0)->toolTip() == QDir::toNativeSeparators(music));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(tide)});
        QDragEnterEvent refused(QPoint(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &refused);
        QVERIFY(!refused.isAccepted());
        data.setUrls({QUrl::fromLocalFile(m_lib), QUrl::fromLocalFile(tide)});
        QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(9, 9), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(QApplication::sendEvent(list->viewport(), &enter) && enter.isAccepted());
        QApplication::sendEvent(list->viewport(), &drop);
        QCOMPARE(w.scanFolders(), QStringList({music, lower, m_lib}));
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        list->setFocus();
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(w.filter->hasFocus());

        for (const char *key : {"detect/identical", "detect/sameAudio", "detect/acoustic", "detect/metadata"})
            QSettings().setValue(key, false);
        Win none(m_lib);
        QCOMPARE(none.run("Start Scan", {}, {MB::Ok}), QStringList{"No detection method enabled"});
        QVERIFY(!none.log().contains("--- Scan started"));
    }

    // Progress shows in the bar and the status line; a failed scan gives the controls back;
    // "Stopping..." holds until a cancelled scan ends, which never reads as a finished one.
    void scanReports()
    {
        Win w;
        QVERIFY(w.call("onScanStarted") && !w.act("Start Scan")->isEnabled() && w.act("Stop")->isEnabled());
        QVERIFY(w.call("onProgress", 0, 0, QString("12 files found")) && w.bar->maximum() == 0);
        QVERIFY(w.call("onProgress", 3, 10, QString()) && w.bar->value() == 3 && w.bar->maximum() == 10);
        QCOMPARE(w.status->text(), "12 files found");
        QVERIFY(w.call("onScanFailed", QString("disk unplugged")));
        for (const char *name :
             {"Start Scan", "Settings...", "Remove Selected...", "Undo Previous Clean-up..."})
            QVERIFY2(w.act(name)->isEnabled(), name);
        QVERIFY(!w.act("Stop")->isEnabled() && w.bar->isHidden());
        QCOMPARE(w.status->text(), "Scan failed: disk unplugged");
        QVERIFY(w.log().contains("Scan failed: disk unplugged"));
        for (int found : {54, 0}) {
            QVERIFY(w.call("onScanStarted") && w.call("onStopScan"));
            QVERIFY(w.call("onProgress", 5, 54, QString("5 of 54")) &&
                    w.call("onPhaseChanged", QString("Hashing")));
            QCOMPARE(w.status->text(), "Stopping...");
            QVERIFY(
                w.call("onScanFinished", QList<TrackInfo>(found), QList<MatchGroup>(), true, qint64(1200)));
            QVERIFY2(w.status->text().startsWith("Scan cancelled after"), qPrintable(w.status->text()));
            const QString text = w.summary->text();
            QVERIFY2(text.contains("cancelled") && text.contains("incomplete") &&
                         !text.contains("no duplicates"),
                     qPrintable(text));
        }
        QVERIFY(w.call("onScanStarted") && w.call("onPhaseChanged", QString("Scanning folders")));
        QCOMPARE(w.status->text(), "Scanning folders"); // the next scan's reports show again
    }

    // A scan that grouped nothing says what it found and why, and what it could not check.
    void summaryWithoutGroups_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("summary");
        const QString none = "No audio files were found in the scanned folders (looking for: " +
                             ScanOptions().extensions.join(", ") + "), so there was nothing to compare.";
        const QString gaps = " Not checked: %1 - see the Activity Log.";
        QTest::newRow("empty folder") << QStringList() << none;
        QTest::newRow("no audio files") << QStringList{"notes.txt", "Covers/front.jpg"} << none;
        QTest::newRow("folder too deep") << QStringList{"deep"} << none + gaps.arg("1 folder");
        QTest::newRow("name not readable") << QStringList{"undecodable"} << none + gaps.arg("1 file");
        QTest::newRow("both") << QStringList{"deep", "undecodable"} << none + gaps.arg("1 folder and 1 file");
        QTest::newRow("no duplicates")
            << QStringList{"Studio"} << QString("Scanned 2 files - no duplicates found.");
    }
    void summaryWithoutGroups()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, summary);
        const QString folder = work("Scanned");
        const std::string undecodable = QFile::encodeName(folder).toStdString() + "/bad\xff.mp3";
        const auto cleanUp = qScopeGuard([&] { std::remove(undecodable.c_str()); });
        QVERIFY(QDir().mkpath(folder));
        for (const QString &name : files) {
            if (name == "deep")
                QVERIFY(QDir().mkpath(folder + QString("/d").repeated(130)));
            else if (name == "undecodable")
                QVERIFY(std::ofstream(undecodable) << std::string(40000, 'x'));
            else if (name == "Studio")
                QVERIFY(QDir().rename(m_lib + "/Studio", folder + "/Studio"));
            else
                QVERIFY(writeFile(folder + '/' + name, "not audio"));
        }
        Win w(folder);
        QVERIFY(w.scan());
        QCOMPARE(w.model->rowCount(), 0);
        QCOMPARE(w.summary->text(), summary);
    }

    // A scan fills the tree: per group its keeper unticked, every other copy ticked. The summary
    // follows the ticks, counted from the sizes the scan saw. The filter hides what does not
    // match, keeps the ticks and applies to the next scan's result; the removal dialog counts the
    // ticked files it hides. A group is refused whole, by name, unless a copy it keeps is on disk
    // as scanned: it is shown even when filtered out and made current, and nothing moves.
    void scanSelectAndFilter()
    {
        Win w(m_lib);
        w.show();
        QVERIFY(w.scan());
        QVERIFY(w.act("Settings...")->isEnabled() && !w.act("Stop")->isEnabled() && !w.bar->isVisible());
        QCOMPARE(w.rows(0), "Morning copy 2.flac,Morning copy.flac,Morning.flac|Night retag.mp3,Night.mp3");
        QCOMPARE(w.rows(Results::MatchColumn) + ' ' + w.rows(),
                 "KEEP,duplicate,duplicate|KEEP,duplicate -xx|-x");
        QCOMPARE(w.model->item(0, 1)->text() + '|' + w.model->item(1, 1)->text(),
                 "Identical file|Same audio, different tags");
        QVERIFY(w.model->item(0)->text().contains(" - 3 copies - "));
        QCOMPARE(w.model->item(0, 1)->foreground().color().name(), "#146c2e");
        const QStringList ticked{lib("Archive/Morning copy.flac"), lib("Studio/Morning.flac"),
                                 lib("Incoming/Night.mp3")};
        QCOMPARE(w.summary->text(),
                 QStringLiteral("6 files scanned - 2 duplicate groups - 3 redundant copies (%1). "
                                "Currently selected for removal: 3 files, %1.")
                     .arg(bytes(ticked)));
        QCOMPARE(w.tree->currentIndex(), w.model->index(0, 0));
        QVERIFY(w.player->hasAudio(ComparePlayer::A) && w.player->hasAudio(ComparePlayer::B));
        QVERIFY(w.log().contains("--- Scan started ") && w.log().contains("--- Scan complete in "));
        // Inverting a fresh result ticks the keepers alone; inverting nothing ticks everything.
        w.act("Invert Selection")->trigger();
        QCOMPARE(w.rows(), "x--|x-");
        QVERIFY(w.summary->text().endsWith(
            "2 files, " + bytes({lib("Archive/Morning copy 2.flac"), lib("Archive/Night retag.mp3")}) + '.'));
        w.act("Clear Selection")->trigger();
        QVERIFY(w.rows() == "---|--" && w.summary->text().endsWith("removal: 0 files, " + bytes({}) + '.'));
        w.act("Invert Selection")->trigger();
        QCOMPARE(w.rows(), "xxx|xx");
        w.act("Select All Duplicates")->trigger();
        QCOMPARE(w.rows(), "-xx|-x");
        // A tick changed by hand shows once it settles, with the size scanned of a file grown since.
        const QString expected = "removal: 2 files, " + bytes(ticked.mid(1)) + '.';
        QFile grown(ticked[1]);
        QVERIFY(grown.open(QIODevice::Append) && grown.write(QByteArray(4096, 'x')) == 4096);
        grown.close();
        w.file(0, 1)->setCheckState(Qt::Unchecked);
        QTRY_VERIFY2(w.summary->text().endsWith(expected), qPrintable(w.summary->text()));

        w.filter->setText("  NIGHT pulse ");
        QCOMPARE(w.rows(kShown), "----|+++");
        QString note;
        const auto noteAndCancel = [&](QWidget *d) {
            note =
                d->findChild<QLabel *>("hiddenTicked") ? d->findChild<QLabel *>("hiddenTicked")->text() : "";
            d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        };
        QVERIFY(w.run("Remove Selected...", {noteAndCancel}).isEmpty() && filesIn(m_lib).size() == 6);
        QCOMPARE(note, "1 ticked file is hidden by the filter.");
        w.filter->setText("archive"); // the folder is part of the path
        QCOMPARE(w.rows(kShown), "+++-|++-");
        w.filter->setText("no such thing");
        QCOMPARE(w.rows(kShown), "----|---");
        w.filter->setText("   ");
        QCOMPARE(w.rows(kShown) + ' ' + w.rows(), "++++|+++ --x|-x"); // hidden rows kept their ticks

        const auto refused = [&](int g, const QString &title) {
            QStringList texts;
            QCOMPARE(w.run("Remove Selected...", {}, {MB::Ok}, &texts), QStringList{title});
            QCOMPARE(texts.value(0).section(' ', 0, 1), w.model->item(g)->text().section(' ', 0, 1));
            QVERIFY(w.tree->currentIndex() == w.model->index(g, 0) &&
                    w.rows(kShown).section('|', g, g).startsWith("++"));
            QCOMPARE(filesIn(m_lib).size() + filesIn(m_quarantine).size(), 6);
        };
        w.file(1, 0)->setCheckState(Qt::Checked);
        w.filter->setText("Morning");
        refused(1, "Every copy selected");
        w.act("Select All Duplicates")->trigger();
        QVERIFY(QFile::rename(lib("Archive/Night retag.mp3"), lib("Moved.mp3")));
        refused(1, "Kept copy missing");
        QVERIFY(QFile::rename(lib("Moved.mp3"), lib("Archive/Night retag.mp3")));
        w.file(0, 0)->setCheckState(Qt::Checked);
        w.file(0, 2)->setCheckState(Qt::Unchecked); // the copy kept now is the one grown since the scan
        refused(0, "Kept copy missing");
        w.filter->setText("night"); // and through it the next scan's result is shown
        QVERIFY(w.scan());
        QVERIFY(w.rows(kShown).startsWith('-') && w.rows(kShown).endsWith("|+++"));
        QCOMPARE(w.tree->currentIndex(), w.model->index(1, 0));

        // Closing during a scan asks first: No keeps the window and lets the scan end; Yes stops it.
        DialogDriver driver;
        driver.answer(MB::No);
        w.act("Start Scan")->trigger();
        QVERIFY(!w.close() && w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w.status->text().startsWith("Scan complete in"), kScanTimeoutMs);
        driver.answer(MB::Yes);
        w.act("Start Scan")->trigger();
        QVERIFY(w.close() && !w.isVisible());
        QCOMPARE(driver.titles(), QStringList({"Scan in progress", "Scan in progress"}));
        QTRY_VERIFY_WITH_TIMEOUT(w.act("Start Scan")->isEnabled(), kScanTimeoutMs);
    }

    // A clean-up runs beside the window: its progress shows files done of the total, and Cancel
    // stops it between two files, leaving the rest where they were; undo brings the moved back.
    void cleanupShowsProgressAndStopsBetweenFiles()
    {
        Win w(m_lib);
        w.show();
        QVERIFY(w.scan());
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
        const auto unhook = qScopeGuard([] { FileOps::setFaultHook({}); });
        QString progress;
        const auto cancelPartWay = [&](QWidget *dialog) {
            // Whatever this step finds, the clean-up must be let go, or the test would hang.
            const auto letGo = qScopeGuard([&go] { go.release(10); });
            auto *text = dialog->findChild<QLabel *>("progressText");
            QVERIFY(text);
            go.release(1);
            QTRY_COMPARE(moves.loadRelaxed(), 1);
            QTRY_COMPARE(text->text(), "1 of 3 files done");
            dialog->findChild<QPushButton *>("cancelCleanup")->click();
            QTRY_VERIFY(text->text().endsWith("Stopping after the current file..."));
            progress = text->text();
        };
        QStringList texts;
        QCOMPARE(w.run("Remove Selected...", {removeAs("modeQuarantine"), cancelPartWay}, {MB::Ok}, &texts),
                 QStringList{"Clean-up cancelled"});
        QVERIFY2(!progress.isEmpty() && texts.value(0).contains("1 file was left in place"),
                 qPrintable(texts.value(0)));
        QCOMPARE(moves.loadRelaxed(), 2);
        QCOMPARE(filesIn(m_lib).size() * 10 + filesIn(m_quarantine).size(), 42);
        QVERIFY(w.log().contains("Clean-up cancelled: 1 file left in place.") && w.rows().count('x') == 1);
        const auto pick = [](QWidget *d) { qobject_cast<QDialog *>(d)->accept(); };
        QCOMPARE(w.run("Undo Previous Clean-up...", {pick}, {MB::Ok}), QStringList{"Undo complete"});
        QCOMPARE(filesIn(m_lib).size(), 6);
    }

    // Quarantine into a folder chosen in the dialog prunes the tree, empties the decks and drops
    // emptied groups from the summary; undo brings the copies back into the tree. With no record
    // left there is nothing to undo, and a damaged record is a failure that keeps the record.
    void quarantineAndUndo()
    {
        Win w(m_lib);
        QVERIFY(w.scan());
        w.file(0, 1)->setCheckState(Qt::Unchecked); // so the morning group survives the pruning
        const QString other = work("Elsewhere");
        QStringList hints, texts;
        const auto change = [&](QWidget *d) {
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(d)), QStringList());
            QVERIFY(QDir().mkpath(other) && d->findChild<QRadioButton *>("modeQuarantine")->isChecked());
            hints << d->findChild<QLabel *>("quarantineHint")->text();
            QTimer::singleShot(0, d->findChild<QPushButton *>("changeQuarantine"), &QPushButton::click);
        };
        const auto remove = [&](QWidget *d) {
            hints << d->findChild<QLabel *>("quarantineHint")->text();
            d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        };
        QCOMPARE(w.run("Remove Selected...", {change, typeName(other), remove}, {MB::Ok}, &texts),
                 QStringList{"Clean-up complete"});
        QVERIFY2(hints.size() == 2 && hints[0].contains(m_quarantine) &&
                     hints[0].contains("Undo Previous Clean-up") && hints[1].contains(other) &&
                     !hints[1].contains("Undo"),
                 qPrintable(hints.join('\n')));
        QVERIFY2(
            texts[0].startsWith("Removed 2 files, freeing ") &&
                texts[0].endsWith("\n\nThis clean-up can be reversed from Tools > Undo Previous Clean-up."),
            qPrintable(texts[0]));
        QCOMPARE(filesIn(m_lib).size() * 10 + filesIn(other).size(), 42);
        QVERIFY(w.log().contains("Move to quarantine: 2 succeeded, 0 failed, "));
        QCOMPARE(w.rows(0), "Morning copy 2.flac,Morning copy.flac"); // the night group lost a copy and went
        QVERIFY(!w.player->hasAudio(ComparePlayer::A) && !w.player->hasAudio(ComparePlayer::B));
        QVERIFY2(w.summary->text().startsWith("6 files scanned - 1 duplicate group - 1 redundant copy (") &&
                     w.summary->text().contains("removal: 0 files"),
                 qPrintable(w.summary->text()));

        QString choice;
        const auto pick = [&](QWidget *d) {
            choice = qobject_cast<QInputDialog *>(d)->textValue();
            qobject_cast<QDialog *>(d)->accept();
        };
        QCOMPARE(w.run("Undo Previous Clean-up...", {pick}, {MB::Ok}, &texts), QStringList{"Undo complete"});
        QVERIFY2(choice.endsWith(" - 2 files"), qPrintable(choice));
        QCOMPARE(texts, QStringList{"Restored 2 files to their original locations."});
        QVERIFY(filesIn(m_lib).size() == 6 && w.log().contains("Undo: 2 restored, 0 failed.") &&
                w.rows() == "-xx|-x");
        QVERIFY2(w.summary->text().startsWith("6 files scanned - 2 duplicate groups - 3 redundant copies ("),
                 qPrintable(w.summary->text()));

        QCOMPARE(w.run("Undo Previous Clean-up...", {}, {MB::Ok}), QStringList{"Nothing to undo"});
        const QString record = ActionRunner::manifestDirectory() + "/undo-20261207-081500.json";
        QVERIFY(writeFile(record, "{ not an undo record"));
        QCOMPARE(w.run("Undo Previous Clean-up...", {pick}, {MB::Ok}, &texts), QStringList{"Undo failed"});
        QVERIFY2(texts.value(0).contains(record) && QFileInfo::exists(record), qPrintable(texts.value(0)));
        QVERIFY(w.close());
        QCOMPARE(QSettings().value("safety/quarantineRoot").toString(), other);
    }

    // The other ways to remove: the recycle bin, and deletion behind a second question; neither
    // can be undone. A quarantine that cannot write its undo record moves nothing.
    void removalModes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QList<MB::StandardButton>>("answers");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("removed");
        const QString done = "Clean-up complete", sure = "Permanent deletion";
        QTest::newRow("recycle bin") << "modeRecycle" << QList{MB::Ok} << QStringList{done} << 3;
        QTest::newRow("deletion confirmed")
            << "modeDelete" << QList{MB::Yes, MB::Ok} << QStringList{sure, done} << 3;
        QTest::newRow("deletion refused") << "modeDelete" << QList{MB::Cancel} << QStringList{sure} << 0;
        QTest::newRow("no undo record") << "modeQuarantine" << QList{MB::Ok} << QStringList{done} << 0;
    }
    void removalModes()
    {
        QFETCH(QString, mode);
        QFETCH(QList<MB::StandardButton>, answers);
        QFETCH(QStringList, titles);
        QFETCH(int, removed);
        // Where the undo folder should be there is a plain file, so no record can be written.
        const QString undoDir = ActionRunner::manifestDirectory();
        const auto unblock = qScopeGuard([&] { QFile::remove(undoDir); });
        QVERIFY(mode != "modeQuarantine" ||
                (QDir(undoDir).removeRecursively() && writeFile(undoDir, "not a folder")));
        Win w(m_lib);
        QVERIFY(w.scan());
        QStringList texts;
        QCOMPARE(w.run("Remove Selected...", {removeAs(mode)}, answers, &texts), titles);
        QVERIFY2(!texts.last().contains("reversed") &&
                     (titles.last() != "Clean-up complete" ||
                      texts.last().startsWith(QString("Removed %1 files").arg(removed))),
                 qPrintable(texts.last()));
        QCOMPARE(filesIn(m_lib).size() + filesIn(m_quarantine).size(), 6 - removed);
        QCOMPARE(w.model->rowCount(), removed ? 0 : 2);
        QCOMPARE(filesIn(m_home.path()).filter("/Trash/files/").size(), mode == "modeRecycle" ? 3 : 0);
    }

    // After a scan: the file menu (keep another copy instead, copy the path, load a deck, read
    // the details), the report in each format, and the settings.
    void menusAfterScan()
    {
        // A per-cent sign and digit in a name, as in a URL-encoded download, must stay as it is.
        QVERIFY(QFile::rename(lib("Archive/Night retag.mp3"), lib("Archive/Night %2 retag.mp3")));
        Win w(m_lib);
        w.show();
        QCOMPARE(w.run("Export Report...", {}, {MB::Ok}), QStringList{"Nothing to export"});
        QVERIFY(w.scan());
        QCOMPARE(w.menu(1, -1), QStringList()); // a group row offers no menu
        QCOMPARE(w.menu(1, 1, "Keep this copy instead"),
                 QStringList({"Load into Deck A", "Load into Deck B", "|", "Play in system player",
                              "Open containing folder", "Copy full path", "|", "Keep this copy instead", "|",
                              "File details..."}));
        QVERIFY(w.file(1, 1)->data(Results::KeeperRole).toBool() &&
                !w.file(1, 0)->data(Results::KeeperRole).toBool());
        QCOMPARE(w.rows() + ' ' + w.rows(Results::MatchColumn).section('|', 1), "-xx|x- duplicate,KEEP");
        QStandardItem *keep = w.model->item(1)->child(1, 1), *dup = w.model->item(1)->child(0, 1);
        QVERIFY(keep->font().bold() && !dup->font().bold() && !dup->data(Qt::ForegroundRole).isValid());
        QCOMPARE(keep->foreground().color().name(), "#146c2e");
        // The redundant total now counts the old keeper instead of the chosen copy.
        const QString reclaim =
            bytes({lib("Archive/Morning copy.flac"), lib("Studio/Morning.flac"), w.file(1, 0)->toolTip()});
        QVERIFY2(w.summary->text().contains("3 redundant copies (" + reclaim + ")"),
                 qPrintable(w.summary->text()));
        w.menu(1, 1, "Copy full path");
        QCOMPARE(QApplication::clipboard()->text(), QDir::toNativeSeparators(lib("Incoming/Night.mp3")));
        QCOMPARE(w.status->text(), "Path copied to clipboard.");
        w.act("Comparison Player")->setChecked(false);
        w.menu(1, 1, "Load into Deck B");
        QVERIFY(w.act("Comparison Player")->isChecked() && w.player->activeDeck() == ComparePlayer::B);
        QString details;
        w.menu(1, 0, "File details...", [&](QWidget *box) {
            details = qobject_cast<QMessageBox *>(box)->text();
            box->close();
        });
        QVERIFY2(details.startsWith("<b>Night %2 retag.mp3</b><br><br>Folder: " + m_lib + "/Archive<br>") &&
                     details.contains("<br>Title: Night Pulse (Edit)<br>") &&
                     details.contains("<br>Audio SHA-256: ") &&
                     details.endsWith("<br>Fingerprint words: 0"), // acoustic matching is off
                 qPrintable(details));

        // The report's format and its name's suffix agree: a known suffix decides the format, any
        // other name gets the chosen format's; a name made that way is not replaced unasked.
        const QStringList filters{"HTML report (*.html)", "Comma separated values (*.csv)",
                                  "JSON data (*.json)", "M3U playlist (*.m3u8)"};
        QVERIFY(writeFile(work("h.csv"), "keep me"));
        // Typed name, format chosen, file written, format found (0 CSV, 1 HTML, 2 JSON, 3 M3U, 4 kept).
        for (const QString c : {"a 0 a.html 1", "b 1 b.csv 0", "c 2 c.json 2", "d 3 d.m3u8 3",
                                "e.csv 0 e.csv 0", "f.JSON 3 f.JSON 2", "g.v2 1 g.v2.csv 0", "h 1 h.csv 4"}) {
            const QStringList p = c.split(' ');
            QStringList offered, texts;
            const auto choose = [&](QWidget *d) {
                offered = qobject_cast<QFileDialog *>(d)->nameFilters();
                qobject_cast<QFileDialog *>(d)->selectNameFilter(filters.value(p[1].toInt()));
                typeName(work(p[0]))(d);
            };
            QCOMPARE(w.run("Export Report...", {choose}, {MB::No}, &texts),
                     QStringList{p[3] == "4" ? "Replace report" : "Report saved"});
            QFile f(work(p[2]));
            QVERIFY2(offered == filters && f.open(QIODevice::ReadOnly), qPrintable(c));
            const QByteArray content = f.readAll();
            const int seen = QList<bool>{content.contains(','), content.toLower().contains("<html"),
                                         QJsonDocument::fromJson(content).isObject(),
                                         content.contains("#EXTM3U"), content == "keep me"}
                                 .lastIndexOf(true);
            QCOMPARE(seen, p[3].toInt());
            QVERIFY(seen == 4 || texts.value(0) == "Report saved to:\n" + f.fileName() + "\n\nOpen it now?");
        }
        QVERIFY(!QFileInfo::exists(work("h")) && w.log().contains("Report written to " + work("a.html")));

        // Clearing the cache works even when the settings are then cancelled; accepted ones are
        // stored, and an emptied update address falls back to the default.
        const auto clearThenCancel = [](QWidget *d) {
            d->findChild<QPushButton *>("clearCache")->click();
            qobject_cast<QDialog *>(d)->reject();
        };
        const auto change = [](QWidget *d) {
            d->findChild<QLineEdit *>("updateUrl")->clear();
            d->findChild<QCheckBox *>("detectMetadata")->setChecked(true);
            qobject_cast<QDialog *>(d)->accept();
        };
        w.run("Settings...", {clearThenCancel});
        QVERIFY(w.log().contains("Analysis cache cleared.") && !w.log().contains("Settings updated."));
        QVERIFY(w.run("Settings...", {change}).isEmpty() && w.log().contains("Settings updated."));
        QSettings s;
        QVERIFY(s.value("detect/metadata").toBool() &&
                s.value("updates/url") == AppInfo::defaultUpdateEndpoint());
    }

    // A first start gets the defaults; what the librarian set up comes back in the next window.
    void settingsRemembered()
    {
        QSettings s;
        s.clear();
        s.setValue("updates/checkOnStartup", false); // no network from the test
        {
            Win first;
            QVERIFY(first.player->isVisibleTo(&first) && first.player->isLinked() &&
                    first.scanFolders().isEmpty());
            first.resize(1150, 640);
            QVERIFY(first.close());
        }
        QCOMPARE(s.value("safety/quarantineRoot").toString(), ActionRunner::defaultQuarantineRoot());
        s.setValue("scan/folders", QStringList{m_lib, work("gone")});
        s.setValue("audition/showPlayer", false);
        s.setValue("audition/linked", false);
        Win w;
        QCOMPARE(w.size(), QSize(1150, 640));
        w.show();
        QVERIFY(!w.act("Comparison Player")->isChecked() && !w.player->isVisible() && !w.player->isLinked());
        w.act("Comparison Player")->setChecked(true);
        auto *splitter = w.findChild<QSplitter *>("mainSplitter");
        splitter->setSizes({400, 700});
        const QList<int> sizes = splitter->sizes();
        w.tree->header()->resizeSection(0, 333);
        QVERIFY(w.close());
        Win again;
        again.show();
        QCOMPARE(again.findChild<QSplitter *>("mainSplitter")->sizes(), sizes);
        QCOMPARE(again.tree->header()->sectionSize(0), 333);
        QVERIFY(again.player->isVisible() && !again.player->isLinked() &&
                again.scanFolders() == QStringList{m_lib});
    }

    // The quiet check at start-up finds nothing new and shows nothing; checks from the menu
    // answer every outcome.
    void updateChecks()
    {
        const QString service = work("latest.json");
        QVERIFY(writeFile(service, R"({"latest_version": "1.0.0"})"));
        QSettings().setValue("updates/url", QUrl::fromLocalFile(service).toString());
        QSettings().setValue("updates/checkOnStartup", true);
        Win w;
        {
            DialogDriver quiet; // would take a box the start-up check showed
            quiet.answer(MB::Ok);
            QTRY_VERIFY_WITH_TIMEOUT(w.log().contains("Ravelwick 1.0.0 is up to date."), 20000);
            QCOMPARE(quiet.handled(), 0);
        }
        QCOMPARE(w.run("Check for Updates...", {}, {MB::Ok}), QStringList{"No update available"});
        QVERIFY(writeFile(service, R"({"latest_version": "9.1.0", "release_date": "2026-12-05"})"));
        QString heading;
        const auto later = [&](QWidget *d) {
            if (auto *label = d->findChild<QLabel *>("heading"))
                heading = label->text();
            qobject_cast<QDialog *>(d)->reject();
        };
        w.run("Check for Updates...", {later});
        QVERIFY(heading == "Ravelwick 9.1.0 is available" &&
                w.log().contains("Update available: version 9.1.0."));
        QVERIFY(QFile::remove(service));
        QStringList texts;
        QCOMPARE(w.run("Check for Updates...", {}, {MB::Ok}, &texts), QStringList{"Update check failed"});
        QVERIFY(texts.value(0).startsWith("Could not reach the update service.") &&
                w.log().contains("Update check failed: "));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
