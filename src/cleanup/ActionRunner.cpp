#include "cleanup/ActionRunner.h"

#include "core/Types.h"

#include "cleanup/FileOps.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace rvw {

namespace {

const QLatin1String kStampFormat("yyyyMMdd-HHmmss");
const QLatin1String kManifestPattern("undo-*.json");
const QLatin1String kKeyVersion("manifestVersion");
const QLatin1String kKeyCreated("createdAt");
const QLatin1String kKeyMode("mode");
const QLatin1String kKeyRoot("quarantineRoot");
const QLatin1String kKeyEntries("entries");
const QLatin1String kKeyFrom("from");
const QLatin1String kKeyTo("to");
const QLatin1String kKeySize("size");
const QLatin1String kKeyComplete("complete");

// A manifest of a million files is still far below this; anything larger is not one of ours.
constexpr qint64 kMaxManifestBytes = qint64(512) << 20;

constexpr int kMaxCollisionNumber = 9999;

// Batch names within one second. The stamp has a resolution of one second, so a second
// quarantine call within the same second would meet the first call's batch folder and
// manifest. Rule: the first call of a second uses the plain stamp; every later one uses
// "<stamp>_NNN", NNN being the first number from 002 to 999 (three digits) for which
// neither the batch folder "<root>/<stamp>_NNN" nor the manifest "undo-<stamp>_NNN.json"
// exists yet. The underscore sorts after the dot of ".json" and the number has a fixed
// width, so a descending sort by file name still lists the later calls of a second first.
// The manifest file is created exclusively as well, so an existing manifest is never
// overwritten. If all 999 names of a second are taken, the call moves nothing.
constexpr int kMaxBatchesPerSecond = 999;

QString batchName(const QString &stamp, int number)
{
    if (number <= 1)
        return stamp;
    return stamp + QStringLiteral("_%1").arg(number, 3, 10, QLatin1Char('0'));
}

QString manifestFileName(const QString &batch)
{
    return QStringLiteral("undo-%1.json").arg(batch);
}

// Something is at the path, including a dangling symbolic link, which must not be replaced
// either.
bool occupied(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

int firstFreeBatch(const QString &stamp, const QDir &quarantineRoot, const QDir &manifestDir)
{
    for (int n = 1; n <= kMaxBatchesPerSecond; ++n) {
        const QString name = batchName(stamp, n);
        if (!occupied(quarantineRoot.filePath(name)) &&
            !occupied(manifestDir.filePath(manifestFileName(name))))
            return n;
    }
    return 0;
}

// The relative target inside the batch folder: the last folder name of the first root
// that holds the file, followed by the file's path below that root; the bare file name
// when no root holds it.
QString relativeTarget(const QString &absolutePath, const QStringList &roots)
{
    for (const QString &root : roots) {
        if (root.trimmed().isEmpty())
            continue;
        const QDir dir(QDir(root).absolutePath());
        const QString rel = dir.relativeFilePath(absolutePath);
        if (rel.isEmpty() || rel == QLatin1String(".") || rel == QLatin1String("..") ||
            rel.startsWith(QLatin1String("../")) || !QDir::isRelativePath(rel))
            continue;
        // A drive or file-system root has no folder name; its files keep their path below it.
        const QString name = dir.dirName();
        return name.isEmpty() ? rel : name + QLatin1Char('/') + rel;
    }
    return QFileInfo(absolutePath).fileName();
}

// The free place for a file: the target itself, or "<base> (<n>)<.suffix>" beside it.
// Empty when every candidate is taken on disk or by an earlier file of the same batch, so nothing
// is ever overwritten. `firstUntried` remembers,
// per target, the numbers this call has already found taken, so that many copies of one name
// cost one look each instead of one per earlier copy; every candidate is still checked.
QString freeTarget(const QString &target, QHash<QString, int> &firstUntried, const QSet<QString> &taken)
{
    const auto isFree = [&taken](const QString &path) { return !taken.contains(path) && !occupied(path); };
    if (isFree(target))
        return target;
    const QFileInfo info(target);
    const QDir folder = info.dir();
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix();
    const QString dottedSuffix = suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
    int &n = firstUntried[target];
    for (n = qMax(n, 2); n <= kMaxCollisionNumber; ++n) {
        const QString candidate =
            folder.filePath(QStringLiteral("%1 (%2)%3").arg(base, QString::number(n), dottedSuffix));
        if (isFree(candidate))
            return candidate;
    }
    return QString();
}

struct ManifestEntry
{
    QString from;
    QString to;
    qint64 size = 0;
};

QJsonObject entryObject(const ManifestEntry &entry)
{
    QJsonObject item;
    item.insert(kKeyFrom, entry.from);
    item.insert(kKeyTo, entry.to);
    item.insert(kKeySize, double(entry.size));
    return item;
}

// `complete` false marks a journal still in progress: its entries are the planned moves,
// and the journal file beside it says which of them finished.
QByteArray manifestBytes(const QString &batchFolder, const QList<ManifestEntry> &entries, bool complete)
{
    QJsonArray list;
    for (const ManifestEntry &entry : entries)
        list.append(entryObject(entry));
    QJsonObject root;
    root.insert(kKeyVersion, 1);
    root.insert(kKeyCreated, QDateTime::currentDateTime().toString(Qt::ISODate));
    root.insert(kKeyMode, ActionRunner::modeName(ActionRunner::Quarantine));
    root.insert(kKeyRoot, batchFolder);
    root.insert(kKeyComplete, complete);
    root.insert(kKeyEntries, list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString journalPathOf(const QString &manifestPath)
{
    QString path = manifestPath;
    if (path.endsWith(QLatin1String(".json")))
        path.chop(5);
    return path + QLatin1String(".journal");
}

// Reads a file of untrusted size; empty when it cannot be read or is implausibly large.
QByteArray readBounded(const QString &path, QString *errorText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = file.errorString();
        return QByteArray();
    }
    if (file.size() > kMaxManifestBytes) {
        if (errorText)
            *errorText = QObject::tr("the file is too large");
        return QByteArray();
    }
    return file.readAll();
}

// The quarantined paths a journal records as moved, one JSON object a line. A line cut short
// by a crash is ignored: its move is found on disk instead.
QSet<QString> journalledMoves(const QString &manifestPath)
{
    QSet<QString> moved;
    const QByteArray bytes = readBounded(journalPathOf(manifestPath), nullptr);
    const QList<QByteArray> lines = bytes.split('\n');
    for (const QByteArray &line : lines) {
        const QString to = QJsonDocument::fromJson(line).object().value(kKeyTo).toString();
        if (!to.isEmpty())
            moved.insert(to);
    }
    return moved;
}

// A manifest's own batch: "undo-<batch>.json" belongs to the folder "<root>/<batch>".
QString batchNameOfManifest(const QString &manifestPath)
{
    QString name = QFileInfo(manifestPath).fileName();
    if (!name.startsWith(QLatin1String("undo-")) || !name.endsWith(QLatin1String(".json")))
        return QString();
    return name.mid(5, name.size() - 10);
}

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
}

bool isRegularFile(const QFileInfo &info)
{
    return info.isFile() && !info.isSymLink();
}

// What undo may do with one entry. Every check is made before any file moves.
struct UndoStep
{
    enum Kind
    {
        Skip,
        Restore,
        AlreadyBack,
        Fail
    } kind = Skip;
    QString from;
    QString to;
    QString message;
};

UndoStep planUndo(const QJsonObject &entry, const QString &batch, const QString &canonicalBatch,
                  const QSet<QString> &journalled, bool complete)
{
    UndoStep step;
    step.from = entry.value(kKeyFrom).toString();
    step.to = entry.value(kKeyTo).toString();
    const qint64 size = byteCountFromJson(entry.value(kKeySize).toDouble(-1));
    if (step.from.isEmpty() || step.to.isEmpty())
        return step;
    step.kind = UndoStep::Fail;
    if (!QDir::isAbsolutePath(step.from) || QDir::cleanPath(step.from) != step.from) {
        step.message = QObject::tr("Refused to restore %1: the original place is not a plain absolute path")
                           .arg(step.from);
        return step;
    }
    const QFileInfo quarantined(step.to);
    if (!isInside(QDir::cleanPath(step.to), batch) ||
        (quarantined.exists() && !isInside(quarantined.canonicalFilePath(), canonicalBatch))) {
        step.message = QObject::tr("Refused to restore %1: it is not inside the clean-up's quarantine folder")
                           .arg(step.to);
        return step;
    }
    const QFileInfo original(step.from);
    if (original.exists() || original.isSymLink()) {
        if (isRegularFile(original) && original.size() == size) {
            step.kind = UndoStep::AlreadyBack;
        } else {
            step.message = QObject::tr("A file already exists at %1").arg(step.from);
        }
        return step;
    }
    if (!quarantined.exists() && !quarantined.isSymLink()) {
        // A move that an interrupted clean-up never made leaves nothing to restore.
        if (!complete && !journalled.contains(step.to))
            step.kind = UndoStep::Skip;
        else
            step.message = QObject::tr("Quarantined copy missing: %1").arg(step.to);
        return step;
    }
    if (!isRegularFile(quarantined)) {
        step.message = QObject::tr("Refused to restore %1: it is not a regular file").arg(step.to);
        return step;
    }
    if (quarantined.size() != size) {
        step.message = QObject::tr("Refused to restore %1: its size changed since the clean-up").arg(step.to);
        return step;
    }
    step.kind = UndoStep::Restore;
    return step;
}

struct Batch
{
    QString folder;
    QString manifest;
    QString journal;
    QList<ManifestEntry> planned;
};

// The quarantine places of the paths, in this batch folder, none taken on disk or twice in
// the plan. Paths that cannot be planned become failures.
QList<ManifestEntry> planMoves(const QStringList &paths, const QString &batchFolder, const QStringList &roots,
                               ActionRunner::Result &result)
{
    QList<ManifestEntry> planned;
    QHash<QString, int> firstUntried;
    QSet<QString> taken;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            ++result.failed;
            result.errors << QObject::tr("%1 no longer exists").arg(path);
            continue;
        }
        const QString from = info.absoluteFilePath();
        QString to = freeTarget(QDir::cleanPath(batchFolder + QLatin1Char('/') + relativeTarget(from, roots)),
                                firstUntried, taken);
        if (!isRegularFile(info) || to.isEmpty()) {
            ++result.failed;
            result.errors << QObject::tr("Could not move %1").arg(path);
            continue;
        }
        taken.insert(to);
        planned.append({from, to, info.size()});
    }
    return planned;
}

