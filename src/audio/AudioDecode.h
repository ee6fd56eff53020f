#pragma once

#include <QAtomicInt>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace rvw {

// Decoding through the outside program ffmpeg: any audio file to mono 32-bit floats at a
// chosen rate. ffmpeg is optional; it is looked up once per process.
namespace AudioDecode {

// The ffmpeg to use, empty when none was found. Looked up on the first call only, in this
// order: the RVW_FFMPEG environment variable, "ffmpeg.exe" and "ffmpeg" next to the program,
// the system search path. Safe to call from several threads.
QString ffmpegPath();
bool ffmpegAvailable();

// Decodes at most `seconds` seconds of `path` (all of it when seconds <= 0) to mono floats at
// sampleRate. On success `samples` holds them, durationMs is the whole stream's length (0 when
// unknown: ffmpeg gave none and the decode was cut at `seconds`) and error is empty. On failure
// returns false with ffmpeg's error lines, or an English message, in `error`. A run that ends
// with an error status after producing audio still succeeds. Blocks until ffmpeg ends, for at
// most max(seconds, 30) s in all; a set `cancel` ends ffmpeg within a tenth of a second (error
// "cancelled").
bool decodeWithFfmpeg(const QString &path, int sampleRate, int seconds, std::vector<float> &samples,
                      qint64 &durationMs, QString &error, const QAtomicInt *cancel = nullptr);

// Shared by the outside-tool wrappers: the first executable file among $variable, the
// program's folder (with ".exe", then without) and the system search path.
QString locateTool(const QString &name, const char *variable);

} // namespace AudioDecode

} // namespace rvw
