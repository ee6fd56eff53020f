// libFuzzer target: any bytes, under every suffix family the reader parses, must be read without
// a crash or an out-of-bounds access, and a claimed payload range must lie inside the file.

#include "audio/TagReader.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const char *const suffixes[] = {"mp3", "flac", "ogg", "opus", "m4a", "wav", "aiff"};
    if (!dir.isValid())
        std::abort();
    for (const char *suffix : suffixes) {
        const QString path = dir.filePath(QStringLiteral("input.") + QLatin1String(suffix));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
        f.close();
        rvw::AudioMetadata meta;
        QString error;
        const bool ok = rvw::TagReader::read(path, meta, &error);
        if (ok == !error.isEmpty())
            std::abort();
        // One byte of slack: a chunk may lack its pad byte at the very end.
        if (meta.hasAudioRange &&
            (meta.audioOffset < 0 || meta.audioLength < 1 || meta.audioOffset + meta.audioLength > qint64(size) + 1))
            std::abort();
    }
    return 0;
}