// Claims a batch folder and creates its manifest with every planned move, both under the
// same free name of this second, before anything moves. False, with `error` set, when no
// manifest could be made: then nothing may move.
bool openBatch(const QStringList &paths, const QString &stamp, const QDir &rootDir, const QStringList &roots,
               Batch &batch, ActionRunner::Result &result, QString *error)
{
    const QDir manifestDir(ActionRunner::manifestDirectory());
    if (!rootDir.exists() && !QDir().mkpath(rootDir.absolutePath())) {
        *error = QObject::tr("cannot create the quarantine folder %1").arg(rootDir.absolutePath());
        return false;
    }
    for (int n = firstFreeBatch(stamp, rootDir, manifestDir); n > 0 && n <= kMaxBatchesPerSecond; ++n) {
        const QString name = batchName(stamp, n);
        const QString manifest = manifestDir.filePath(manifestFileName(name));
        if (occupied(manifest))
            continue;
        // mkdir fails on a folder that exists, so two calls never share a batch.
        if (!rootDir.mkdir(name)) {
            if (occupied(rootDir.filePath(name)))
                continue;
            *error = QObject::tr("cannot create a folder in %1").arg(rootDir.absolutePath());
            return false;
        }
        batch.folder = rootDir.filePath(name);
        ActionRunner::Result planning;
        batch.planned = planMoves(paths, batch.folder, roots, planning);
        QString why;
        if (batch.planned.isEmpty() ||
            FileOps::writeAtomically(manifest, manifestBytes(batch.folder, batch.planned, false), false,
                                     &why)) {
            result.failed += planning.failed;
            result.errors += planning.errors;
            if (batch.planned.isEmpty()) {
                rootDir.rmdir(name);
                batch.folder.clear();
            } else {
                batch.manifest = manifest;
                batch.journal = journalPathOf(manifest);
            }
            return true;
        }
        rootDir.rmdir(name);
        batch.planned.clear();
        // Another call took this manifest name meanwhile: plan again under the next one.
        if (occupied(manifest))
            continue;
        *error = QObject::tr("the undo manifest cannot be written (%1)").arg(why);
        return false;
    }
    *error = QObject::tr("every batch name of this second is taken");
    return false;
}

} // namespace

