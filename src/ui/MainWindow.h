#pragma once

#include "core/Types.h"
#include "update/UpdateChecker.h"

#include <QList>
#include <QMainWindow>
#include <QStringList>

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QModelIndex;
class QPlainTextEdit;
class QProgressBar;
class QStandardItem;
class QStandardItemModel;
class QThread;
class QTimer;
class QTreeView;

namespace rvw {

class ComparePlayer;
class RemovalFlow;
class ScanController;

// The application's single window: folders, scan flow, results tree, removal and undo,
// export, settings, the comparison player and the update checks.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    // Waits up to 10 s for a cancelled scan to end. When it still runs after that, the scan
    // thread and its controller are let go (no longer owned by the window) and delete
    // themselves when the thread finally ends, so neither is destroyed while it runs.
    ~MainWindow() override;

    // Adds an existing folder once (case-sensitive comparison) as its absolute path.
    void addScanFolder(const QString &path);
    // Does exactly what "Start Scan" does.
    void startScan();
    // The folder list's texts, in list order.
    QStringList scanFolders() const;

private slots:
    void onAddFolder();
    void onRemoveFolder();
    void onStartScan();
    void onStopScan();
    void onScanStarted();
    void onScanFinished(const QList<rvw::TrackInfo> &tracks, const QList<rvw::MatchGroup> &groups,
                        bool cancelled, qint64 elapsedMs);
    void onPhaseChanged(const QString &phase);
    void onProgress(int done, int total, const QString &detail);
    void onLogMessage(const QString &message);
    void onSelectDuplicates();
    void onClearSelection();
    void onInvertSelection();
    void onRemoveSelected();
    void onUndoPrevious();
    void onExportReport();
    void onSettings();
    void onAbout();
    void onCheckForUpdates();
    void onTreeSelectionChanged();
    void onTreeContextMenu(const QPoint &pos);
    void onTreeDoubleClicked(const QModelIndex &index);
    void onFilterChanged(const QString &text);
    // After the others, so their meta-object order stays as it was.
    void onScanFailed(const QString &error);

protected:
    void closeEvent(QCloseEvent *event) override;
    // Folders dropped anywhere on the window join the folder list.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildActions();
    void buildUi();
    ScanOptions currentOptions() const;
    void loadSettings();
    void saveSettings();

    void restoreControls();
    void onUpdateAvailable(const rvw::UpdateChecker::Release &release, bool silent);
    void onUpToDate(bool silent);
    void onUpdateCheckFailed(const QString &error, bool silent);
    void clearCache();

    void populateResults();
    void updateSummary();
    QStringList checkedPaths() const;
    // Ticked files the filter keeps out of sight.
    int hiddenTickedCount() const;
    int trackIndexAt(const QModelIndex &index) const;
    void auditionFromIndex(const QModelIndex &index);
    void keepInstead(int groupIndex, int trackIndex);
    void showFileDetails(int trackIndex);
    bool scanBusy() const;

    enum class ScanOutcome
    {
        None,
        Completed,
        Cancelled
    };

    QList<TrackInfo> m_tracks;
    QList<MatchGroup> m_groups;
    ScanOutcome m_outcome = ScanOutcome::None;
    // From Stop until the scan has ended, so progress reports cannot hide that it is stopping.
    bool m_stopping = false;
    // Ticks change one row at a time (a click, or thousands from one command): the summary
    // follows them once they settle.
    QTimer *m_summaryTimer = nullptr;
    // What the last scan's discovery could not check, for the summary; empty when nothing.
    QString m_discoveryGaps;
    ScanOptions m_options;
    std::unique_ptr<RemovalFlow> m_removal;
    QThread *m_scanThread = nullptr;
    ScanController *m_controller = nullptr;
    UpdateChecker *m_updateChecker = nullptr;
    // Set between a start request and the controller's answer, so a second request
    // queued behind the first cannot start another scan.
    bool m_startPending = false;

    QListWidget *m_folderList = nullptr;
    QTreeView *m_tree = nullptr;
    QStandardItemModel *m_model = nullptr;
    QLineEdit *m_filter = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_summary = nullptr;
    ComparePlayer *m_player = nullptr;

    QAction *m_addFolderAction = nullptr;
    QAction *m_removeFolderAction = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_selectDuplicatesAction = nullptr;
    QAction *m_clearSelectionAction = nullptr;
    QAction *m_invertSelectionAction = nullptr;
    QAction *m_removeSelectedAction = nullptr;
    QAction *m_undoAction = nullptr;
    QAction *m_exportAction = nullptr;
    QAction *m_settingsAction = nullptr;
    QAction *m_checkUpdatesAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_playPauseAction = nullptr;
    QAction *m_playerStopAction = nullptr;
    QAction *m_deckAAction = nullptr;
    QAction *m_deckBAction = nullptr;
    QAction *m_swapAction = nullptr;
    QAction *m_linkAction = nullptr;
    QAction *m_showPlayerAction = nullptr;
    QAction *m_exitAction = nullptr;
};

} // namespace rvw
