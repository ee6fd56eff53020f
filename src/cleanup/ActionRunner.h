#pragma once

#include <QAtomicInt>
#include <QString>
#include <QStringList>

#include <functional>

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
        // The manifest lists exactly the files this call moved. When false but a manifest
        // exists, the call could not finish it; undo still restores every moved file from it.
        bool manifestComplete = false;
        bool cancelled = false; // the cancel flag ended the call; the files after it stayed
    };

    // Told after each file is handled (moved, restored, or failed), on the calling thread.
    using Progress = std::function<void(int done, int total)>;

    // Translated label of a mode; empty for an unknown number.
    static QString modeName(Mode mode);
    // "Ravelwick Quarantine" inside the documents folder.
    static QString defaultQuarantineRoot();
    // "undo" inside the application data folder; created on every call.
    static QString manifestDirectory();
    // Absolute paths of the "undo-*.json" files, newest clean-up first.
    static QStringList manifests();

    // Handles each path in order; per-file problems are counted and never stop the call.
    // For a quarantine, `roots` decide the folder structure inside the batch folder. Its
    // manifest is a journal: written before the first move with every planned move, each
    // finished move recorded as it completes, and rewritten at the end with the files that
    // moved. When the manifest cannot be created nothing moves. A set cancel flag stops the
    // call between two files.
    static Result execute(const QStringList &paths, Mode mode, const QString &quarantineRoot,
                          const QStringList &roots, const QAtomicInt *cancel = nullptr,
                          const Progress &progress = {});

    // "<created> - <n> file(s)", or the manifest's file name when it cannot be opened.
    static QString describeManifest(const QString &manifestPath);

    // Moves the files of a quarantine manifest back. A manifest is untrusted input: an entry
    // is restored only from a regular file of the recorded size inside the manifest's own
    // batch folder to an absolute path; any other entry is refused on its own. An entry whose
    // file is already back in its place counts as restored. The manifest is deleted only when
    // no entry failed, so a later attempt can finish the rest. An unreadable manifest gives an
    // all-zero result and, when `error` is given, "Cannot read manifest: ..." in it. A set
    // cancel flag stops between two files and keeps the manifest for the rest.
    static Result undo(const QString &manifestPath, QString *error = nullptr, const QAtomicInt *cancel = nullptr,
                       const Progress &progress = {});
};

} // namespace rvw