QString ActionRunner::modeName(Mode mode)
{
    switch (mode) {
    case Quarantine:
        return QObject::tr("Move to quarantine");
    case RecycleBin:
        return QObject::tr("Move to recycle bin");
    case Delete:
        return QObject::tr("Delete permanently");
    }
    return QString();
}

QString ActionRunner::defaultQuarantineRoot()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Ravelwick Quarantine"));
}

QString ActionRunner::manifestDirectory()
{
    const QString path = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                             .filePath(QStringLiteral("undo"));
    QDir().mkpath(path);
    return path;
}

QStringList ActionRunner::manifests()
{
    const QDir dir(manifestDirectory());
    QStringList names = dir.entryList({kManifestPattern}, QDir::Files | QDir::Hidden);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a > b; });
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : std::as_const(names))
        paths << dir.absoluteFilePath(name);
    return paths;
}

namespace {

bool cancelled(const QAtomicInt *cancel)
{
    return cancel && cancel->loadRelaxed();
}

void report(const ActionRunner::Progress &progress, const ActionRunner::Result &result, qsizetype total)
{
    if (progress)
        progress(result.succeeded + result.failed, int(total));
}

// Recycle bin and permanent deletion: the operating system keeps no undo record of ours.
ActionRunner::Result removeEach(const QStringList &paths, ActionRunner::Mode mode, const QAtomicInt *cancel,
                                const ActionRunner::Progress &progress)
{
    ActionRunner::Result result;
    for (const QString &path : paths) {
        report(progress, result, paths.size());
        if (cancelled(cancel)) {
            result.cancelled = true;
            break;
        }
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            ++result.failed;
            result.errors << QObject::tr("%1 no longer exists").arg(path);
            continue;
        }
        const qint64 size = info.size();
        bool ok = false;
        QString failure;
        if (mode == ActionRunner::RecycleBin) {
            QFile file(path);
            ok = file.moveToTrash();
            if (!ok)
                failure = QObject::tr("Recycle bin unavailable for %1").arg(path);
        } else if (mode == ActionRunner::Delete) {
            QString why;
            ok = FileOps::removeFile(path, &why);
            if (!ok)
                failure = QObject::tr("Could not delete %1: %2").arg(path, why);
        } else {
            failure = QObject::tr("Could not move %1").arg(path);
        }
        if (ok) {
            ++result.succeeded;
            result.bytesFreed += size;
        } else {
            ++result.failed;
            result.errors << failure;
        }
    }
    if (!result.cancelled)
        report(progress, result, paths.size());
    return result;
}

