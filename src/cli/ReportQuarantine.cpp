#include "cli/ReportQuarantine.h"

#include "audio/Hasher.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace rvw {

namespace {

struct FileEntry
{
    QString path;
    bool keep = false;
    QString sha256;
};

// The copy still holds the bytes the report hashed. A report made without whole-file
// hashes cannot vouch for any file, so nothing of it is moved.
bool unchanged(const FileEntry &f, QString &why)
{
    if (!QFileInfo(f.path).isFile()) {
        why = QStringLiteral("%1 no longer exists").arg(f.path);
        return false;
    }
    if (f.sha256.isEmpty()) {
        why = QStringLiteral("%1 has no SHA-256 in the report").arg(f.path);
        return false;
    }
    QString error;
    const QString now = Hasher::hashWholeFile(f.path, &error);
    if (now.isEmpty()) {
        why = error.isEmpty() ? QStringLiteral("Cannot read %1").arg(f.path) : error;
        return false;
    }
    if (now.compare(f.sha256, Qt::CaseInsensitive) != 0) {
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

    QSet<QString> planned;
    const QJsonArray groups = root.value(QStringLiteral("duplicateGroups")).toArray();
    for (const QJsonValue &gv : groups) {
        const QJsonObject g = gv.toObject();
        const QString label = QStringLiteral("Group %1").arg(g.value(QStringLiteral("id")).toInt());
        QList<FileEntry> files;
        for (const QJsonValue &fv : g.value(QStringLiteral("files")).toArray()) {
            const QJsonObject f = fv.toObject();
            FileEntry e;
            e.path = f.value(QStringLiteral("path")).toString();
            e.keep = f.value(QStringLiteral("keep")).toBool(true); // anything unclear is kept
            e.sha256 = f.value(QStringLiteral("sha256")).toString();
            if (!e.path.isEmpty())
                files.append(e);
        }
        QList<FileEntry> keepers;
        QList<FileEntry> removals;
        for (const FileEntry &e : std::as_const(files))
            (e.keep ? keepers : removals).append(e);
        if (removals.isEmpty())
            continue;
        if (keepers.isEmpty()) {
            plan.skipped.append(
                QStringLiteral("%1: every copy is marked for removal; the group is left alone").arg(label));
            continue;
        }
        // At least one kept copy must still be there as reported, or the removals could
        // leave no copy at all.
        bool keeperIntact = false;
        QString why;
        for (const FileEntry &k : std::as_const(keepers)) {
            if (QFileInfo(k.path).isFile() && (k.sha256.isEmpty() || unchanged(k, why))) {
                keeperIntact = true;
                break;
            }
        }
        if (!keeperIntact) {
            plan.skipped.append(
                QStringLiteral("%1: no copy marked to keep is still as reported; the group is left alone").arg(label));
            continue;
        }
        for (const FileEntry &r : std::as_const(removals)) {
            const QString key = QFileInfo(r.path).absoluteFilePath();
            if (planned.contains(key))
                continue;
            if (!unchanged(r, why)) {
                plan.skipped.append(why + QStringLiteral("; skipped"));
                continue;
            }
            planned.insert(key);
            Move m;
            m.path = key;
            m.size = QFileInfo(key).size();
            plan.moves.append(m);
            plan.bytes += m.size;
        }
    }
    return true;
}

} // namespace rvw
