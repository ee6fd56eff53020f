#include "app/AppInfo.h"
#include "app/Platform.h"
#include "app/Translations.h"
#include "cleanup/ActionRunner.h"
#include "cleanup/FileOps.h"
#include "support/AudioFixtures.h"
#include "ui/ComparePlayer.h"
#include "ui/DialogDriver.h"
#include "ui/MainWindow.h"
#include "ui/Mnemonics.h"
#include "ui/ResultsModel.h"
#include "update/UpdateChecker.h"

#include <QtTest>

#include <fstream>

using namespace rvw;
using rvwtest::Step;
using MB = QMessageBox;
using Buttons = QList<MB::StandardButton>;

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
        for (QAction *a : findChildren<QAction *>())
            if (QString(a->text()).remove('&') == text)
                return a;
        return nullptr;
    }
    // Drags `urls` over the window and drops them: how many of the two events it took.
    int drop(const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter({}, Qt::CopyAction, &data, Qt::LeftButton, {});
        QDropEvent drop(QPointF(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(this, &enter);
        QApplication::sendEvent(this, &drop);
        return enter.isAccepted() + drop.isAccepted();
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
        startScan();
        return QTest::qWaitFor([&] { return status->text().startsWith("Scan complete in"); }, kScanTimeoutMs);
    }
    // Triggers `action`: `steps` take the dialogs it opens, then message boxes get `buttons`.
    // Returns the boxes' titles (their texts go to `texts`) and a line per step left waiting.
    QStringList run(const QString &action, QList<Step> steps, const Buttons &buttons = {},
                    QStringList *texts = nullptr)
    {
        QStringList titles;
        if (texts)
            texts->clear();
        for (MB::StandardButton button : buttons)
            steps << rvwtest::answer(button, &titles, texts);
        const int left = rvwtest::drive([&] { act(action)->trigger(); }, steps);
        return titles + QStringList(left, "no dialog came");
    }
    // Opens the file menu on row `r` of group `g` (-1: the group's own row) and picks the entry
    // `pick`. Returns how many entries it had; 0 when none opened.
    int menu(int g, int r, const QString &pick = {})
    {
        qsizetype entries = 0;
        const Step open = [&](QWidget *popup) {
            entries = popup->actions().size();
            popup->close();
            for (QAction *a : popup->actions())
                if (a->text() == pick)
                    a->trigger();
        };
        const QPoint at = tree->visualRect(r < 0 ? model->index(g, 0) : file(g, r)->index()).center();
        rvwtest::drive([&] { call("onTreeContextMenu", at); }, {open}, 0);
        return int(entries);
    }
};

// A removal dialog step: picks `mode` and presses `button`; notes the line about ticked files
// the filter hides.
Step removeAs(const QString &mode, QDialogButtonBox::StandardButton button = QDialogButtonBox::Ok,
              QString *hidden = nullptr)
{
    return [=](QWidget *d) {
        if (const auto *note = d->findChild<QLabel *>("hiddenTicked"); note && hidden)
            *hidden = note->text();
        d->findChild<QRadioButton *>(mode)->setChecked(true);
        d->findChild<QDialogButtonBox *>()->button(button)->click();
    };
}

// A file dialog step: types `path` into the name box and accepts it, as a user pressing Enter would.
Step typeName(const QString &path)
{
    return [=](QWidget *d) {
        d->findChild<QLineEdit *>("fileNameEdit")->setText(path);
        static_cast<QDialog *>(d)->accept(); // the file dialog's own accept, which checks the name
    };
}

const Step accept = [](QWidget *d) { static_cast<QDialog *>(d)->accept(); };

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) &&
           f.write(data) == data.size();
}

