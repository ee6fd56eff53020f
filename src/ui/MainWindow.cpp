#include "ui/MainWindow.h"

#include "app/AppInfo.h"
#include "cleanup/ActionRunner.h"
#include "cleanup/RemovalGuard.h"
#include "report/ReportWriter.h"
#include "scan/CacheDatabase.h"
#include "scan/DuplicateGrouper.h"
#include "scan/ScanController.h"
#include "ui/AboutDialog.h"
#include "ui/ComparePlayer.h"
#include "ui/RemovalFlow.h"
#include "ui/ResultsModel.h"
#include "ui/SettingsDialog.h"
#include "ui/SettingsKeys.h"
#include "ui/UpdateDialog.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace rvw {

namespace {

using Results::formatBytes;
using Results::formatDuration;

constexpr int kLogBlocks = 5000;
constexpr int kStartupCheckDelayMs = 2500;
constexpr int kSummaryDelayMs = 150;

// What a report is written as, and where. A name ending in a report suffix decides the format
// itself: a file called .csv holding HTML would open in the wrong program. Any other name gets
// the chosen format's suffix added.
std::pair<ReportWriter::Format, QString> reportTarget(const QString &file, ReportWriter::Format chosen)
{
    const QString suffix = QFileInfo(file).suffix();
    for (ReportWriter::Format f :
         {ReportWriter::Html, ReportWriter::Csv, ReportWriter::Json, ReportWriter::M3u8}) {
        if (suffix.compare(ReportWriter::suffixForFormat(f), Qt::CaseInsensitive) == 0)
            return {f, file};
    }
    return {chosen, file + QLatin1Char('.') + ReportWriter::suffixForFormat(chosen)};
}

void openLocal(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(AppInfo::applicationName());
    setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));
    m_removal = std::make_unique<RemovalFlow>(this, [this](const QString &line) { onLogMessage(line); });

    m_summaryTimer = new QTimer(this);
    m_summaryTimer->setSingleShot(true);
    m_summaryTimer->setInterval(kSummaryDelayMs);
    connect(m_summaryTimer, &QTimer::timeout, this, &MainWindow::updateSummary);

    buildActions();
    buildUi();
    connect(m_model, &QStandardItemModel::itemChanged, m_summaryTimer, qOverload<>(&QTimer::start));
    loadSettings();

    m_scanThread = new QThread(this);
    m_scanThread->setObjectName(QStringLiteral("rvw-scan"));
    m_controller = new ScanController;
    m_controller->moveToThread(m_scanThread);
    connect(m_scanThread, &QThread::finished, m_controller, &QObject::deleteLater);
    connect(m_controller, &ScanController::started, this, &MainWindow::onScanStarted);
    connect(m_controller, &ScanController::finished, this, &MainWindow::onScanFinished);
    connect(m_controller, &ScanController::phaseChanged, this, &MainWindow::onPhaseChanged);
    connect(m_controller, &ScanController::progress, this, &MainWindow::onProgress);
    connect(m_controller, &ScanController::logMessage, this, &MainWindow::onLogMessage);
    connect(m_controller, &ScanController::failed, this, &MainWindow::onScanFailed);
    connect(m_controller, &ScanController::discoveryGaps, this, [this](int folders, int files) {
        const QString f = tr("%n folder(s)", nullptr, folders);
        const QString n = tr("%n file(s)", nullptr, files);
        if (folders > 0 && files > 0)
            m_discoveryGaps = tr("Not checked: %1 and %2 - see the Activity Log.").arg(f, n);
        else if (folders > 0 || files > 0)
            m_discoveryGaps = tr("Not checked: %1 - see the Activity Log.").arg(folders > 0 ? f : n);
        else
            m_discoveryGaps.clear();
    });
    m_scanThread->start();

    m_updateChecker = new UpdateChecker(this);
    connect(m_updateChecker, &UpdateChecker::updateAvailable, this, &MainWindow::onUpdateAvailable);
    connect(m_updateChecker, &UpdateChecker::upToDate, this, &MainWindow::onUpToDate);
    connect(m_updateChecker, &UpdateChecker::checkFailed, this, &MainWindow::onUpdateCheckFailed);

    onLogMessage(tr("%1 %2 ready.").arg(AppInfo::applicationName(), AppInfo::versionString()));

    if (QSettings().value(SettingsKeys::checkOnStartup, true).toBool()) {
        QTimer::singleShot(kStartupCheckDelayMs, Qt::CoarseTimer, this, [this] {
            if (m_updateChecker->automaticCheckDue())
                m_updateChecker->check(true);
        });
    }
}

MainWindow::~MainWindow()
{
    if (!m_scanThread)
        return;
    if (m_controller)
        m_controller->cancel();
    m_scanThread->quit();
    // Every phase of a scan ends within moments of a cancel (outside tools are killed, hashing
    // stops between blocks), so the thread is waited for rather than left running.
    m_scanThread->wait();
}