// Removes `folder` and the folders below it when they hold no file; nothing above it.
void removeEmptyFolders(const QString &folder)
{
    QStringList below;
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        below.prepend(it.next());
    // Deepest first; rmdir refuses a folder that still holds anything.
    std::sort(below.begin(), below.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &path : std::as_const(below))
        QDir().rmdir(path);
    QDir().rmdir(folder);
}

// Ends a quarantine batch: the manifest is rewritten with exactly the moves that happened,
// or removed with its batch folder when none did.
void closeBatch(const Batch &batch, const QList<ManifestEntry> &moved, ActionRunner::Result &result)
{
    if (moved.isEmpty()) {
        QFile::remove(batch.manifest);
        QFile::remove(batch.journal);
        removeEmptyFolders(batch.folder);
        return;
    }
    result.manifestPath = batch.manifest;
    QString why;
    if (FileOps::writeAtomically(batch.manifest, manifestBytes(batch.folder, moved, true), true, &why)) {
        QFile::remove(batch.journal);
        result.manifestComplete = true;
        return;
    }
    result.errors << QObject::tr("The undo manifest %1 could not be completed (%2); it still restores every "
                                 "moved file.")
                         .arg(QDir::toNativeSeparators(batch.manifest), why);
}

} // namespace

ActionRunner::Result ActionRunner::execute(const QStringList &paths, Mode mode, const QString &quarantineRoot,
                                           const QStringList &roots, const QAtomicInt *cancel,
                                           const Progress &progress)
{
    if (mode != Quarantine)
        return removeEach(paths, mode, cancel, progress);

    Result result;
    const QString stamp = QDateTime::currentDateTime().toString(kStampFormat);
    // A blank root would put the batch into whatever the working folder happens to be.
    const QDir rootDir(
        QDir(quarantineRoot.trimmed().isEmpty() ? defaultQuarantineRoot() : quarantineRoot).absolutePath());
    Batch batch;
    QString why;
    if (!openBatch(paths, stamp, rootDir, roots, batch, result, &why)) {
        Result refused;
        refused.failed = int(paths.size());
        refused.errors << QObject::tr("Nothing was moved: %1.").arg(why);
        return refused;
    }

    QList<ManifestEntry> moved;
    const qsizetype total = batch.planned.size();
    for (const ManifestEntry &entry : std::as_const(batch.planned)) {
        report(progress, result, total);
        if (cancelled(cancel)) {
            result.cancelled = true;
            break;
        }
        const QFileInfo info(entry.from);
        if (!info.exists()) {
            ++result.failed;
            result.errors << QObject::tr("%1 no longer exists").arg(entry.from);
            continue;
        }
        const qint64 size = info.size();
        why = QObject::tr("cannot create its folder in the quarantine");
        if (!QDir().mkpath(QFileInfo(entry.to).absolutePath()) ||
            !FileOps::moveFile(entry.from, entry.to, &why)) {
            ++result.failed;
            result.errors << QObject::tr("Could not move %1: %2").arg(entry.from, why);
            continue;
        }
        ++result.succeeded;
        result.bytesFreed += size;
        moved.append({entry.from, entry.to, size});
        // The planned manifest already restores this move; the journal line tells an
        // interrupted batch's moves from the ones it never made.
        FileOps::appendDurably(batch.journal,
                               QJsonDocument(entryObject(moved.last())).toJson(QJsonDocument::Compact) + '\n',
                               nullptr);
    }
    if (!result.cancelled)
        report(progress, result, total);
    if (!batch.manifest.isEmpty())
        closeBatch(batch, moved, result);
    return result;
}