int filesIn(const QString &root, const QString &part = "/")
{
    int found = 0;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        found += it.next().contains(part);
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
    QString m_lib;

    QString work(const QString &name) const { return m_work->filePath(name); }
    QString lib(const QString &name) const { return m_lib + '/' + name; }
    // Files in the library (tens) and in quarantine (ones).
    int onDisk(const QString &q = "Quarantine") const { return filesIn(m_lib) * 10 + filesIn(work(q)); }

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
        QCOMPARE(QProcess::execute("cp", {"-a", m_source.path(), m_lib}), 0);
        QDir(ActionRunner::manifestDirectory()).removeRecursively();
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash")
            .removeRecursively();
        QSettings s;
        s.clear();
        s.setValue("updates/checkOnStartup", false);
        s.setValue("safety/quarantineRoot", work("Quarantine"));
        s.setValue("detect/acoustic", false); // hash tiers only: quick and exact
    }

    // Before a scan: every command within reach of Alt and a letter; folders join the list once
    // however they are typed or dropped on the window (a dropped file or web address is refused),
    // and the next one is looked for beside the last; a scan needs a folder and a way of matching.
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
        QVERIFY(w.windowTitle() == AppInfo::applicationName() && w.bar->isHidden());
        QCOMPARE(w.run("Start Scan", {}, {MB::Ok}), QStringList{"Nothing to scan"});
        const QString music = work("Music"), lower = work("music");
        QVERIFY(QDir().mkpath(music) && QDir().mkpath(lower));
        const QUrl file = QUrl::fromLocalFile(lib("Studio/Tide.flac")), web("https://example.invalid/Music");
        QVERIFY(w.drop({file, web}) == 0 && w.drop({QUrl::fromLocalFile(music), file}) == 2);
        for (const QString &p :
             {lower, music + "/../Music", music + "/", work("gone"), lib("Studio/Tide.flac"), QString()})
            w.addScanFolder(p);
        QString start;
        w.run("Add Folder...", {[&](QWidget *d) {
                  start = qobject_cast<QFileDialog *>(d)->directory().absolutePath();
                  d->close();
              }});
        QVERIFY(start == lower && w.scanFolders() == QStringList({music, lower}));
        for (const char *key : {"detect/identical", "detect/sameAudio", "detect/acoustic", "detect/metadata"})
            QSettings().setValue(key, false);
        QCOMPARE(Win(m_lib).run("Start Scan", {}, {MB::Ok}), QStringList{"No detection method enabled"});
    }

    // A scan that found nothing to compare says so, and what it could not check, for that scan
    // only. Progress shows in the bar and the status line; a failed scan gives the controls back;
    // "Stopping..." holds until a cancelled scan ends, which never reads as a finished one; a
    // group naming a file the scan did not report shows the others.
    void scanReports()
    {
        const QString folder = work("Scanned");
        const std::string undecodable = QFile::encodeName(folder).toStdString() + "/bad\xff.mp3";
        const auto cleanUp = qScopeGuard([&] { std::remove(undecodable.c_str()); });
        QVERIFY(QDir().mkpath(folder + QString("/d").repeated(130)));
        QVERIFY(std::ofstream(undecodable) << std::string(40000, 'x'));
        const QString text = "so there was nothing to compare. Not checked: %1 - see the Activity Log.";
        Win w(folder);
        QVERIFY(w.scan());
        QVERIFY2(w.summary->text().startsWith("No audio files were found in the scanned folders") &&
                     w.summary->text().endsWith(text.arg("1 folder and 1 file")),
                 qPrintable(w.summary->text()));
        QVERIFY(QDir(folder + "/d").removeRecursively() && w.scan());
        QVERIFY2(w.summary->text().endsWith(text.arg("1 file")), qPrintable(w.summary->text()));

        QVERIFY(w.call("onScanStarted") && !w.act("Start Scan")->isEnabled() && w.act("Stop")->isEnabled());
        QVERIFY(w.call("onProgress", 3, 10, QString("12 files found")) && w.bar->value() == 3 &&
                w.bar->maximum() == 10 && w.status->text() == "12 files found");
        QVERIFY(w.call("onScanFailed", QString("disk unplugged")));
        for (const char *name :
             {"Start Scan", "Settings...", "Remove Selected...", "Undo Previous Clean-up..."})
            QVERIFY2(w.act(name)->isEnabled(), name);
        QVERIFY(!w.act("Stop")->isEnabled() && w.bar->isHidden() &&
                w.status->text() == "Scan failed: disk unplugged");
        for (int found : {54, 0}) {
            QVERIFY(w.call("onScanStarted") && w.call("onStopScan") &&
                    w.call("onPhaseChanged", QString("Hashing")));
            QCOMPARE(w.status->text(), "Stopping...");
            QVERIFY(
                w.call("onScanFinished", QList<TrackInfo>(found), QList<MatchGroup>(), true, qint64(1200)));
            const QString text = w.status->text() + '|' + w.summary->text();
            QVERIFY2(text.startsWith("Scan cancelled after") && text.contains("incomplete") &&
                         !text.contains("no duplicates") && !text.contains("Not checked"),
                     qPrintable(text));
        }
        QVERIFY(w.call("onScanStarted") && w.call("onPhaseChanged", QString("Scanning folders")));
        QCOMPARE(w.status->text(), "Scanning folders"); // the next scan's reports show again
        QVERIFY(w.call("onScanFinished", QList<TrackInfo>(2), QList<MatchGroup>(), false, qint64(10)));
        QCOMPARE(w.summary->text(), "Scanned 2 files - no duplicates found.");
        MatchGroup group;
        group.members = {0, 2, -1, 1};
        group.keeper = 0;
        QVERIFY(w.call("onScanFinished", QList<TrackInfo>(2), QList<MatchGroup>{group}, false, qint64(10)));
        QCOMPARE(w.rows(), "-x");
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
        QCOMPARE(w.rows(0) + ' ' + w.rows(),
                 "Morning copy 2.flac,Morning copy.flac,Morning.flac|Night retag.mp3,Night.mp3 -xx|-x");
        const QStringList ticked{lib("Archive/Morning copy.flac"), lib("Studio/Morning.flac"),
                                 lib("Incoming/Night.mp3")};
        QCOMPARE(w.summary->text(),
                 QStringLiteral("6 files scanned - 2 duplicate groups - 3 redundant copies "
                                "(%1). Currently selected for removal: 3 files, %1.")
                     .arg(bytes(ticked)));
        QVERIFY(w.tree->currentIndex() == w.model->index(0, 0) && w.player->hasAudio(ComparePlayer::A) &&
                w.player->hasAudio(ComparePlayer::B));
        // Inverting a fresh result ticks the keepers alone; inverting nothing ticks everything.
        QString ticks;
        for (const char *command :
             {"Invert Selection", "Clear Selection", "Invert Selection", "Select All Duplicates"}) {
            w.act(command)->trigger();
            ticks += w.rows() + ' ' + w.summary->text().section(": ", -1).section(',', 0, 0) + ' ';
        }
        QCOMPARE(ticks, "x--|x- 2 files ---|-- 0 files xxx|xx 5 files -xx|-x 3 files ");
        // A tick changed by hand shows once it settles, with the size scanned of a file grown since.
        const QString expected = "removal: 2 files, " + bytes(ticked.mid(1)) + '.';
        QFile grown(ticked[1]);
        QVERIFY(grown.open(QIODevice::Append) && grown.write(QByteArray(4096, 'x')) == 4096);
        grown.close();
        w.file(0, 1)->setCheckState(Qt::Unchecked);
        QTRY_VERIFY2(w.summary->text().endsWith(expected), qPrintable(w.summary->text()));

        QString shown; // hidden rows keep their ticks; the folder is part of the path
        for (const char *text : {"  NIGHT pulse ", "   ", "archive"}) {
            w.filter->setText(text);
            shown += w.rows(kShown) + ' ' + w.rows() + ' ';
        }
        QCOMPARE(shown, "----|+++ --x|-x ++++|+++ --x|-x +++-|++- --x|-x ");
        QString hidden;
        QVERIFY(w.run("Remove Selected...", {removeAs("modeDelete", QDialogButtonBox::Cancel, &hidden)})
                    .isEmpty());
        QCOMPARE(hidden, "2 of the ticked files are hidden by the filter.");

        const auto refused = [&](int g, const QString &title) {
            QStringList texts;
            QCOMPARE(w.run("Remove Selected...", {}, {MB::Ok}, &texts), QStringList{title});
            QCOMPARE(texts.value(0).section(' ', 0, 1), w.model->item(g)->text().section(' ', 0, 1));
            QVERIFY(w.tree->currentIndex() == w.model->index(g, 0) &&
                    w.rows(kShown).section('|', g, g).startsWith("++"));
            QCOMPARE(onDisk(), 60);
        };
        w.file(1, 0)->setCheckState(Qt::Checked);
        w.filter->setText("Morning");
        refused(1, "Every copy selected");
        w.act("Select All Duplicates")->trigger();
        w.file(0, 0)->setCheckState(Qt::Checked);
        w.file(0, 2)->setCheckState(Qt::Unchecked); // the copy kept now is the one grown since the scan
        refused(0, "Kept copy missing");
        w.filter->setText("night"); // and through it the next scan's result is shown
        QVERIFY(w.scan());
        QVERIFY(w.rows(kShown).startsWith('-') && w.rows(kShown).endsWith("|+++") &&
                w.tree->currentIndex() == w.model->index(1, 0));

        // Closing during a scan asks first: No keeps the window and lets the scan end; Yes stops it.
        QStringList asked;
        w.status->clear();
        w.act("Start Scan")->trigger();
        QCOMPARE(rvwtest::drive([&] { QVERIFY(!w.close()); }, {rvwtest::answer(MB::No, &asked)}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(w.status->text().startsWith("Scan complete in"), kScanTimeoutMs);
        w.act("Start Scan")->trigger();
        QCOMPARE(rvwtest::drive([&] { QVERIFY(w.close()); }, {rvwtest::answer(MB::Yes, &asked)}), 0);
        QVERIFY(asked == QStringList({"Scan in progress", "Scan in progress"}) && !w.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w.act("Start Scan")->isEnabled(), kScanTimeoutMs);
    }

    // A clean-up runs beside the window: its progress shows files done of the total, and Cancel
    // stops it between two files, leaving the rest where they were; undo brings the moved back.
    // Quarantine into a folder chosen in the dialog prunes the tree, empties the decks and drops
    // emptied groups from the summary; undo brings the copies back into the tree. With no record
    // left there is nothing to undo, and a damaged record is a failure that keeps the record.
    void cleanupAndUndo()
    {
        Win w(m_lib);
        w.show();
        QVERIFY(w.scan());
        // Each move waits for the test's word, so the clean-up is caught part way (later ones find
        // words left over).
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
        QStringList texts;
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
        QCOMPARE(w.run("Remove Selected...", {removeAs("modeQuarantine"), cancelPartWay}, {MB::Ok}, &texts),
                 QStringList{"Clean-up cancelled"});
        QVERIFY2(!progress.isEmpty() && texts.value(0).contains("1 file was left in place"),
                 qPrintable(texts.value(0)));
        QVERIFY(moves.loadRelaxed() == 2 && onDisk() == 42 && w.rows().count('x') == 1);
        QVERIFY(w.log().contains("Clean-up cancelled: 1 file left in place."));
        QCOMPARE(w.run("Undo Previous Clean-up...", {accept}, {MB::Ok}), QStringList{"Undo complete"});
        QVERIFY(filesIn(m_lib) == 6 && w.rows() == "-xx|-x");

        w.file(0, 1)->setCheckState(Qt::Unchecked); // so the morning group survives the pruning
        const QString other = work("Elsewhere");
        QString hint;
        const auto change = [&](QWidget *d) {
            QCOMPARE(rvwtest::mnemonicProblems(rvwtest::keyboardTexts(d)), QStringList());
            QVERIFY(QDir().mkpath(other) && d->findChild<QRadioButton *>("modeQuarantine")->isChecked());
            d->findChild<QPushButton *>("changeQuarantine")->click();
            hint = d->findChild<QLabel *>("quarantineHint")->text();
            d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        };
        QCOMPARE(w.run("Remove Selected...", {change, typeName(other)}, {MB::Ok}, &texts),
                 QStringList{"Clean-up complete"});
        QVERIFY2(hint.contains(other) && texts.value(0).startsWith("Removed 2 files, freeing ") &&
                     texts.value(0).contains("reversed"),
                 qPrintable(hint + texts.value(0)));
        QVERIFY(onDisk("Elsewhere") == 42 && w.log().contains("Move to quarantine: 2 succeeded, 0 failed, "));
        QCOMPARE(w.rows(0), "Morning copy 2.flac,Morning copy.flac"); // the night group lost a copy and went
        QVERIFY(!w.player->hasAudio(ComparePlayer::A) && !w.player->hasAudio(ComparePlayer::B));
        QVERIFY2(w.summary->text().startsWith("6 files scanned - 1 duplicate group - 1 redundant copy (") &&
                     w.summary->text().contains("removal: 0 files"),
                 qPrintable(w.summary->text()));

        QString choice;
        const auto pick = [&](QWidget *d) {
            choice = qobject_cast<QInputDialog *>(d)->textValue();
            accept(d);
        };
        QCOMPARE(w.run("Undo Previous Clean-up...", {pick}, {MB::Ok}, &texts), QStringList{"Undo complete"});
        QVERIFY2(choice.endsWith(" - 2 files"), qPrintable(choice));
        QCOMPARE(texts, QStringList{"Restored 2 files to their original locations."});
        QVERIFY(filesIn(m_lib) == 6 && w.rows() == "-xx|-x" &&
                w.summary->text().startsWith("6 files scanned - 2 duplicate groups - 3 redundant copies ("));
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
        QTest::addColumn<Buttons>("answers");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("removed");
        const QString done = "Clean-up complete", sure = "Permanent deletion";
        QTest::newRow("recycle bin") << "modeRecycle" << Buttons{MB::Ok} << QStringList{done} << 3;
        QTest::newRow("deletion confirmed")
            << "modeDelete" << Buttons{MB::Yes, MB::Ok} << QStringList{sure, done} << 3;
        QTest::newRow("deletion refused") << "modeDelete" << Buttons{MB::Cancel} << QStringList{sure} << 0;
        QTest::newRow("no undo record") << "modeQuarantine" << Buttons{MB::Ok} << QStringList{done} << 0;
    }
    void removalModes()
    {
        QFETCH(QString, mode);
        QFETCH(Buttons, answers);
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
        QCOMPARE(QList<int>({onDisk(), w.model->rowCount(), filesIn(m_home.path(), "/Trash/files/")}),
                 QList<int>({60 - 10 * removed, removed ? 0 : 2, mode == "modeRecycle" ? 3 : 0}));
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
        QVERIFY(w.menu(1, -1) == 0 && w.menu(1, 1, "Keep this copy instead") > 0); // a group row has none
        QCOMPARE(w.rows() + ' ' + w.rows(Results::MatchColumn).section('|', 1), "-xx|x- duplicate,KEEP");
        // The redundant total now counts the old keeper instead of the chosen copy.
        const QString reclaim =
            bytes({lib("Archive/Morning copy.flac"), lib("Studio/Morning.flac"), w.file(1, 0)->toolTip()});
        QVERIFY2(w.summary->text().contains("3 redundant copies (" + reclaim + ")"),
                 qPrintable(w.summary->text()));
        w.menu(1, 1, "Copy full path");
        QCOMPARE(QApplication::clipboard()->text(), QDir::toNativeSeparators(lib("Incoming/Night.mp3")));
        w.menu(1, 1, "Load into Deck B");
        QCOMPARE(w.player->activeDeck(), ComparePlayer::B);

        // The report's format and its name's suffix agree: a known suffix decides the format, any
        // other name gets the chosen format's; a name made that way is not replaced unasked.
        const QStringList filters{"HTML report (*.html)", "Comma separated values (*.csv)",
                                  "JSON data (*.json)", "M3U playlist (*.m3u8)"};
        QVERIFY(writeFile(work("h.csv"), "keep me"));
        // Typed name, format chosen, file written, format found (0 CSV, 1 HTML, 2 JSON, 3 M3U, 4 kept).
        for (const QString c : {"a 0 a.html 1", "c 2 c.json 2", "d 3 d.m3u8 3", "f.JSON 3 f.JSON 2",
                                "g.v2 1 g.v2.csv 0", "h 1 h.csv 4"}) {
            const QStringList p = c.split(' ');
            const auto choose = [&](QWidget *d) {
                qobject_cast<QFileDialog *>(d)->selectNameFilter(filters.value(p[1].toInt()));
                typeName(work(p[0]))(d);
            };
            QCOMPARE(w.run("Export Report...", {choose}, {MB::No}),
                     QStringList{p[3] == "4" ? "Replace report" : "Report saved"});
            QFile f(work(p[2]));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(c));
            const QByteArray content = f.readAll();
            QCOMPARE(QList<bool>({content.contains(','), content.toLower().contains("<html"),
                                  QJsonDocument::fromJson(content).isObject(), content.contains("#EXTM3U"),
                                  content == "keep me"})
                         .lastIndexOf(true),
                     p[3].toInt());
        }
        QVERIFY(!QFileInfo::exists(work("h")));

        // Clearing the cache works even when the settings are then cancelled; accepted ones are
        // stored, and an emptied update address falls back to the default.
        w.run("Settings...", {[](QWidget *d) {
                  d->findChild<QPushButton *>("clearCache")->click();
                  static_cast<QDialog *>(d)->reject();
              }});
        QVERIFY(w.log().contains("Analysis cache cleared.") && !w.log().contains("Settings updated."));
        QVERIFY(w.run("Settings...", {[](QWidget *d) {
                          d->findChild<QLineEdit *>("updateUrl")->clear();
                          d->findChild<QCheckBox *>("detectMetadata")->setChecked(true);
                          accept(d);
                      }})
                    .isEmpty());
        QSettings s;
        QVERIFY(s.value("detect/metadata").toBool() &&
                s.value("updates/url") == AppInfo::defaultUpdateEndpoint());
    }

    // What the librarian set up comes back in the next window. A check for updates from the menu
    // answers every outcome; the quiet one at start-up shows nothing when there is nothing new.
    void settingsRememberedAndUpdates()
    {
        const QString service = work("latest.json");
        QSettings s;
        s.setValue("scan/folders", QStringList{m_lib, work("gone")});
        s.setValue("audition/showPlayer", false);
        s.setValue("audition/linked", false);
        s.setValue("updates/url", QUrl::fromLocalFile(service).toString());
        {
            Win w;
            w.show();
            QVERIFY(!w.act("Comparison Player")->isChecked() && !w.player->isVisible() &&
                    !w.player->isLinked());
            w.act("Comparison Player")->setChecked(true);
            w.tree->header()->resizeSection(0, 333);
            QVERIFY(w.close());
        }
        Win again;
        again.show();
        QVERIFY(again.player->isVisible() && !again.player->isLinked() &&
                again.tree->header()->sectionSize(0) == 333 && again.scanFolders() == QStringList{m_lib});

        QStringList titles;
        QCOMPARE(rvwtest::drive([&] { emit again.findChild<UpdateChecker *>()->upToDate(true); },
                                {rvwtest::answer(MB::Ok, &titles)}, 0),
                 1);
        for (const QString latest : {"1.0.0", "9.1.0", ""}) {
            QVERIFY(latest.isEmpty()
                        ? QFile::remove(service)
                        : writeFile(service, "{\"latest_version\": \"" + latest.toUtf8() + "\"}"));
            titles << again.run("Check for Updates...", {}, {MB::Ok});
        }
        QCOMPARE(titles,
                 QStringList({"No update available", "unexpected rvw::UpdateDialog", "Update check failed"}));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
