#include "cleanup/ActionRunner.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QStorageInfo>

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
// Empty when every candidate is taken, so nothing is ever overwritten. `firstUntried` remembers,
// per target, the numbers this call has already found taken, so that many copies of one name
// cost one look each instead of one per earlier copy; every candidate is still checked.
QString freeTarget(const QString &target, QHash<QString, int> &firstUntried)
{
    if (!occupied(target))
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
        if (!occupied(candidate))
            return candidate;
    }
    return QString();
}

bool sameVolume(const QString &from, const QString &to)
{
    const QStorageInfo a(QFileInfo(from).absolutePath());
    const QStorageInfo b(QFileInfo(to).absolutePath());
    return a.isValid() && b.isValid() && a.rootPath() == b.rootPath() && a.device() == b.device();
}

void keepModificationTime(const QString &path, const QDateTime &modified)
{
    if (!modified.isValid())
        return;
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(modified, QFileDevice::FileModificationTime);
}

// Moves a file so that afterwards it exists exactly once, at `to` on success and at `from`
// otherwise. Within one volume this is a rename. Across volumes the file is copied, the
// copy's size checked, and only then the original removed; when the original cannot be
// removed the copy is removed again. Renames are not tried across volumes because the
// framework's own fall-back for them removes the original before the last buffered block
// of the copy is known to be written.
bool moveOnce(const QString &from, const QString &to)
{
    const QFileInfo source(from);
    const qint64 size = source.size();
    const QDateTime modified = source.lastModified();
    if (sameVolume(from, to) && QFile::rename(from, to))
        return true;
    if (occupied(to) || !QFile::copy(from, to))
        return false;
    if (QFileInfo(to).size() != size) {
        QFile::remove(to);
        return false;
    }
    keepModificationTime(to, modified);
    if (QFile::remove(from))
        return true;
    QFile::remove(to);
    return false;
}

struct ManifestEntry
{
    QString from;
    QString to;
    qint64 size = 0;
};