QString ActionRunner::describeManifest(const QString &manifestPath)
{
    QString unused;
    const QByteArray bytes = readBounded(manifestPath, &unused);
    if (bytes.isEmpty())
        return QFileInfo(manifestPath).fileName();
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    const QDateTime created =
        QDateTime::fromString(root.value(kKeyCreated).toString(), Qt::ISODate).toLocalTime();
    const QString when = QLocale().toString(created, QLocale::ShortFormat);
    if (!root.value(kKeyComplete).toBool(true))
        return QObject::tr("%1 - %n file(s), interrupted", nullptr, int(journalledMoves(manifestPath).size()))
            .arg(when);
    const qsizetype count = root.value(kKeyEntries).toArray().size();
    return QObject::tr("%1 - %n file(s)", nullptr, int(count)).arg(when);
}

ActionRunner::Result ActionRunner::undo(const QString &manifestPath, QString *error, const QAtomicInt *cancel,
                                        const Progress &progress)
{
    Result result;
    QString why;
    const QByteArray bytes = readBounded(manifestPath, &why);
    if (bytes.isEmpty() && !why.isEmpty()) {
        if (error)
            *error = QObject::tr("Cannot read manifest: %1").arg(why);
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    const QJsonValue list = root.value(kKeyEntries);
    // A damaged manifest is the only record of where its files went: it is kept.
    const bool readable = list.isArray();
    if (!readable && error)
        *error = QObject::tr("Cannot read manifest: %1 is damaged; it has been kept.")
                     .arg(QDir::toNativeSeparators(manifestPath));

    // Files are restored only from the manifest's own batch folder, named like the manifest.
    QString batch = QDir::cleanPath(root.value(kKeyRoot).toString());
    const QString ownName = batchNameOfManifest(manifestPath);
    if (!QDir::isAbsolutePath(batch) || ownName.isEmpty() || QFileInfo(batch).fileName() != ownName)
        batch.clear();
    const QString canonicalBatch = batch.isEmpty() ? QString() : QFileInfo(batch).canonicalFilePath();
    const bool complete = root.value(kKeyComplete).toBool(true);
    const QSet<QString> journalled = complete ? QSet<QString>() : journalledMoves(manifestPath);

    QList<UndoStep> steps;
    for (const QJsonValue &value : list.toArray())
        steps.append(planUndo(value.toObject(), batch, canonicalBatch, journalled, complete));
    const auto total = std::count_if(steps.cbegin(), steps.cend(),
                                     [](const UndoStep &step) { return step.kind != UndoStep::Skip; });
    for (const UndoStep &step : std::as_const(steps)) {
        if (step.kind == UndoStep::Skip)
            continue;
        report(progress, result, total);
        if (cancelled(cancel)) {
            result.cancelled = true;
            break;
        }
        switch (step.kind) {
        case UndoStep::Skip:
            continue;
        case UndoStep::AlreadyBack:
            ++result.succeeded;
            continue;
        case UndoStep::Fail:
            ++result.failed;
            result.errors << step.message;
            continue;
        case UndoStep::Restore:
            break;
        }
        why = QObject::tr("cannot create its folder");
        if (QDir().mkpath(QFileInfo(step.from).absolutePath()) &&
            FileOps::moveFile(step.to, step.from, &why)) {
            ++result.succeeded;
        } else {
            ++result.failed;
            result.errors << QObject::tr("Could not restore %1: %2").arg(step.from, why);
        }
    }

    if (!result.cancelled)
        report(progress, result, total);
    // A stopped undo leaves files in the batch folder, which only the manifest can find.
    if (result.failed == 0 && readable && !result.cancelled) {
        QFile::remove(manifestPath);
        QFile::remove(journalPathOf(manifestPath));
    }
    return result;
}

} // namespace rvw
