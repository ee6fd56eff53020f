#include "ui/RemovalFlow.h"

#include "ui/ResultsModel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace rvw {

namespace {

using Results::formatBytes;

constexpr int kShowProgressAfterMs = 400;
constexpr int kProgressRefreshMs = 100;

QString quarantineHint(const QString &root, bool withUndoLine)
{
    if (withUndoLine)
        return RemovalFlow::tr(
                   "<span style='color:#5b6b80'>Files keep their folder structure under<br>%1<br>and "
                   "can be restored with Tools &rarr; Undo Previous Clean-up.</span>")
            .arg(root.toHtmlEscaped());
    return RemovalFlow::tr("<span style='color:#5b6b80'>Files keep their folder structure under<br>%1</span>")
        .arg(root.toHtmlEscaped());
}

// Closing the progress dialog (Escape, the title bar) asks the work to stop; the dialog itself
// stays until the file being handled is finished, so nothing is left half done behind it.
class ProgressDialog : public QDialog
{
public:
    ProgressDialog(QWidget *parent, const QString &title, QAtomicInt &cancel)
        : QDialog(parent), m_cancel(cancel)
    {
        setObjectName(QStringLiteral("cleanupProgress"));
        setWindowTitle(title);
        setModal(true);
        auto *layout = new QVBoxLayout(this);
        m_label = new QLabel(this);
        m_label->setObjectName(QStringLiteral("progressText"));
        m_bar = new QProgressBar(this);
        m_button = new QPushButton(RemovalFlow::tr("Cancel"), this);
        m_button->setObjectName(QStringLiteral("cancelCleanup"));
        connect(m_button, &QPushButton::clicked, this, [this] { reject(); });
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        layout->addWidget(m_button, 0, Qt::AlignRight);
        setMinimumWidth(360);
    }

    void setCount(int done, int total)
    {
        m_bar->setRange(0, qMax(total, 1));
        m_bar->setValue(done);
        const QString count = RemovalFlow::tr("%1 of %n file(s) done", nullptr, total).arg(done);
        m_label->setText(m_cancel.loadRelaxed() ? count + QLatin1Char('\n') +
                                                      RemovalFlow::tr("Stopping after the current file...")
                                                : count);
    }

    void reject() override
    {
        m_cancel.storeRelaxed(1);
        m_button->setEnabled(false);
    }

private:
    QAtomicInt &m_cancel;
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_button = nullptr;
};

} // namespace

RemovalFlow::RemovalFlow(QWidget *window, Log log)
    : m_window(window), m_log(std::move(log)), m_quarantineRoot(ActionRunner::defaultQuarantineRoot())
{
}

ActionRunner::Result RemovalFlow::runWithProgress(const QString &title, const Job &job)
{
    QAtomicInt cancel;
    QAtomicInt done;
    QAtomicInt total;
    ProgressDialog dialog(m_window, title, cancel);
    QFutureWatcher<ActionRunner::Result> watcher;
    QEventLoop moment;
    QObject::connect(&watcher, &QFutureWatcher<ActionRunner::Result>::finished, &moment, &QEventLoop::quit);
    QObject::connect(&watcher, &QFutureWatcher<ActionRunner::Result>::finished, &dialog,
                     [&dialog] { dialog.done(QDialog::Accepted); });
    watcher.setFuture(QtConcurrent::run([&job, &cancel, &done, &total] {
        return job(&cancel, [&done, &total](int d, int t) {
            total.storeRelaxed(t);
            done.storeRelaxed(d);
        });
    }));

    // A short batch ends before a dialog would only flash; the window must not act meanwhile.
    QTimer::singleShot(kShowProgressAfterMs, &moment, &QEventLoop::quit);
    moment.exec(QEventLoop::ExcludeUserInputEvents);
    if (!watcher.isFinished()) {
        QTimer refresh;
        refresh.setInterval(kProgressRefreshMs);
        QObject::connect(&refresh, &QTimer::timeout, &dialog,
                         [&] { dialog.setCount(done.loadRelaxed(), total.loadRelaxed()); });
        dialog.setCount(done.loadRelaxed(), total.loadRelaxed());
        refresh.start();
        // Ends through the watcher only: the work is never abandoned while it still runs.
        dialog.exec();
    }
    watcher.waitForFinished();
    return watcher.result();
}