void MainWindow::buildActions()
{
    const auto make = [this](const QString &text, QStyle::StandardPixmap icon = QStyle::SP_CustomBase) {
        auto *action = new QAction(text, this);
        if (icon != QStyle::SP_CustomBase)
            action->setIcon(style()->standardIcon(icon));
        return action;
    };

    m_addFolderAction = make(tr("&Add Folder..."), QStyle::SP_DirOpenIcon);
    m_addFolderAction->setShortcut(QKeySequence::Open);
    connect(m_addFolderAction, &QAction::triggered, this, &MainWindow::onAddFolder);
    m_removeFolderAction = make(tr("&Remove Folder"), QStyle::SP_TrashIcon);
    connect(m_removeFolderAction, &QAction::triggered, this, &MainWindow::onRemoveFolder);
    m_startAction = make(tr("&Start Scan"), QStyle::SP_MediaPlay);
    m_startAction->setShortcut(QKeySequence(Qt::Key_F5));
    connect(m_startAction, &QAction::triggered, this, &MainWindow::onStartScan);
    m_stopAction = make(tr("S&top"), QStyle::SP_MediaStop);
    m_stopAction->setEnabled(false);
    connect(m_stopAction, &QAction::triggered, this, &MainWindow::onStopScan);
    m_selectDuplicatesAction = make(tr("Select &All Duplicates"));
    m_selectDuplicatesAction->setToolTip(tr("Tick every copy except the one chosen to keep."));
    connect(m_selectDuplicatesAction, &QAction::triggered, this, &MainWindow::onSelectDuplicates);
    m_clearSelectionAction = make(tr("&Clear Selection"));
    connect(m_clearSelectionAction, &QAction::triggered, this, &MainWindow::onClearSelection);
    m_invertSelectionAction = make(tr("&Invert Selection"));
    connect(m_invertSelectionAction, &QAction::triggered, this, &MainWindow::onInvertSelection);
    m_removeSelectedAction = make(tr("&Remove Selected..."), QStyle::SP_DialogDiscardButton);
    connect(m_removeSelectedAction, &QAction::triggered, this, &MainWindow::onRemoveSelected);
    m_undoAction = make(tr("&Undo Previous Clean-up..."), QStyle::SP_ArrowBack);
    connect(m_undoAction, &QAction::triggered, this, &MainWindow::onUndoPrevious);
    m_exportAction = make(tr("&Export Report..."), QStyle::SP_DialogSaveButton);
    m_exportAction->setShortcut(QKeySequence::Save);
    connect(m_exportAction, &QAction::triggered, this, &MainWindow::onExportReport);
    m_settingsAction = make(tr("&Settings..."), QStyle::SP_FileDialogDetailedView);
    connect(m_settingsAction, &QAction::triggered, this, &MainWindow::onSettings);
    m_checkUpdatesAction = make(tr("Check for &Updates..."));
    connect(m_checkUpdatesAction, &QAction::triggered, this, &MainWindow::onCheckForUpdates);
    m_aboutAction = make(tr("&About %1").arg(AppInfo::applicationName()));
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::onAbout);

    // The player's actions are connected once the player exists (buildUi).
    m_playPauseAction = make(tr("&Play / Pause"));
    m_playPauseAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Space")));
    m_playerStopAction = make(tr("&Stop"));
    m_deckAAction = make(tr("Listen to Deck &A"));
    m_deckAAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
    m_deckBAction = make(tr("Listen to Deck &B"));
    m_deckBAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+2")));
    m_swapAction = make(tr("S&witch A / B"));
    m_swapAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+3")));
    m_swapAction->setToolTip(tr("Cut between the two decks without losing your place."));
    m_linkAction = make(tr("&Keep Decks in Sync"));
    m_linkAction->setCheckable(true);
    m_linkAction->setChecked(true);
    m_showPlayerAction = make(tr("Comparison &Player"));
    m_showPlayerAction->setCheckable(true);
    m_showPlayerAction->setChecked(true);
    m_exitAction = make(tr("E&xit"));
    m_exitAction->setShortcut(QKeySequence::Quit);
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildUi()
{
    // Left: the folders to scan.
    auto *left = new QWidget;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(6, 6, 6, 6);
    leftLayout->addWidget(new QLabel(tr("Folders to scan"), left));
    m_folderList = new QListWidget(left);
    m_folderList->setObjectName(QStringLiteral("folderList"));
    m_folderList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_folderList->setTextElideMode(Qt::ElideMiddle);
    leftLayout->addWidget(m_folderList, 1);
    auto *folderButtons = new QHBoxLayout;
    auto *addButton = new QPushButton(tr("A&dd..."), left);
    connect(addButton, &QPushButton::clicked, this, &MainWindow::onAddFolder);
    auto *removeButton = new QPushButton(tr("Re&move"), left);
    connect(removeButton, &QPushButton::clicked, this, &MainWindow::onRemoveFolder);
    folderButtons->addWidget(addButton);
    folderButtons->addWidget(removeButton);
    leftLayout->addLayout(folderButtons);

    // Right: player, filter, results, summary.
    auto *right = new QWidget;
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(6, 6, 6, 6);
    m_player = new ComparePlayer(right);
    m_player->setObjectName(QStringLiteral("comparePlayer"));
    connect(m_player, &ComparePlayer::logMessage, this, &MainWindow::onLogMessage);
    rightLayout->addWidget(m_player);
    auto *filterRow = new QHBoxLayout;
    auto *filterLabel = new QLabel(tr("Fi&lter:"), right);
    filterRow->addWidget(filterLabel);
    m_filter = new QLineEdit(right);
    filterLabel->setBuddy(m_filter);
    m_filter->setObjectName(QStringLiteral("filterBox"));
    m_filter->setPlaceholderText(tr("Artist, title, file name or folder..."));
    m_filter->setClearButtonEnabled(true);
    connect(m_filter, &QLineEdit::textChanged, this, &MainWindow::onFilterChanged);
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_filter->setFocus(Qt::ShortcutFocusReason);
        m_filter->selectAll();
    });
    filterRow->addWidget(m_filter, 1);
    rightLayout->addLayout(filterRow);

    m_model = new QStandardItemModel(0, Results::ColumnCount, this);
    m_model->setHorizontalHeaderLabels(Results::headers());
    m_tree = new QTreeView(right);
    m_tree->setObjectName(QStringLiteral("resultsTree"));
    m_tree->setModel(m_model);
    m_tree->setAlternatingRowColors(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setSortingEnabled(false);
    m_tree->header()->setStretchLastSection(true);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &MainWindow::onTreeContextMenu);
    connect(m_tree, &QAbstractItemView::doubleClicked, this, &MainWindow::onTreeDoubleClicked);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::onTreeSelectionChanged);
    rightLayout->addWidget(m_tree, 1);
    m_summary = new QLabel(tr("No scan has been run yet."), right);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    m_summary->setWordWrap(true);
    rightLayout->addWidget(m_summary);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("mainSplitter"));
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 900});
    setCentralWidget(splitter);
    setAcceptDrops(true);

    // The player's actions.
    connect(m_playPauseAction, &QAction::triggered, m_player, &ComparePlayer::playPause);
    connect(m_playerStopAction, &QAction::triggered, m_player, &ComparePlayer::stop);
    connect(m_deckAAction, &QAction::triggered, m_player, &ComparePlayer::monitorDeckA);
    connect(m_deckBAction, &QAction::triggered, m_player, &ComparePlayer::monitorDeckB);
    connect(m_swapAction, &QAction::triggered, m_player, &ComparePlayer::swapMonitor);
    connect(m_linkAction, &QAction::toggled, m_player, &ComparePlayer::setLinked);
    connect(m_player, &ComparePlayer::linkedChanged, m_linkAction, &QAction::setChecked);
    connect(m_showPlayerAction, &QAction::toggled, this, [this](bool shown) {
        m_player->setVisible(shown);
        if (!shown)
            m_player->stop();
    });

    // Activity Log.
    auto *dock = new QDockWidget(tr("Activity Log"), this);
    dock->setObjectName(QStringLiteral("logDock"));
    m_log = new QPlainTextEdit(dock);
    m_log->setObjectName(QStringLiteral("logView"));
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogBlocks);
    dock->setWidget(m_log);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();

    // Menus.
    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(m_addFolderAction);
    file->addAction(m_removeFolderAction);
    file->addSeparator();
    file->addAction(m_exportAction);
    file->addSeparator();
    file->addAction(m_exitAction);
    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->addAction(m_showPlayerAction);
    dock->toggleViewAction()->setText(tr("Activity &Log"));
    view->addAction(dock->toggleViewAction());
    QMenu *scan = menuBar()->addMenu(tr("&Scan"));
    scan->addAction(m_startAction);
    scan->addAction(m_stopAction);
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(m_selectDuplicatesAction);
    edit->addAction(m_clearSelectionAction);
    edit->addAction(m_invertSelectionAction);
    edit->addSeparator();
    edit->addAction(m_removeSelectedAction);
    QMenu *player = menuBar()->addMenu(tr("&Player"));
    player->addAction(m_playPauseAction);
    player->addAction(m_playerStopAction);
    player->addSeparator();
    player->addAction(m_deckAAction);
    player->addAction(m_deckBAction);
    player->addAction(m_swapAction);
    player->addSeparator();
    player->addAction(m_linkAction);
    QMenu *tools = menuBar()->addMenu(tr("&Tools"));
    tools->addAction(m_undoAction);
    tools->addSeparator();
    tools->addAction(m_settingsAction);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(m_checkUpdatesAction);
    help->addSeparator();
    help->addAction(m_aboutAction);

    QToolBar *bar = addToolBar(tr("Main"));
    bar->setObjectName(QStringLiteral("mainToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setMovable(false);
    bar->addAction(m_addFolderAction);
    bar->addAction(m_removeFolderAction);
    bar->addSeparator();
    bar->addAction(m_startAction);
    bar->addAction(m_stopAction);
    bar->addSeparator();
    bar->addAction(m_selectDuplicatesAction);
    bar->addAction(m_removeSelectedAction);
    bar->addSeparator();
    bar->addAction(m_exportAction);
    bar->addAction(m_settingsAction);

    m_status = new QLabel(tr("Ready"), this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    statusBar()->addWidget(m_status, 1);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setMaximumWidth(260);
    m_progress->hide();
    statusBar()->addPermanentWidget(m_progress);

    resize(1180, 720);
}

// ---- folders and options ----

void MainWindow::addScanFolder(const QString &path)
{
    const QFileInfo info(path);
    // Cleaned, so that "Music/" and "Music/../Music" are the folder already listed.
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    if (path.isEmpty() || absolute.isEmpty() || !info.isDir())
        return;
    for (int i = 0; i < m_folderList->count(); ++i) {
        if (m_folderList->item(i)->text() == absolute)
            return;
    }
    auto *item = new QListWidgetItem(absolute, m_folderList);
    item->setToolTip(QDir::toNativeSeparators(absolute));
}

QStringList MainWindow::scanFolders() const
{
    QStringList folders;
    for (int i = 0; i < m_folderList->count(); ++i)
        folders << m_folderList->item(i)->text();
    return folders;
}

void MainWindow::onAddFolder()
{
    const QString start =
        m_folderList->count() > 0 ? m_folderList->item(m_folderList->count() - 1)->text() : QDir::homePath();
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Select a music folder"), start,
                                                             QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        addScanFolder(folder);
}

void MainWindow::onRemoveFolder()
{
    qDeleteAll(m_folderList->selectedItems());
}

ScanOptions MainWindow::currentOptions() const
{
    ScanOptions o = m_options;
    o.folders = scanFolders();
    o.quarantineRoot = m_removal->quarantineRoot();
    return o;
}

// ---- scan flow ----

bool MainWindow::scanBusy() const
{
    return m_startPending || (m_controller && m_controller->isRunning());
}

void MainWindow::startScan()
{
    onStartScan();
}

void MainWindow::onStartScan()
{
    if (m_folderList->count() == 0) {
        QMessageBox::information(this, tr("Nothing to scan"),
                                 tr("Add at least one folder containing music before starting a scan."));
        return;
    }
    if (scanBusy())
        return;
    const ScanOptions options = currentOptions();
    if (!options.detectIdentical && !options.detectSameAudio && !options.detectAcoustic &&
        !options.detectMetadata) {
        QMessageBox::warning(this, tr("No detection method enabled"),
                             tr("Enable at least one detection method in Settings before scanning."));
        return;
    }
    m_model->removeRows(0, m_model->rowCount());
    m_tracks.clear();
    m_groups.clear();
    m_outcome = ScanOutcome::None;
    m_player->clearAll();
    updateSummary();
    onLogMessage(tr("--- Scan started %1 ---").arg(QDateTime::currentDateTime().toString(Qt::TextDate)));
    m_startPending = true;
    QMetaObject::invokeMethod(m_controller, "start", Qt::QueuedConnection, Q_ARG(rvw::ScanOptions, options));
}

void MainWindow::onStopScan()
{
    m_controller->cancel();
    m_stopping = true;
    m_status->setText(tr("Stopping..."));
}

void MainWindow::onScanStarted()
{
    m_startPending = false;
    m_stopping = false;
    m_discoveryGaps.clear();
    for (QAction *a : {m_startAction, m_settingsAction, m_removeSelectedAction, m_undoAction})
        a->setEnabled(false);
    m_stopAction->setEnabled(true);
    m_progress->show();
}

void MainWindow::restoreControls()
{
    m_startPending = false;
    for (QAction *a : {m_startAction, m_settingsAction, m_removeSelectedAction, m_undoAction})
        a->setEnabled(true);
    m_stopAction->setEnabled(false);
    m_progress->hide();
    m_progress->reset();
    m_progress->setRange(0, 100);
}

void MainWindow::onScanFinished(const QList<TrackInfo> &tracks, const QList<MatchGroup> &groups,
                                bool cancelled, qint64 elapsedMs)
{
    m_tracks = tracks;
    m_groups = groups;
    m_outcome = cancelled ? ScanOutcome::Cancelled : ScanOutcome::Completed;
    m_stopping = false;
    restoreControls();
    populateResults();
    const QString d = formatDuration(elapsedMs);
    if (cancelled) {
        m_status->setText(tr("Scan cancelled after %1").arg(d));
        onLogMessage(tr("--- Scan cancelled after %1 ---").arg(d));
    } else {
        m_status->setText(tr("Scan complete in %1").arg(d));
        onLogMessage(tr("--- Scan complete in %1 ---").arg(d));
    }
}

void MainWindow::onScanFailed(const QString &error)
{
    m_stopping = false;
    onLogMessage(tr("Scan failed: %1").arg(error));
    m_status->setText(tr("Scan failed: %1").arg(error)); // the last phase would read as if still busy
    restoreControls();
}

void MainWindow::onPhaseChanged(const QString &phase)
{
    if (!m_stopping)
        m_status->setText(phase);
    onLogMessage(phase);
}

void MainWindow::onProgress(int done, int total, const QString &detail)
{
    if (total < 1) {
        m_progress->setRange(0, 0);
    } else {
        m_progress->setRange(0, total);
        m_progress->setValue(done);
    }
    if (!detail.isEmpty() && !m_stopping)
        m_status->setText(detail);
}

void MainWindow::onLogMessage(const QString &message)
{
    m_log->appendPlainText(
        QStringLiteral("[%1] %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), message));
}

namespace {

// The local folders among dropped items; files and remote places are not scan roots.
QStringList droppedFolders(const QMimeData *data)
{
    QStringList folders;
    if (!data || !data->hasUrls())
        return folders;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir())
            folders.append(url.toLocalFile());
    }
    return folders;
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFolders(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QStringList folders = droppedFolders(event->mimeData());
    if (folders.isEmpty())
        return;
    for (const QString &folder : folders)
        addScanFolder(folder);
    event->acceptProposedAction();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (scanBusy()) {
        const auto answer = QMessageBox::question(
            this, tr("Scan in progress"),
            tr("A scan is still running. Stop it and close %1?").arg(AppInfo::applicationName()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        m_controller->cancel();
    }
    saveSettings();
    event->accept();
}

// ---- results tree ----

void MainWindow::populateResults()
{
    m_model->removeRows(0, m_model->rowCount());
    for (int g = 0; g < m_groups.size(); ++g) {
        const MatchGroup &group = m_groups.at(g);
        QList<QStandardItem *> row = Results::groupRow(group, g);
        QStandardItem *parent = row.first();
        m_model->appendRow(row);
        for (int t : group.members) {
            if (t < 0 || t >= m_tracks.size())
                continue;
            parent->appendRow(Results::fileRow(m_tracks.at(t), t, g, group.isKept(t)));
        }
    }
    m_tree->expandAll();
    for (int c = 0; c < Results::FolderColumn; ++c)
        m_tree->resizeColumnToContents(c);
    if (m_tree->columnWidth(0) > 320)
        m_tree->setColumnWidth(0, 320);
    onFilterChanged(m_filter->text());
    for (int g = 0; g < m_model->rowCount(); ++g) {
        if (m_tree->isRowHidden(g, QModelIndex()))
            continue;
        const QModelIndex first = m_model->index(g, 0);
        m_tree->setCurrentIndex(first);
        auditionFromIndex(first);
        break;
    }
    updateSummary();
}

void MainWindow::updateSummary()
{
    m_summaryTimer->stop();
    // Part of the library left unchecked must not read as a clean bill of health.
    const QString gaps = m_discoveryGaps.isEmpty() ? QString() : QLatin1Char(' ') + m_discoveryGaps;
    const bool cancelled = m_outcome == ScanOutcome::Cancelled;
    if (m_groups.isEmpty()) {
        QString text;
        if (cancelled)
            // A cancelled scan hands back what it found before grouping: "no duplicates" would be a guess.
            text = m_tracks.isEmpty()
                       ? tr("The scan was cancelled while looking for files - the results are incomplete.")
                       : tr("The scan was cancelled after finding %n file(s), before they were compared - "
                            "the results are incomplete.",
                            nullptr, int(m_tracks.size()));
        else if (!m_tracks.isEmpty())
            text = tr("Scanned %n file(s) - no duplicates found.", nullptr, int(m_tracks.size()));
        else if (m_outcome == ScanOutcome::Completed)
            text = tr("No audio files were found in the scanned folders (looking for: %1), so there was "
                      "nothing to compare.")
                       .arg(m_options.extensions.join(QStringLiteral(", ")));
        else
            text = gaps.isEmpty() ? tr("No scan has been run yet.") : tr("No files were scanned.");
        m_summary->setText(text + gaps);
        return;
    }
    // Sizes as scanned: the summary follows every tick, and asking the disk each time would stall
    // the window on a large or slow library.
    const Results::Totals sum = Results::totals(*m_model, m_tracks);
    // One count per piece, so each can take its language's plural.
    const QString text =
        tr("%n file(s) scanned", nullptr, int(m_tracks.size())) +
        tr(" - %n duplicate group(s)", nullptr, sum.groups) +
        tr(" - %n redundant copies (%1).", nullptr, sum.redundant).arg(formatBytes(sum.reclaimable)) +
        tr(" Currently selected for removal: %n file(s), %1.", nullptr, sum.ticked)
            .arg(formatBytes(sum.tickedBytes));
    const QString prefix =
        cancelled ? tr("The scan was cancelled - the results are incomplete.") + QLatin1Char(' ') : QString();
    m_summary->setText(prefix + text + gaps);
}

QStringList MainWindow::checkedPaths() const
{
    QStringList paths;
    for (const QStandardItem *file : Results::tickedFiles(*m_model, int(m_tracks.size())))
        paths << m_tracks.at(Results::trackIndexOf(file, int(m_tracks.size()))).path;
    return paths;
}

int MainWindow::hiddenTickedCount() const
{
    int hidden = 0;
    for (const QStandardItem *file : Results::tickedFiles(*m_model, int(m_tracks.size()))) {
        const QModelIndex group = file->index().parent();
        if (m_tree->isRowHidden(group.row(), QModelIndex()) || m_tree->isRowHidden(file->row(), group))
            ++hidden;
    }
    return hidden;
}

int MainWindow::trackIndexAt(const QModelIndex &index) const
{
    if (!index.isValid())
        return -1;
    const QVariant value = index.siblingAtColumn(0).data(Results::TrackIndexRole);
    if (!value.isValid())
        return -1;
    bool ok = false;
    const int t = value.toInt(&ok);
    return ok && t >= 0 && t < m_tracks.size() ? t : -1;
}

void MainWindow::auditionFromIndex(const QModelIndex &index)
{
    if (!m_player || !m_player->isVisible() || !index.isValid())
        return;
    const QVariant groupValue = index.siblingAtColumn(0).data(Results::GroupIndexRole);
    if (!groupValue.isValid())
        return;
    const int g = groupValue.toInt();
    if (g < 0 || g >= m_groups.size())
        return;
    const MatchGroup &group = m_groups.at(g);
    if (group.keeper < 0 || group.keeper >= m_tracks.size())
        return;
    m_player->loadDeck(ComparePlayer::A, m_tracks.at(group.keeper));
    int other = trackIndexAt(index);
    if (other < 0 || other == group.keeper) {
        other = -1;
        for (int m : group.members) {
            if (m != group.keeper) {
                other = m;
                break;
            }
        }
    }
    if (other >= 0 && other < m_tracks.size())
        m_player->loadDeck(ComparePlayer::B, m_tracks.at(other));
    else
        m_player->clearDeck(ComparePlayer::B);
}

void MainWindow::onTreeSelectionChanged()
{
    auditionFromIndex(m_tree->currentIndex());
}

void MainWindow::onTreeDoubleClicked(const QModelIndex &index)
{
    const int t = trackIndexAt(index);
    if (t < 0)
        return;
    if (m_player->isVisible()) {
        m_player->loadDeck(ComparePlayer::B, m_tracks.at(t));
        m_player->setActiveDeck(ComparePlayer::B);
        m_player->play(); // a double-click while playing keeps playing
    } else {
        openLocal(m_tracks.at(t).path);
    }
}

void MainWindow::onSelectDuplicates()
{
    Results::setTicks(*m_model, Results::TickDuplicates);
    updateSummary();
}

void MainWindow::onClearSelection()
{
    Results::setTicks(*m_model, Results::TickNone);
    updateSummary();
}

void MainWindow::onInvertSelection()
{
    Results::setTicks(*m_model, Results::TickInverted);
    updateSummary();
}

void MainWindow::onFilterChanged(const QString &text)
{
    const QString needle = text.trimmed();
    for (int g = 0; g < m_model->rowCount(); ++g) {
        QStandardItem *group = m_model->item(g, 0);
        bool anyShown = false;
        for (int r = 0; r < group->rowCount(); ++r) {
            const int t = Results::trackIndexOf(group->child(r, 0), int(m_tracks.size()));
            const bool shown = needle.isEmpty() || (t >= 0 && Results::matchesFilter(m_tracks.at(t), needle));
            m_tree->setRowHidden(r, group->index(), !shown);
            anyShown = anyShown || shown;
        }
        m_tree->setRowHidden(g, QModelIndex(), !anyShown && !needle.isEmpty());
    }
}

// ---- removal ----

void MainWindow::onRemoveSelected()
{
    if (checkedPaths().isEmpty()) {
        QMessageBox::information(this, tr("Nothing selected"),
                                 tr("Tick the copies you want removed, or use Select All Duplicates."));
        return;
    }
    // Checked against the disk as it is now: a copy to keep may have been moved or changed
    // since the scan, and then its group must not lose the others.
    const RemovalGuard::Plan plan = RemovalGuard::plan(Results::removalGroups(*m_model, m_tracks, m_groups));
    if (!plan.refused.isEmpty()) {
        const int row = plan.refused.first();
        QStandardItem *group = m_model->item(row, 0);
        const int gi = group->data(Results::GroupIndexRole).toInt();
        const int id = gi >= 0 && gi < m_groups.size() ? m_groups.at(gi).id : gi;
        bool allTicked = true;
        for (int r = 0; r < group->rowCount(); ++r)
            allTicked = allTicked && group->child(r, 0)->checkState() == Qt::Checked;
        // A hidden group would be refused without the user being able to see it.
        m_tree->setRowHidden(row, QModelIndex(), false);
        for (int r = 0; r < group->rowCount(); ++r)
            m_tree->setRowHidden(r, group->index(), false);
        m_tree->setCurrentIndex(group->index());
        if (allTicked)
            QMessageBox::warning(
                this, tr("Every copy selected"),
                tr("Group %1 has all of its copies ticked for removal. Untick at least one so a "
                   "copy survives.")
                    .arg(id));
        else
            QMessageBox::warning(this, tr("Kept copy missing"),
                                 tr("Group %1 has no unticked copy that is still on disk as it was scanned: "
                                    "removing the others could lose the last copy. Untick a copy that is "
                                    "still there, or scan again.")
                                     .arg(id));
        return;
    }
    for (const QString &note : plan.notes)
        onLogMessage(note);
    if (plan.paths.isEmpty())
        return;
    if (!m_removal->remove(plan.paths, plan.bytes, hiddenTickedCount(), currentOptions().folders))
        return;
    Results::pruneMissing(*m_model, m_tracks);
    if (m_player->hasAudio(ComparePlayer::A))
        m_player->clearDeck(ComparePlayer::A);
    if (m_player->hasAudio(ComparePlayer::B))
        m_player->clearDeck(ComparePlayer::B);
    updateSummary();
}

void MainWindow::onUndoPrevious()
{
    if (m_removal->undo() > 0 && !m_groups.isEmpty()) {
        // Restored copies are duplicates again: the result is shown anew, less what is still gone.
        populateResults();
        Results::pruneMissing(*m_model, m_tracks);
        updateSummary();
    }
}

// ---- context menu ----

void MainWindow::onTreeContextMenu(const QPoint &pos)
{
    const QModelIndex index = m_tree->indexAt(pos).siblingAtColumn(0);
    const int t = trackIndexAt(index);
    if (t < 0)
        return;
    const int g = index.data(Results::GroupIndexRole).toInt();
    const QString path = m_tracks.at(t).path;

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("fileMenu"));
    const auto loadInto = [this, t](ComparePlayer::Deck deck) {
        m_showPlayerAction->setChecked(true);
        m_player->loadDeck(deck, m_tracks.at(t));
        m_player->setActiveDeck(deck);
    };
    menu.addAction(tr("Load into Deck A"), this, [loadInto] { loadInto(ComparePlayer::A); });
    menu.addAction(tr("Load into Deck B"), this, [loadInto] { loadInto(ComparePlayer::B); });
    menu.addSeparator();
    menu.addAction(tr("Play in system player"), this, [path] { openLocal(path); });
    menu.addAction(tr("Open containing folder"), this, [path] { openLocal(QFileInfo(path).absolutePath()); });
    menu.addAction(tr("Copy full path"), this, [this, path] {
        QApplication::clipboard()->setText(QDir::toNativeSeparators(path));
        m_status->setText(tr("Path copied to clipboard."));
    });
    menu.addSeparator();
    menu.addAction(tr("Keep this copy instead"), this, [this, g, t] { keepInstead(g, t); });
    menu.addSeparator();
    menu.addAction(tr("File details..."), this, [this, t] { showFileDetails(t); });
    menu.exec(m_tree->viewport()->mapToGlobal(pos));
}

void MainWindow::keepInstead(int groupIndex, int trackIndex)
{
    if (groupIndex < 0 || groupIndex >= m_groups.size())
        return;
    MatchGroup &group = m_groups[groupIndex];
    // Recomputes the other recordings' copies too: the new keeper may belong to one of them.
    DuplicateGrouper::setKeeper(group, trackIndex, m_tracks, currentOptions());

    Results::markKeepers(*m_model, groupIndex, group);
    updateSummary();
}

void MainWindow::showFileDetails(int t)
{
    const TrackInfo &track = m_tracks.at(t);
    const auto orNone = [](const QString &hash) { return hash.isEmpty() ? tr("not computed") : hash; };
    // One arg() call fills all twelve in a single pass: chained calls would go on to replace a "%2"
    // inside a file name or tag with a later value.
    QMessageBox box(
        QMessageBox::Information, tr("File details"),
        tr("<b>%1</b><br><br>Folder: %2<br>Artist: %3<br>Title: %4<br>Album: %5<br>Duration: %6<br>"
           "Quality: %7<br>Size: %8<br>Modified: %9<br><br>SHA-256: %10<br>Audio SHA-256: %11<br>"
           "Fingerprint words: %12")
            .arg(track.fileName.toHtmlEscaped(), QFileInfo(track.path).absolutePath().toHtmlEscaped(),
                 track.displayArtist().toHtmlEscaped(), track.displayTitle().toHtmlEscaped(),
                 track.album.toHtmlEscaped(), formatDuration(track.durationMs), track.qualityString(),
                 formatBytes(track.size), track.mtime.toString(Qt::TextDate), orNone(track.fullHash),
                 orNone(track.audioHash), QString::number(track.fingerprint.size())),
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

// ---- export ----

void MainWindow::onExportReport()
{
    if (m_groups.isEmpty()) {
        QMessageBox::information(this, tr("Nothing to export"),
                                 tr("Run a scan first - there are no results to report on."));
        return;
    }
    const QString filters = QStringLiteral("%1;;%2;;%3;;%4")
                                .arg(ReportWriter::filterForFormat(ReportWriter::Html),
                                     ReportWriter::filterForFormat(ReportWriter::Csv),
                                     ReportWriter::filterForFormat(ReportWriter::Json),
                                     ReportWriter::filterForFormat(ReportWriter::M3u8));
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QStringLiteral("Ravelwick-%1.html").arg(QDate::currentDate().toString(Qt::ISODate)));
    QString chosenFilter;
    const QString chosen =
        QFileDialog::getSaveFileName(this, tr("Export duplicate report"), suggested, filters, &chosenFilter);
    if (chosen.isEmpty())
        return;
    ReportWriter::Format chosenFormat = ReportWriter::Html;
    if (chosenFilter.contains(QLatin1String("csv")))
        chosenFormat = ReportWriter::Csv;
    else if (chosenFilter.contains(QLatin1String("json")))
        chosenFormat = ReportWriter::Json;
    else if (chosenFilter.contains(QLatin1String("m3u")))
        chosenFormat = ReportWriter::M3u8;
    const auto [format, file] = reportTarget(chosen, chosenFormat);
    // The file dialog asked about replacing the name it was given, not the one with a suffix added.
    if (file != chosen && QFileInfo::exists(file) &&
        QMessageBox::question(this, tr("Replace report"),
                              tr("%1 already exists.\n\nReplace it?").arg(QDir::toNativeSeparators(file)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    QString error;
    if (!ReportWriter::write(file, format, m_tracks, m_groups, currentOptions(), &error)) {
        QMessageBox::critical(this, tr("Export failed"), tr("Could not write the report:\n\n%1").arg(error));
        return;
    }
    onLogMessage(tr("Report written to %1").arg(file));
    if (QMessageBox::question(this, tr("Report saved"), tr("Report saved to:\n%1\n\nOpen it now?").arg(file),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
        openLocal(file);
}

// ---- settings ----

void MainWindow::loadSettings()
{
    QSettings s;
    restoreGeometry(s.value(SettingsKeys::windowGeometry).toByteArray());
    restoreState(s.value(SettingsKeys::windowState).toByteArray());
    if (auto *splitter = findChild<QSplitter *>(QStringLiteral("mainSplitter")))
        splitter->restoreState(s.value(SettingsKeys::splitterState).toByteArray());
    m_tree->header()->restoreState(s.value(SettingsKeys::resultColumns).toByteArray());
    for (const QString &folder : s.value(SettingsKeys::scanFolders).toStringList())
        addScanFolder(folder);
    m_options = SettingsKeys::readScanOptions(s, m_options);
    m_removal->setQuarantineRoot(
        s.value(SettingsKeys::quarantineRoot, m_removal->quarantineRoot()).toString());
    const bool showPlayer = s.value(SettingsKeys::showPlayer, true).toBool();
    m_showPlayerAction->setChecked(showPlayer);
    m_player->setVisible(showPlayer);
    m_linkAction->setChecked(s.value(SettingsKeys::linkedDecks, true).toBool());
}

void MainWindow::saveSettings()
{
    QSettings s;
    s.setValue(SettingsKeys::windowGeometry, saveGeometry());
    s.setValue(SettingsKeys::windowState, saveState());
    if (auto *splitter = findChild<QSplitter *>(QStringLiteral("mainSplitter")))
        s.setValue(SettingsKeys::splitterState, splitter->saveState());
    s.setValue(SettingsKeys::resultColumns, m_tree->header()->saveState());
    s.setValue(SettingsKeys::scanFolders, scanFolders());
    SettingsKeys::writeScanOptions(s, m_options);
    s.setValue(SettingsKeys::quarantineRoot, m_removal->quarantineRoot());
    s.setValue(SettingsKeys::showPlayer, m_showPlayerAction->isChecked());
    s.setValue(SettingsKeys::linkedDecks, m_linkAction->isChecked());
}

void MainWindow::onSettings()
{
    SettingsDialog dialog(m_options, this);
    connect(&dialog, &SettingsDialog::clearCacheRequested, this, &MainWindow::clearCache);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_options = dialog.options();
    m_updateChecker->setEndpoint(QSettings().value(SettingsKeys::updateUrl).toString());
    saveSettings();
    onLogMessage(tr("Settings updated."));
}

void MainWindow::clearCache()
{
    CacheDatabase cache;
    QString error;
    if (cache.open(&error) && cache.clear(&error))
        onLogMessage(tr("Analysis cache cleared."));
    else
        onLogMessage(tr("Could not clear the analysis cache: %1").arg(error));
}

// ---- updates and about ----

void MainWindow::onCheckForUpdates()
{
    onLogMessage(tr("Checking %1 for updates...").arg(m_updateChecker->endpoint()));
    m_updateChecker->check(false);
}

void MainWindow::onUpdateAvailable(const UpdateChecker::Release &release, bool silent)
{
    Q_UNUSED(silent) // offered for automatic and manual checks alike
    onLogMessage(release.critical ? tr("Important update available: version %1.").arg(release.version)
                                  : tr("Update available: version %1.").arg(release.version));
    UpdateDialog dialog(release, this);
    dialog.exec();
}

void MainWindow::onUpToDate(bool silent)
{
    onLogMessage(tr("%1 %2 is up to date.").arg(AppInfo::applicationName(), AppInfo::versionString()));
    if (!silent)
        QMessageBox::information(this, tr("No update available"),
                                 tr("You are running the latest version of %1 (%2).")
                                     .arg(AppInfo::applicationName(), AppInfo::versionString()));
}

void MainWindow::onUpdateCheckFailed(const QString &error, bool silent)
{
    onLogMessage(tr("Update check failed: %1").arg(error));
    if (!silent)
        QMessageBox::warning(this, tr("Update check failed"),
                             tr("Could not reach the update service.\n\n%1").arg(error));
}

void MainWindow::onAbout()
{
    AboutDialog dialog(this);
    dialog.exec();
}

} // namespace rvw
