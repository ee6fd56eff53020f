#include "ui/SettingsKeys.h"

#include <QSettings>
#include <QThread>

#include <algorithm>

namespace rvw {
namespace SettingsKeys {

int defaultDecoderThreads(int idealThreadCount)
{
    return std::clamp(idealThreadCount / 2, 2, 8);
}

ScanOptions readScanOptions(const QSettings &s, const ScanOptions &base)
{
    const ScanOptions defaults;
    ScanOptions o = base;
    o.detectIdentical = s.value(detectIdentical, defaults.detectIdentical).toBool();
    o.detectSameAudio = s.value(detectSameAudio, defaults.detectSameAudio).toBool();
    o.detectAcoustic = s.value(detectAcoustic, defaults.detectAcoustic).toBool();
    o.detectMetadata = s.value(detectMetadata, defaults.detectMetadata).toBool();
    o.threshold = s.value(threshold, defaults.threshold).toDouble();
    o.chromaprintThreshold = s.value(chromaprintThreshold, defaults.chromaprintThreshold).toDouble();
    o.durationTolerance = s.value(durationTolerance, defaults.durationTolerance).toInt();
    o.metadataTolerance = int(s.value(metadataTolerance, defaults.metadataTolerance).toLongLong());
    o.keeperPolicy = s.value(keeperPolicy, defaults.keeperPolicy).toInt();
    o.extensions = s.value(extensions, base.extensions).toStringList();
    o.excludes = s.value(excludes, base.excludes).toStringList();
    o.minBytes = s.value(minBytes, defaults.minBytes).toLongLong();
    o.minDurationMs = s.value(minDurationMs, defaults.minDurationMs).toLongLong();
    o.includeHidden = s.value(includeHidden, defaults.includeHidden).toBool();
    o.followSymlinks = s.value(followSymlinks, defaults.followSymlinks).toBool();
    o.decoderThreads = s.value(decoderThreads, defaultDecoderThreads(QThread::idealThreadCount())).toInt();
    o.fingerprintSeconds = s.value(fingerprintSeconds, defaults.fingerprintSeconds).toInt();
    o.useCache = s.value(useCache, defaults.useCache).toBool();
    return o;
}

void writeScanOptions(QSettings &s, const ScanOptions &o)
{
    s.setValue(detectIdentical, o.detectIdentical);
    s.setValue(detectSameAudio, o.detectSameAudio);
    s.setValue(detectAcoustic, o.detectAcoustic);
    s.setValue(detectMetadata, o.detectMetadata);
    s.setValue(threshold, o.threshold);
    s.setValue(chromaprintThreshold, o.chromaprintThreshold);
    s.setValue(durationTolerance, o.durationTolerance);
    s.setValue(metadataTolerance, o.metadataTolerance);
    s.setValue(keeperPolicy, o.keeperPolicy);
    s.setValue(extensions, o.extensions);
    s.setValue(excludes, o.excludes);
    s.setValue(minBytes, o.minBytes);
    s.setValue(minDurationMs, o.minDurationMs);
    s.setValue(includeHidden, o.includeHidden);
    s.setValue(followSymlinks, o.followSymlinks);
    s.setValue(decoderThreads, o.decoderThreads);
    s.setValue(fingerprintSeconds, o.fingerprintSeconds);
    s.setValue(useCache, o.useCache);
}

} // namespace SettingsKeys
} // namespace rvw