bool RemovalFlow::remove(const QStringList &paths, qint64 bytes, int hiddenTicked, const QStringList &roots)
{
    QDialog dialog(m_window);
    dialog.setObjectName(QStringLiteral("removeDialog"));
    dialog.setWindowTitle(tr("Remove duplicates"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        tr("<b>%n file(s) selected, freeing %1.</b>", nullptr, int(paths.size())).arg(formatBytes(bytes)),
        &dialog));
    // Ticks survive filtering, so the user may be about to remove files the tree does not show.
    if (hiddenTicked > 0) {
        auto *hiddenNote = new QLabel(
            tr("%n of the ticked files are hidden by the filter.", nullptr, hiddenTicked), &dialog);
        hiddenNote->setObjectName(QStringLiteral("hiddenTicked"));
        layout->addWidget(hiddenNote);
    }
    auto *box = new QGroupBox(tr("What should happen to them?"), &dialog);
    auto *boxLayout = new QVBoxLayout(box);
    auto *quarantine = new QRadioButton(tr("Move to &quarantine folder (recommended)"), box);
    quarantine->setObjectName(QStringLiteral("modeQuarantine"));
    quarantine->setChecked(true);
    auto *hint = new QLabel(quarantineHint(m_quarantineRoot, true), box);
    hint->setObjectName(QStringLiteral("quarantineHint"));
    hint->setWordWrap(true);
    auto *recycle = new QRadioButton(tr("Move to the recycle &bin"), box);
    recycle->setObjectName(QStringLiteral("modeRecycle"));
    auto *erase = new QRadioButton(tr("&Delete permanently (cannot be undone)"), box);
    erase->setObjectName(QStringLiteral("modeDelete"));
    boxLayout->addWidget(quarantine);
    boxLayout->addWidget(hint);
    boxLayout->addWidget(recycle);
    boxLayout->addWidget(erase);
    layout->addWidget(box);
    auto *change = new QPushButton(tr("&Change quarantine folder..."), &dialog);
    change->setObjectName(QStringLiteral("changeQuarantine"));
    QObject::connect(change, &QPushButton::clicked, &dialog, [this, hint, &dialog] {
        const QString folder = QFileDialog::getExistingDirectory(&dialog, tr("Choose a quarantine folder"),
                                                                 m_quarantineRoot, QFileDialog::ShowDirsOnly);
        if (folder.isEmpty())
            return;
        m_quarantineRoot = folder;
        hint->setText(quarantineHint(folder, false));
    });
    layout->addWidget(change);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("&Remove"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    ActionRunner::Mode mode = ActionRunner::Quarantine;
    if (recycle->isChecked()) {
        mode = ActionRunner::RecycleBin;
    } else if (erase->isChecked()) {
        const auto answer = QMessageBox::warning(
            m_window, tr("Permanent deletion"),
            tr("%n file(s) will be deleted permanently and cannot be recovered.\n\nAre you certain?", nullptr,
               int(paths.size())),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Yes)
            return false;
        mode = ActionRunner::Delete;
    }

    const QString root = m_quarantineRoot;
    const ActionRunner::Result result = runWithProgress(
        tr("Removing duplicates"), [&](const QAtomicInt *cancel, const ActionRunner::Progress &p) {
            return ActionRunner::execute(paths, mode, root, roots, cancel, p);
        });
    m_log(tr("%1: %2 succeeded, %3 failed, %4 freed.")
              .arg(ActionRunner::modeName(mode))
              .arg(result.succeeded)
              .arg(result.failed)
              .arg(formatBytes(result.bytesFreed)));
    for (const QString &e : result.errors)
        m_log(e);

    QString text =
        tr("Removed %n file(s), freeing %1.", nullptr, result.succeeded).arg(formatBytes(result.bytesFreed));
    if (result.cancelled) {
        const int left = int(paths.size()) - result.succeeded - result.failed;
        m_log(tr("Clean-up cancelled: %n file(s) left in place.", nullptr, left));
        text += tr("\n\nThe clean-up was cancelled; %n file(s) were left in place.", nullptr, left);
    }
    if (result.failed > 0)
        text += tr("\n\n%n file(s) could not be removed - see the Activity Log.", nullptr, result.failed);
    if (!result.manifestPath.isEmpty())
        text += tr("\n\nThis clean-up can be reversed from Tools > Undo Previous Clean-up.");
    QMessageBox::information(m_window, result.cancelled ? tr("Clean-up cancelled") : tr("Clean-up complete"),
                             text);
    return true;
}

int RemovalFlow::undo()
{
    const QStringList list = ActionRunner::manifests();
    if (list.isEmpty()) {
        QMessageBox::information(
            m_window, tr("Nothing to undo"),
            tr("No reversible clean-ups have been recorded.\n\nOnly quarantine moves can be "
               "undone; recycle bin and permanent deletions are handled by the operating "
               "system."));
        return 0;
    }
    QStringList labels;
    for (const QString &m : list)
        labels << ActionRunner::describeManifest(m);
    bool ok = false;
    const QString choice = QInputDialog::getItem(
        m_window, tr("Undo previous clean-up"), tr("Select the clean-up to reverse:"), labels, 0, false, &ok);
    if (!ok || choice.isEmpty())
        return 0;
    const int chosen = int(labels.indexOf(choice));
    if (chosen < 0)
        return 0;

    const QString manifest = list.at(chosen);
    QString error;
    const ActionRunner::Result result = runWithProgress(
        tr("Undoing clean-up"), [&](const QAtomicInt *cancel, const ActionRunner::Progress &p) {
            return ActionRunner::undo(manifest, &error, cancel, p);
        });
    if (!error.isEmpty())
        m_log(error);
    for (const QString &e : result.errors)
        m_log(e);
    m_log(tr("Undo: %1 restored, %2 failed.").arg(result.succeeded).arg(result.failed));
    if (!error.isEmpty() && result.succeeded == 0 && result.failed == 0) {
        // The undo record itself could not be used: "Undo complete" would claim a success. The
        // record is kept, so nothing is lost and the files can still be found through it.
        QMessageBox::warning(m_window, tr("Undo failed"), error);
        return 0;
    }
    if (result.cancelled)
        QMessageBox::information(m_window, tr("Undo cancelled"),
                                 tr("Restored %n file(s). The others are still in the quarantine; "
                                    "choose this clean-up again to restore them.",
                                    nullptr, result.succeeded));
    else
        QMessageBox::information(
            m_window, tr("Undo complete"),
            result.failed == 0
                ? tr("Restored %n file(s) to their original locations.", nullptr, result.succeeded)
                : tr("Restored %n file(s).", nullptr, result.succeeded) + QLatin1Char(' ') +
                      tr("%n file(s) could not be restored. See the Activity Log.", nullptr, result.failed));
    return result.succeeded;
}

} // namespace rvw
