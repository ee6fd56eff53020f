#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace rvw {

// Scan progress on standard error: on a terminal one line redrawn in place with the
// phase, done/total, rate and time left (a spinner while the total is unknown);
// elsewhere (a log file, cron mail) one line per phase.
class ConsoleProgress
{
public:
    ConsoleProgress(std::FILE *out, bool terminal);

    void phase(const QString &name);
    void progress(int done, int total, const QString &detail);
    // Ends the in-place line before other output.
    void finish();

    // The in-place line for the given state; `elapsedMs` is the time since the phase's
    // first report of `firstDone`.
    static QString formatLine(const QString &phase, int done, int total, qint64 elapsedMs, int firstDone,
                              int spinnerStep);
    static QString formatRemaining(qint64 seconds);

private:
    void redraw();

    std::FILE *m_out;
    bool m_terminal;
    QString m_phase;
    int m_done = 0;
    int m_total = 0;
    int m_firstDone = -1;
    int m_spinner = 0;
    bool m_lineOpen = false;
    QElapsedTimer m_phaseTimer;
    QElapsedTimer m_redrawTimer;
};

} // namespace rvw
