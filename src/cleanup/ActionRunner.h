#pragma once

#include <QString>
#include <QStringList>

namespace rvw {

// Carries out a clean-up on plain file paths: quarantine (recorded in an undo manifest),
// recycle bin, or permanent deletion. Stateless and synchronous; the caller serialises calls.
// A file handled here exists exactly once afterwards: at its old place or at its new one.
class ActionRunner
{
public:
    enum Mode : int {
        Quarantine = 0,
        RecycleBin = 1,
        Delete = 2,
    };

    struct Result
    {
        int succeeded = 0;
        int failed = 0;
        qint64 bytesFreed = 0; // execute only
        QStringList errors;    // one per failure, in the order the paths were handled
        QString manifestPath;  // empty when this call wrote no manifest
    };

    // Translated label of a mode; empty for an unknown number.
    static QString modeName(Mode mode);
    // "Ravelwick Quarantine" inside the documents folder.
    static QString defaultQuarantineRoot();
    // "undo" inside the application data folder; created on every call.
    static QString manifestDirectory();
    // Absolute paths of the "undo-*.json" files, newest clean-up first.
    static QStringList manifests();

    // Handles each path in order; per-file problems are counted and never stop the call.
    // For a quarantine, `roots` decide the folder structure inside the batch folder, and
    // a manifest is written when at least one file moved. When that manifest cannot be
    // written, the files stay in the quarantine and manifestPath is empty.
    static Result execute(const QStringList &paths, Mode mode, const QString &quarantineRoot,
                          const QStringList &roots);

    // "<created> - <n> file(s)", or the manifest's file name when it cannot be opened.
    static QString describeManifest(const QString &manifestPath);

    // Moves the files of a quarantine manifest back. The manifest is deleted only when no
    // entry failed, so a later attempt can finish the rest. An unreadable manifest gives an
    // all-zero result and, when `error` is given, "Cannot read manifest: ..." in it.
    static Result undo(const QString &manifestPath, QString *error = nullptr);
};

} // namespace rvw