QByteArray manifestBytes(const QString &batchFolder, const QList<ManifestEntry> &entries)
{
    QJsonArray list;
    for (const ManifestEntry &entry : entries) {
        QJsonObject item;
        item.insert(kKeyFrom, entry.from);
        item.insert(kKeyTo, entry.to);
        item.insert(kKeySize, double(entry.size));
        list.append(item);
    }
    QJsonObject root;
    root.insert(kKeyVersion, 1);
    root.insert(kKeyCreated, QDateTime::currentDateTime().toString(Qt::ISODate));
    root.insert(kKeyMode, ActionRunner::modeName(ActionRunner::Quarantine));
    root.insert(kKeyRoot, batchFolder);
    root.insert(kKeyEntries, list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// Creates the manifest exclusively under the batch's own name, or under the next free name
// of the same second when another process took that one meanwhile. A manifest that could not
// be written completely is removed again. Returns the path, or empty when none was written.
QString writeManifest(const QString &stamp, int batchNumber, const QByteArray &bytes)
{
    const QDir dir(ActionRunner::manifestDirectory());
    for (int n = batchNumber; n <= kMaxBatchesPerSecond; ++n) {
        const QString path = dir.filePath(manifestFileName(batchName(stamp, n)));
        if (occupied(path))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QString();
        const bool written = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        if (written && file.error() == QFileDevice::NoError)
            return path;
        file.remove();
        return QString();
    }
    return QString();
}

QJsonObject readJsonObject(QFile &file)
{
    return QJsonDocument::fromJson(file.readAll()).object();
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

ActionRunner::Result ActionRunner::execute(const QStringList &paths, Mode mode, const QString &quarantineRoot,
                                           const QStringList &roots)
{
    Result result;
    const QString stamp = QDateTime::currentDateTime().toString(kStampFormat);

    // A blank root would put the batch into whatever the working folder happens to be.
    const QDir rootDir(
        QDir(quarantineRoot.trimmed().isEmpty() ? defaultQuarantineRoot() : quarantineRoot).absolutePath());
    int batchNumber = 0;
    QString batchFolder;
    if (mode == Quarantine) {
        batchNumber = firstFreeBatch(stamp, rootDir, QDir(manifestDirectory()));
        if (batchNumber > 0)
            batchFolder = rootDir.filePath(batchName(stamp, batchNumber));
    }

    QList<ManifestEntry> entries;
    QHash<QString, int> firstUntried;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            ++result.failed;
            result.errors << QObject::tr("%1 no longer exists").arg(path);
            continue;
        }
        const qint64 size = info.size();
        const QString from = info.absoluteFilePath();
        QString to;
        bool ok = false;
        QString failure;
        switch (mode) {
        case RecycleBin: {
            QFile file(path);
            ok = file.moveToTrash();
            if (ok)
                to = file.fileName();
            else
                failure = QObject::tr("Recycle bin unavailable for %1").arg(path);
            break;
        }
        case Delete:
            ok = QFile::remove(path);
            if (!ok)
                failure = QObject::tr("Could not delete %1").arg(path);
            break;
        case Quarantine:
            if (!batchFolder.isEmpty()) {
                to = freeTarget(QDir::cleanPath(batchFolder + QLatin1Char('/') + relativeTarget(from, roots)),
                                firstUntried);
                ok = !to.isEmpty() && QDir().mkpath(QFileInfo(to).absolutePath()) && moveOnce(path, to);
            }
            if (!ok)
                failure = QObject::tr("Could not move %1").arg(path);
            break;
        default:
            failure = QObject::tr("Could not move %1").arg(path);
            break;
        }
        if (ok) {
            ++result.succeeded;
            result.bytesFreed += size;
            entries.append({from, to, size});
        } else {
            ++result.failed;
            result.errors << failure;
        }
    }

    if (mode == Quarantine && !entries.isEmpty())
        result.manifestPath = writeManifest(stamp, batchNumber, manifestBytes(batchFolder, entries));
    return result;
}

QString ActionRunner::describeManifest(const QString &manifestPath)
{
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly))
        return QFileInfo(manifestPath).fileName();
    const QJsonObject root = readJsonObject(file);
    const qsizetype count = root.value(kKeyEntries).toArray().size();
    const QString created = QDateTime::fromString(root.value(kKeyCreated).toString(), Qt::ISODate)
                                .toString(QStringLiteral("d MMM yyyy h:mm ap"));
    return QObject::tr("%1 - %2 file(s)").arg(created, QString::number(count));
}

ActionRunner::Result ActionRunner::undo(const QString &manifestPath, QString *error)
{
    Result result;
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QObject::tr("Cannot read manifest: %1").arg(file.errorString());
        return result;
    }
    const QJsonValue list = readJsonObject(file).value(kKeyEntries);
    file.close();
    // A damaged manifest is the only record of where its files went: it is kept.
    const bool readable = list.isArray();
    if (!readable && error)
        *error = QObject::tr("Cannot read manifest: %1 is damaged; it has been kept.")
                     .arg(QDir::toNativeSeparators(manifestPath));
    const QJsonArray entries = list.toArray();

    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const QString from = entry.value(kKeyFrom).toString();
        const QString to = entry.value(kKeyTo).toString();
        if (from.isEmpty() || to.isEmpty())
            continue;
        QString failure;
        // The original place is looked at first, so that an entry already restored (by an
        // earlier, partly failed undo or by hand) reports that its file is back.
        if (occupied(from))
            failure = QObject::tr("A file already exists at %1").arg(from);
        else if (!QFileInfo::exists(to))
            failure = QObject::tr("Quarantined copy missing: %1").arg(to);
        else if (!QDir().mkpath(QFileInfo(from).absolutePath()) || !moveOnce(to, from))
            failure = QObject::tr("Could not restore %1").arg(from);
        if (failure.isEmpty()) {
            ++result.succeeded;
        } else {
            ++result.failed;
            result.errors << failure;
        }
    }

    if (result.failed == 0 && readable)
        QFile::remove(manifestPath);
    return result;
}

} // namespace rvw
