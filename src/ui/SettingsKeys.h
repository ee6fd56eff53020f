#pragma once

#include "core/Types.h"

#include <QString>

class QSettings;

namespace rvw {

// The keys of the settings store, in one place, and the scan options they hold.
namespace SettingsKeys {

inline const QString windowGeometry = QStringLiteral("window/geometry");
inline const QString windowState = QStringLiteral("window/state");
inline const QString splitterState = QStringLiteral("window/splitter");
inline const QString resultColumns = QStringLiteral("window/resultColumns");
inline const QString scanFolders = QStringLiteral("scan/folders");
inline const QString detectIdentical = QStringLiteral("detect/identical");
inline const QString detectSameAudio = QStringLiteral("detect/sameAudio");
inline const QString detectAcoustic = QStringLiteral("detect/acoustic");
inline const QString detectMetadata = QStringLiteral("detect/metadata");
inline const QString threshold = QStringLiteral("detect/threshold");
inline const QString chromaprintThreshold = QStringLiteral("detect/chromaprintThreshold");
inline const QString durationTolerance = QStringLiteral("detect/durationTolerance");
inline const QString metadataTolerance = QStringLiteral("detect/metadataTolerance");
inline const QString keeperPolicy = QStringLiteral("detect/keeperPolicy");
inline const QString extensions = QStringLiteral("files/extensions");
inline const QString excludes = QStringLiteral("files/excludes");
inline const QString minBytes = QStringLiteral("files/minBytes");
inline const QString minDurationMs = QStringLiteral("files/minDurationMs");
inline const QString includeHidden = QStringLiteral("files/hidden");
inline const QString followSymlinks = QStringLiteral("files/symlinks");
inline const QString decoderThreads = QStringLiteral("perf/decoderThreads");
inline const QString fingerprintSeconds = QStringLiteral("perf/fingerprintSeconds");
inline const QString useCache = QStringLiteral("perf/useCache");
inline const QString quarantineRoot = QStringLiteral("safety/quarantineRoot");
inline const QString showPlayer = QStringLiteral("audition/showPlayer");
inline const QString linkedDecks = QStringLiteral("audition/linked");
inline const QString checkOnStartup = QStringLiteral("updates/checkOnStartup");
inline const QString updateUrl = QStringLiteral("updates/url");

// Half the machine's threads, but never fewer than 2 nor more than 8 fingerprint workers.
int defaultDecoderThreads(int idealThreadCount);

// Reads every stored scan option over `base`; an absent key keeps the default of a fresh
// ScanOptions (the thread count follows defaultDecoderThreads). `folders`, `engine` and
// `preferredFormats` are not stored and come from `base` unchanged.
ScanOptions readScanOptions(const QSettings &settings, const ScanOptions &base = ScanOptions());

// Writes every stored scan option (not the folders; the window writes its own list).
void writeScanOptions(QSettings &settings, const ScanOptions &options);

} // namespace SettingsKeys
} // namespace rvw
