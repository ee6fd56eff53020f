#include "audio/Chromaprint.h"

#include "audio/AudioDecode.h"
#include "audio/Fingerprint.h"
#include "audio/ToolProcess.h"

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <cmath>

namespace rvw::Chromaprint {

namespace {

constexpr qint64 kMaxOutputBytes = 1 << 20;
constexpr int kShortListMinimum = 8;
// Far beyond any real recording; keeps a damaged DURATION value from overflowing.
constexpr double kMaxDurationSeconds = 1e9;

void parseOutput(const QByteArray &output, ChromaprintResult &result)
{
    static const QByteArray durationKey("DURATION=");
    static const QByteArray fingerprintKey("FINGERPRINT=");
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(durationKey)) {
            // The file's own length whatever -length says (0 when the file gives none), never
            // that of the part fingerprinted.
            bool ok = false;
            const double value = line.mid(durationKey.size()).trimmed().toDouble(&ok);
            if (ok && std::isfinite(value) && value >= 0.0 && value <= kMaxDurationSeconds)
                result.durationMs = qint64(value * 1000.0);
        } else if (line.startsWith(fingerprintKey)) {
            const QList<QByteArray> items = line.mid(fingerprintKey.size()).trimmed().split(',');
            for (const QByteArray &item : items) {
                bool ok = false;
                const uint value = item.trimmed().toUInt(&ok, 10);
                if (ok)
                    result.fingerprint.append(quint32(value));
            }
        }
    }
}

} // namespace

QString fpcalcPath()
{
    static QMutex mutex;
    static bool resolved = false;
    static QString path;
    QMutexLocker lock(&mutex);
    if (!resolved) {
        path = AudioDecode::locateTool(QStringLiteral("fpcalc"), "RVW_FPCALC");
        resolved = true;
    }
    return path;
}

bool available()
{
    return !fpcalcPath().isEmpty();
}

ChromaprintResult fingerprint(const QString &path, int seconds, const QAtomicInt *cancel)
{
    ChromaprintResult result;
    const QString program = fpcalcPath();
    if (program.isEmpty()) {
        result.error = QStringLiteral("fpcalc not found");
        return result;
    }
    const QStringList args{QStringLiteral("-raw"), QStringLiteral("-length"),
                           QString::number(seconds > 0 ? seconds : 1), path};
    const int limit = int(std::min<qint64>(qint64(std::max(seconds, ToolProcess::floorSeconds())) * 1000, INT_MAX));
    // A fingerprint line is about 11 bytes a word, 8 words a second; a megabyte is hours of it.
    const ToolRun run = ToolProcess::run(program, args, limit, kMaxOutputBytes, cancel);
    if (!run.started) {
        result.error = QStringLiteral("could not start fpcalc");
        return result;
    }
    if (run.cancelled || run.timedOut || run.overflowed) {
        result.error = run.cancelled ? QStringLiteral("cancelled")
                       : run.timedOut ? QStringLiteral("fpcalc timed out")
                                      : QStringLiteral("fpcalc wrote more than a fingerprint");
        return result;
    }
    const QString errorText = QString::fromLocal8Bit(run.errors).trimmed();
    if (run.crashed) {
        result.error = errorText.isEmpty() ? QStringLiteral("fpcalc failed (exit %1)").arg(run.exitCode) : errorText;
        return result;
    }
    parseOutput(run.output, result);
    // fpcalc ends with an error status ("Error decoding audio frame (End of file)") whenever the
    // file is shorter than -length, after printing a complete fingerprint; that fingerprint is
    // good. Only a non-zero exit without one is a failure.
    if (run.exitCode != 0 && result.fingerprint.isEmpty()) {
        result.error = errorText.isEmpty() ? QStringLiteral("fpcalc failed (exit %1)").arg(run.exitCode) : errorText;
        result.durationMs = 0;
        return result;
    }
    if (result.fingerprint.isEmpty() && result.error.isEmpty())
        result.error = QStringLiteral("fpcalc produced no fingerprint");
    return result;
}

double bitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int maxOffset, int minOverlap)
{
    // An overlap of no words has no error rate.
    minOverlap = std::max(minOverlap, 1);
    if (a.size() >= minOverlap && b.size() >= minOverlap)
        return Fingerprint::bestBitErrorRate(a, b, maxOffset, minOverlap, nullptr);
    // Too short for the search: the common head at offset 0, whose overlap is exactly n.
    const int n = int(std::min(a.size(), b.size()));
    if (n < kShortListMinimum)
        return 1.0;
    return Fingerprint::bestBitErrorRate(a, b, 0, n, nullptr);
}

bool couldMatch(const QList<quint32> &a, const QList<quint32> &b, double threshold)
{
    return Fingerprint::couldMatchWithin(a, b, 160, 20, threshold + 0.12);
}

} // namespace rvw::Chromaprint
