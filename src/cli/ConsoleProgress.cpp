#include "cli/ConsoleProgress.h"

namespace rvw {

namespace {
const char kSpinner[] = {'|', '/', '-', '\\'};
constexpr qint64 kRedrawMs = 100;
} // namespace

ConsoleProgress::ConsoleProgress(std::FILE *out, bool terminal) : m_out(out), m_terminal(terminal) {}

QString ConsoleProgress::formatRemaining(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("?");
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString ConsoleProgress::formatLine(const QString &phase, int done, int total, qint64 elapsedMs, int firstDone,
                                    int spinnerStep)
{
    if (total <= 0)
        return QStringLiteral("%1 %2 %3").arg(phase).arg(QLatin1Char(kSpinner[spinnerStep & 3])).arg(done);
    QString line = QStringLiteral("%1 %2/%3").arg(phase).arg(done).arg(total);
    const int gained = firstDone >= 0 ? done - firstDone : 0;
    if (elapsedMs >= 500 && gained > 0) {
        const double rate = gained * 1000.0 / double(elapsedMs);
        const qint64 left = qint64((total - done) / rate + 0.5);
        line += QStringLiteral("  %1/s  %2 left").arg(rate, 0, 'f', 1).arg(formatRemaining(left));
    }
    return line;
}

void ConsoleProgress::phase(const QString &name)
{
    m_phase = name;
    m_done = 0;
    m_total = 0;
    m_firstDone = -1;
    m_phaseTimer.start();
    if (m_terminal) {
        redraw();
    } else {
        std::fprintf(m_out, "%s...\n", name.toLocal8Bit().constData());
        std::fflush(m_out);
    }
}

void ConsoleProgress::progress(int done, int total, const QString &)
{
    m_done = done;
    m_total = total;
    if (m_firstDone < 0 || total <= 0) {
        m_firstDone = done;
        m_phaseTimer.start();
    }
    if (!m_terminal)
        return;
    if (m_redrawTimer.isValid() && m_redrawTimer.elapsed() < kRedrawMs && done != total)
        return;
    ++m_spinner;
    redraw();
}

void ConsoleProgress::redraw()
{
    m_redrawTimer.start();
    const QString line = formatLine(m_phase, m_done, m_total, m_phaseTimer.elapsed(), m_firstDone, m_spinner);
    std::fprintf(m_out, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(m_out);
    m_lineOpen = true;
}

void ConsoleProgress::finish()
{
    if (m_terminal && m_lineOpen) {
        std::fprintf(m_out, "\r\033[K");
        std::fflush(m_out);
        m_lineOpen = false;
    }
}

} // namespace rvw
