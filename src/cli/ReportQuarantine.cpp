#include "cli/ReportQuarantine.h"

#include "audio/Hasher.h"
#include "cleanup/RemovalGuard.h"
#include "core/Types.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHash>

namespace rvw {

namespace {

// The copy still holds the bytes the report hashed. A report made without whole-file
// hashes cannot vouch for a copy to remove, so nothing of it is moved.
bool unchanged(const RemovalGuard::File &f, const QHash<QString, QString> &sha256, QString &why)
{
    const QString expected = sha256.value(f.path);
    if (expected.isEmpty()) {
        if (f.keep)
            return true;
        why = QStringLiteral("%1 has no SHA-256 in the report").arg(f.path);
        return false;
    }
    QString error;
    const QString now = Hasher::hashWholeFile(f.path, &error);
    if (now.isEmpty()) {
        why = error.isEmpty() ? QStringLiteral("Cannot read %1").arg(f.path) : error;
        return false;
    }
    if (now.compare(expected, Qt::CaseInsensitive) != 0) {
        why = QStringLiteral("%1 changed since the report").arg(f.path);
        return false;
    }
    return true;
}

} // namespace

bool ReportQuarantine::plan(const QString &reportPath, Plan &plan, QString *error)
{
    QFile file(reportPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(reportPath, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (doc.isNull() || !doc.isObject()) {
        if (error)
            *error = QStringLiteral("%1 is not a JSON report: %2").arg(reportPath, parseError.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    if (!root.value(QStringLiteral("duplicateGroups")).isArray()) {
        if (error)
            *error = QStringLiteral("%1 has no \"duplicateGroups\"").arg(reportPath);
        return false;
    }
    for (const QJsonValue &r : root.value(QStringLiteral("roots")).toArray())
        plan.roots.append(r.toString());

    QList<RemovalGuard::Group> groups;
    QHash<QString, QString> sha256;
    for (const QJsonValue &gv : root.value(QStringLiteral("duplicateGroups")).toArray()) {
        const QJsonObject g = gv.toObject();
        RemovalGuard::Group group;
        group.id = g.value(QStringLiteral("id")).toInt();
        for (const QJsonValue &fv : g.value(QStringLiteral("files")).toArray()) {
            const QJsonObject f = fv.toObject();
            RemovalGuard::File entry;
            // Paths are made absolute against the current folder, the way the user typed them.
            const QString path = f.value(QStringLiteral("path")).toString();
            if (path.isEmpty())
                continue;
            entry.path = QFileInfo(path).absoluteFilePath();
            entry.keep = f.value(QStringLiteral("keep")).toBool(true); // anything unclear is kept
            entry.size = byteCountFromJson(f.value(QStringLiteral("sizeBytes")).toDouble(-1));
            const QString hash = f.value(QStringLiteral("sha256")).toString();
            if (!hash.isEmpty())
                sha256.insert(entry.path, hash);
            group.files.append(entry);
        }
        groups.append(group);
    }

    const RemovalGuard::Plan guarded = RemovalGuard::plan(
        groups, [&sha256](const RemovalGuard::File &f, QString &why) { return unchanged(f, sha256, why); });
    plan.skipped = guarded.notes;
    plan.bytes = guarded.bytes;
    for (const QString &path : guarded.paths)
        plan.moves.append({path, QFileInfo(path).size()});
    return true;
}

} // namespace rvw
