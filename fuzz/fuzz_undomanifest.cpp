// libFuzzer target: an undo manifest (and the journal of an interrupted clean-up) of any content
// must be read and refused entry by entry without a crash, and undo must keep its promises: one
// message per failure, no more outcomes than entries, a manifest with a failed or unreadable entry
// list kept, nothing reported as freed.
//
// Input: the manifest, optionally followed by a line "#journal" and the journal. "@BATCH@" and
// "@ORIG@" are replaced by the absolute paths of this run's batch folder and of a folder of
// original files, so that seeds can name places that exist.
//
// Nothing real can move. undo restores only a regular file (not a link) inside the manifest's own
// batch folder, and that folder is named after the manifest: here a name made up per process, so
// the only folder of that name is the one made below, and it holds no regular file (an empty
// folder, and a link to a file outside, to exercise the refusals). Files in @ORIG@ are only looked
// at, never moved.

#include "cleanup/ActionRunner.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Workspace
{
    QTemporaryDir dir;
    QString batch;
    QString originals;
    QString manifest;
    QString journal;

    Workspace()
    {
        if (!dir.isValid())
            std::abort();
        const QString name = QStringLiteral("20261207-120000_fuzz-") + QUuid::createUuid().toString(QUuid::Id128);
        batch = dir.filePath(name);
        originals = dir.filePath(QStringLiteral("music"));
        manifest = dir.filePath(QStringLiteral("undo-%1.json").arg(name));
        journal = dir.filePath(QStringLiteral("undo-%1.journal").arg(name));
        QFile original(originals + QStringLiteral("/a.flac"));
        if (!QDir().mkpath(batch + QStringLiteral("/Album")) || !QDir().mkpath(originals) ||
            !original.open(QIODevice::WriteOnly) || original.write("flac") != 4)
            std::abort();
        original.close();
        if (!QFile::link(original.fileName(), batch + QStringLiteral("/b.flac")))
            std::abort();
    }

    // Guards the premise that makes this target safe to run anywhere.
    void checkBatchHoldsNoFile() const
    {
        const QFileInfoList entries = QDir(batch).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &e : entries) {
            if (e.isFile() && !e.isSymLink()) {
                std::fprintf(stderr, "fuzz_undomanifest: a regular file appeared in the batch folder\n");
                std::abort();
            }
        }
    }
};

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_undomanifest: %s\n", what);
    std::abort();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Workspace ws;
    QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    input.replace("@BATCH@", ws.batch.toUtf8()).replace("@ORIG@", ws.originals.toUtf8());
    const QByteArray separator("\n#journal\n");
    const qsizetype cut = input.indexOf(separator);
    const QByteArray manifestBytes = cut < 0 ? input : input.left(cut);
    if (!writeFile(ws.manifest, manifestBytes))
        std::abort();
    QFile::remove(ws.journal);
    if (cut >= 0 && !writeFile(ws.journal, input.mid(cut + separator.size())))
        std::abort();

    check(!rvw::ActionRunner::describeManifest(ws.manifest).isEmpty(), "a manifest without a description");

    QString error;
    const rvw::ActionRunner::Result r = rvw::ActionRunner::undo(ws.manifest, &error);

    const QJsonValue entries = QJsonDocument::fromJson(manifestBytes).object().value(QStringLiteral("entries"));
    const bool readable = entries.isArray();
    check(r.errors.size() == r.failed, "not one message per failure");
    check(r.succeeded >= 0 && r.failed >= 0 && r.succeeded + r.failed <= entries.toArray().size(),
          "more outcomes than entries");
    check(r.bytesFreed == 0 && r.manifestPath.isEmpty() && !r.manifestComplete && !r.cancelled,
          "undo reports what only a clean-up does");
    check(readable || !error.isEmpty(), "an unreadable manifest without an error");
    check(readable || (r.succeeded == 0 && r.failed == 0), "outcomes from an unreadable manifest");
    // Deleted exactly when every entry was restored or skipped.
    check(QFileInfo::exists(ws.manifest) == (r.failed > 0 || !readable), "the manifest kept or deleted wrongly");
    ws.checkBatchHoldsNoFile();
    return 0;
}
