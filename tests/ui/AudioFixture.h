#pragma once

#include "support/AudioFixtures.h"

#include <QDir>

namespace rvw::test {

// source: an lavfi graph such as "sine=frequency=440:duration=2"; output: codec and rate
// options placed before the file name. Returns the absolute path, or empty on failure.
inline QString makeAudio(const QDir &dir, const QString &name, const QString &source,
                         const QStringList &output)
{
    const QString path = dir.absoluteFilePath(name);
    return rvwtest::ffmpeg(QStringList{"-f", "lavfi", "-i", source} + output + QStringList{path}) ? path
                                                                                                  : QString();
}

} // namespace rvw::test
