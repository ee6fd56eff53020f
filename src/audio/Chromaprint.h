#pragma once

#include <QAtomicInt>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace rvw {

struct ChromaprintResult
{
    QList<quint32> fingerprint;
    qint64 durationMs = 0;
    QString error;
};

// The outside fingerprinter fpcalc (from the Chromaprint project) and the comparison of its
// raw fingerprints, which come without masks or alt streams.
namespace Chromaprint {

// The value fpcalc gives every frame of digital silence (Chromaprint's default algorithm).
constexpr quint32 kSilenceValue = 627964279u;

// The fpcalc to use, empty when none was found; looked up once per process like ffmpeg, with
// the RVW_FPCALC environment variable first. Safe to call from several threads.
QString fpcalcPath();
bool available();

// Runs "fpcalc -raw -length <seconds> <path>" and parses its DURATION and FINGERPRINT lines.
// On failure the fingerprint is empty and error holds an English message. fpcalc runs for at
// most max(seconds, 30) s; a set `cancel` ends it within a tenth of a second (error "cancelled").
ChromaprintResult fingerprint(const QString &path, int seconds, const QAtomicInt *cancel = nullptr);

// Lowest bit error rate over offsets -maxOffset..maxOffset with at least minOverlap pairs; for
// lists shorter than minOverlap the common head at offset 0 (1.0 below 8 words).
double bitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int maxOffset, int minOverlap);
// Cheap pre-check before bitErrorRate: false only when a and b clearly differ.
bool couldMatch(const QList<quint32> &a, const QList<quint32> &b, double threshold);

} // namespace Chromaprint

} // namespace rvw
