// libFuzzer target: the JSON report "ravelwick-cli quarantine" reads. Any content must be turned
// into a plan or refused with a message, without a crash, and the plan must keep the guard's
// promises: no file that the report keeps is planned for removal (under whatever spelling),
// no file is planned twice, each planned file is marked for removal in a group that still has a
// copy to keep on disk, and the bytes add up.
//
// The report's relative paths are resolved against the current folder, as the command line does;
// the process works in a temporary folder holding a few small files (two identical copies, a hard
// link and a symbolic link to one of them, a different file, a folder), so that seeds can name
// files that exist. Planning only reads and hashes; nothing moves.

#include "cli/ReportQuarantine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Workspace
{
    QTemporaryDir dir;
    QString report;

    Workspace()
    {
        if (!dir.isValid())
            std::abort();
        const auto put = [this](const char *name, const QByteArray &bytes) {
            QFile f(dir.filePath(QLatin1String(name)));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                std::abort();
        };
        put("a.mp3", "same bytes\n");
        put("b.mp3", "same bytes\n");
        put("c.mp3", "other bytes\n");
        const QByteArray a = QFile::encodeName(dir.filePath(QStringLiteral("a.mp3")));
        const QByteArray hard = QFile::encodeName(dir.filePath(QStringLiteral("hard.mp3")));
        if (::link(a.constData(), hard.constData()) != 0 ||
            !QFile::link(QStringLiteral("a.mp3"), dir.filePath(QStringLiteral("soft.mp3"))) ||
            !QDir(dir.path()).mkdir(QStringLiteral("Album")) || !QDir::setCurrent(dir.path()))
            std::abort();
        report = dir.filePath(QStringLiteral("report.json"));
    }
};

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_reportquarantine: %s\n", what);
    std::abort();
}

// The spellings of one file: its canonical (or cleaned) path, and its device and inode, which
// also tie hard links together.
struct Identity
{
    QString path;
    QString inode;

    explicit Identity(const QString &spelling)
    {
        const QFileInfo info(spelling);
        path = info.canonicalFilePath();
        if (path.isEmpty())
            path = QDir::cleanPath(info.absoluteFilePath());
        struct stat st = {};
        if (::stat(QFile::encodeName(spelling).constData(), &st) == 0)
            inode = QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
    }
};

struct IdentitySet
{
    QSet<QString> paths;
    QSet<QString> inodes;

    void insert(const Identity &id)
    {
        paths.insert(id.path);
        if (!id.inode.isEmpty())
            inodes.insert(id.inode);
    }
    bool contains(const Identity &id) const
    {
        return paths.contains(id.path) || (!id.inode.isEmpty() && inodes.contains(id.inode));
    }
};

// Read the way the reader reads a report: anything unclear is kept.
struct ReportFile
{
    QString path;
    bool keep = true;
};

QList<QList<ReportFile>> groupsOf(const QByteArray &bytes)
{
    QList<QList<ReportFile>> groups;
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    for (const QJsonValue &gv : root.value(QStringLiteral("duplicateGroups")).toArray()) {
        QList<ReportFile> group;
        for (const QJsonValue &fv : gv.toObject().value(QStringLiteral("files")).toArray()) {
            const QJsonObject f = fv.toObject();
            const QString path = f.value(QStringLiteral("path")).toString();
            if (!path.isEmpty())
                group.append({QFileInfo(path).absoluteFilePath(), f.value(QStringLiteral("keep")).toBool(true)});
        }
        groups.append(group);
    }
    return groups;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Workspace ws;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile f(ws.report);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        std::abort();
    f.close();

    rvw::ReportQuarantine::Plan plan;
    QString error;
    const bool ok = rvw::ReportQuarantine::plan(ws.report, plan, &error);
    check(ok == error.isEmpty(), "success and error message disagree");
    if (!ok) {
        check(plan.moves.isEmpty() && plan.bytes == 0, "a refused report with a plan");
        return 0;
    }

    const QList<QList<ReportFile>> groups = groupsOf(bytes);
    IdentitySet kept;
    for (const QList<ReportFile> &group : groups) {
        for (const ReportFile &file : group) {
            if (file.keep)
                kept.insert(Identity(file.path));
        }
    }
    IdentitySet moving;
    qint64 total = 0;
    for (const rvw::ReportQuarantine::Move &move : std::as_const(plan.moves)) {
        const Identity id(move.path);
        check(!kept.contains(id), "a kept file is planned for removal");
        check(!moving.contains(id), "a file is planned twice");
        moving.insert(id);
        check(move.size >= 0, "a planned file without a size");
        total += move.size;
        // Some group that marks it for removal still has a copy to keep on disk.
        bool guarded = false;
        for (const QList<ReportFile> &group : groups) {
            bool listed = false;
            bool keepsOne = false;
            for (const ReportFile &file : group) {
                listed = listed || (!file.keep && file.path == move.path);
                keepsOne = keepsOne || (file.keep && QFileInfo(file.path).isFile());
            }
            guarded = guarded || (listed && keepsOne);
        }
        check(guarded, "a file is planned from no group that keeps a copy on disk");
    }
    check(plan.bytes == total, "the planned bytes do not add up");
    return 0;
}
