#pragma once

#include "cleanup/ActionRunner.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace rvw {

// The window's side of a clean-up: asks how the ticked copies should go, removes them on a
// worker thread behind a progress dialog (files done of total, Cancel between files), says
// what happened, and reverses a recorded quarantine the same way. It knows nothing of the
// results; the window refreshes those from the outcome.
class RemovalFlow
{
    Q_DECLARE_TR_FUNCTIONS(RemovalFlow)
public:
    using Log = std::function<void(const QString &line)>;
    // The work itself, run on a worker thread.
    using Job = std::function<ActionRunner::Result(const QAtomicInt *cancel, const ActionRunner::Progress &)>;

    RemovalFlow(QWidget *window, Log log);

    QString quarantineRoot() const { return m_quarantineRoot; }
    void setQuarantineRoot(const QString &root) { m_quarantineRoot = root; }

    // Asks how `paths` (together `bytes`) should go, then removes them. `hiddenTicked` of them
    // are out of sight behind the filter; `roots` shape the quarantine's folders. False when
    // the user backed out and nothing was touched.
    bool remove(const QStringList &paths, qint64 bytes, int hiddenTicked, const QStringList &roots);
    // Lets the user pick a recorded quarantine and moves its files back; the number restored.
    int undo();

    // Runs `job` off the window thread. The progress dialog appears only when the job takes
    // longer than a moment; until then the window takes no input.
    ActionRunner::Result runWithProgress(const QString &title, const Job &job);

private:
    QWidget *m_window;
    Log m_log;
    QString m_quarantineRoot;
};

} // namespace rvw
