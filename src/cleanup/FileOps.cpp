#include "cleanup/FileOps.h"

#include "audio/Hasher.h"
#include "audio/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QObject>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rvw {
namespace FileOps {

namespace {

constexpr qint64 kBlockSize = 1 << 20;
// Longest file name most file systems take, in bytes.
constexpr int kMaxNameBytes = 255;

QMutex g_hookMutex;
FaultHook g_hook;

// The errno a test wants this operation to fail with, or 0.
int injected(Op op, const QString &path, qint64 position = 0)
{
    QMutexLocker lock(&g_hookMutex);
    return g_hook ? g_hook(op, path, position) : 0;
}

// Runs a system call that sets errno unless the fault hook fails it first; 0 or the errno.
template <typename Call> int attempt(Op op, const QString &path, Call call)
{
    if (const int e = injected(op, path))
        return e;
    return call() == 0 ? 0 : errno;
}

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Closes a descriptor once, whatever path leaves the scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int close()
    {
        int result = 0;
        if (m_fd >= 0)
            result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

int openRetrying(const QByteArray &path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

qint64 readSome(int fd, char *buffer, qint64 size)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, size_t(size));
    } while (n < 0 && errno == EINTR);
    return qint64(n);
}

// Writes the whole block; `written` is where the file stands before it. Returns 0 or errno.
int writeAll(int fd, const QString &path, const char *data, qint64 size, qint64 written)
{
    if (const int e = injected(Op::Write, path, written + size))
        return e;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= n;
    }
    return 0;
}

int syncDescriptor(int fd, const QString &path, bool dataOnly = false)
{
    return attempt(Op::Sync, path, [&] { return dataOnly ? ::fdatasync(fd) : ::fsync(fd); });
}

// Makes a rename or a new name in `folder` durable. Some file systems cannot sync a folder
// (EINVAL); their metadata is as durable as it gets then.
int syncFolder(const QString &folder)
{
    Descriptor fd(openRetrying(native(folder), O_RDONLY | O_DIRECTORY));
    if (!fd.valid())
        return errno;
    const int e = syncDescriptor(fd.get(), folder);
    return e == EINVAL ? 0 : e;
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// Renames without ever replacing an existing file. Returns 0 or errno; EEXIST means the
// target is taken. Where the system has no such rename, a hard link and an unlink do it.
int renameNoReplace(const QString &from, const QString &to, Op op)
{
    if (const int e = injected(op, from))
        return e;
    const QByteArray f = native(from);
    const QByteArray t = native(to);
#ifdef RENAME_NOREPLACE
    const int exclusive = attempt(Op::Exclusive, to, [&] {
        return ::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE);
    });
    if (exclusive != EINVAL && exclusive != ENOSYS && exclusive != ENOTSUP)
        return exclusive;
#endif
    const int linked = attempt(Op::Link, to, [&] { return ::link(f.constData(), t.constData()); });
    if (linked != 0) {
        if (linked != EPERM && linked != ENOTSUP && linked != EOPNOTSUPP && linked != ENOSYS)
            return linked;
        // Neither an exclusive rename nor hard links (some network shares): look, then rename.
        struct stat st = {};
        if (::lstat(t.constData(), &st) == 0)
            return EEXIST;
        return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
    }
    if (::unlink(f.constData()) != 0) {
        const int e = errno;
        ::unlink(t.constData());
        return e;
    }
    return 0;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool unchangedSince(const struct stat &before, const struct stat &now)
{
    return sameFile(before, now) && before.st_size == now.st_size &&
           before.st_mtim.tv_sec == now.st_mtim.tv_sec && before.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
}

// A name for a temporary file beside `target`, hidden and without an audio suffix, so that
// a scan never takes a left-over part for music.
QString temporaryBeside(const QString &target)
{
    QString base = QFileInfo(target).fileName();
    const QString tag = QStringLiteral(".rvw-partial-%1")
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    while (!base.isEmpty() && (QLatin1Char('.') + base + tag).toUtf8().size() > kMaxNameBytes)
        base.chop(1);
    return QDir(folderOf(target)).filePath(QLatin1Char('.') + base + tag);
}

// Creates a new temporary file beside `target`; returns its descriptor and path.
int createTemporary(const QString &target, QString &temporary)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        temporary = temporaryBeside(target);
        const int fd = openRetrying(native(temporary), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Copies `from` into a new temporary file beside `to`, synced to the disk, with the
// source's permissions and times. Fills the SHA-256 of the bytes read from the source.
bool copyToTemporary(int in, const struct stat &source, const QString &to, QString &temporary,
                     QByteArray &sourceDigest, QString *error)
{
    Descriptor out(createTemporary(to, temporary));
    if (!out.valid()) {
        temporary.clear();
        return fail(error, QObject::tr("cannot create a file in %1: %2").arg(folderOf(to), systemText(errno)));
    }
    Sha256 digest;
    std::vector<char> buffer(static_cast<size_t>(kBlockSize));
    qint64 written = 0;
    for (;;) {
        const qint64 n = readSome(in, buffer.data(), kBlockSize);
        if (n < 0)
            return fail(error, QObject::tr("read error: %1").arg(systemText(errno)));
        if (n == 0)
            break;
        digest.addData(buffer.data(), n);
        if (const int e = writeAll(out.get(), temporary, buffer.data(), n, written))
            return fail(error, QObject::tr("write error in %1: %2").arg(folderOf(to), systemText(e)));
        written += n;
    }
    if (written != qint64(source.st_size))
        return fail(error, QObject::tr("the file changed while it was copied"));
    ::fchmod(out.get(), source.st_mode & 07777);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::futimens(out.get(), times);
    if (const int e = syncDescriptor(out.get(), temporary))
        return fail(error, QObject::tr("the copy could not be written to the disk: %1").arg(systemText(e)));
    // The read-back below should come from the disk, not from what is still in memory.
    ::posix_fadvise(out.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (out.close() != 0)
        return fail(error, QObject::tr("the copy could not be closed: %1").arg(systemText(errno)));
    sourceDigest = digest.result();
    return true;
}

// The copy fallback of moveFile: the source is removed only once a verified copy is in place.
bool copyThenRemove(const QString &from, const QString &to, QString *error)
{
    Descriptor in(openRetrying(native(from), O_RDONLY));
    if (!in.valid())
        return fail(error, QObject::tr("cannot read it: %1").arg(systemText(errno)));
    struct stat before = {};
    if (::fstat(in.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return fail(error, QObject::tr("it is not a regular file"));

    QString temporary;
    QByteArray sourceDigest;
    const auto discard = [&temporary] {
        if (!temporary.isEmpty())
            ::unlink(native(temporary).constData());
    };
    if (!copyToTemporary(in.get(), before, to, temporary, sourceDigest, error)) {
        discard();
        return false;
    }
    QString readError;
    const QString copyDigest = Hasher::hashWholeFile(temporary, &readError);
    struct stat copied = {};
    if (copyDigest.isEmpty() || copyDigest != QString::fromLatin1(sourceDigest.toHex()) ||
        ::stat(native(temporary).constData(), &copied) != 0 ||
        copied.st_size != before.st_size) {
        discard();
        return fail(error, QObject::tr("the copy read back differs from the original"));
    }
    struct stat after = {};
    if (::stat(native(from).constData(), &after) != 0 || !unchangedSince(before, after)) {
        discard();
        return fail(error, QObject::tr("the file changed while it was copied"));
    }
    if (const int e = renameNoReplace(temporary, to, Op::Place)) {
        discard();
        return fail(error, e == EEXIST ? QObject::tr("%1 already exists").arg(to)
                                       : QObject::tr("the copy could not be put in place: %1").arg(systemText(e)));
    }
    temporary.clear();
    if (const int e = syncFolder(folderOf(to))) {
        ::unlink(native(to).constData());
        return fail(error, QObject::tr("the copy could not be written to the disk: %1").arg(systemText(e)));
    }
    QString removeError;
    if (!removeFile(from, &removeError)) {
        // The original stays; its copy goes again, so the file exists once.
        ::unlink(native(to).constData());
        syncFolder(folderOf(to));
        return fail(error, removeError);
    }
    syncFolder(folderOf(from));
    return true;
}

} // namespace

void setFaultHook(FaultHook hook)
{
    QMutexLocker lock(&g_hookMutex);
    g_hook = std::move(hook);
}

bool moveFile(const QString &from, const QString &to, QString *error)
{
    struct stat before = {};
    if (::lstat(native(from).constData(), &before) != 0)
        return fail(error, QObject::tr("cannot read it: %1").arg(systemText(errno)));
    if (!S_ISREG(before.st_mode))
        return fail(error, QObject::tr("it is not a regular file"));
    const int renamed = renameNoReplace(from, to, Op::Rename);
    if (renamed == 0) {
        syncFolder(folderOf(to));
        syncFolder(folderOf(from));
        return true;
    }
    if (renamed == EEXIST)
        return fail(error, QObject::tr("%1 already exists").arg(to));
    // Only a rename that left the source where it was may fall back to a copy.
    struct stat now = {};
    if (::lstat(native(from).constData(), &now) != 0 || !sameFile(before, now))
        return fail(error, QObject::tr("the rename failed: %1").arg(systemText(renamed)));
    return copyThenRemove(from, to, error);
}

bool removeFile(const QString &path, QString *error)
{
    const int e = attempt(Op::Remove, path, [&] { return ::unlink(native(path).constData()); });
    if (e != 0)
        return fail(error, QObject::tr("cannot remove %1: %2").arg(path, systemText(e)));
    return true;
}

bool writeAtomically(const QString &path, const QByteArray &bytes, bool replace, QString *error)
{
    QString temporary;
    Descriptor out(createTemporary(path, temporary));
    if (!out.valid())
        return fail(error, QObject::tr("cannot create a file in %1: %2").arg(folderOf(path), systemText(errno)));
    int e = writeAll(out.get(), temporary, bytes.constData(), bytes.size(), 0);
    if (e == 0)
        e = syncDescriptor(out.get(), temporary);
    if (e == 0 && out.close() != 0)
        e = errno;
    if (e == 0 && replace) {
        e = attempt(Op::Place, temporary,
                    [&] { return ::rename(native(temporary).constData(), native(path).constData()); });
    } else if (e == 0) {
        e = renameNoReplace(temporary, path, Op::Place);
    }
    if (e != 0) {
        ::unlink(native(temporary).constData());
        return fail(error, QObject::tr("cannot write %1: %2").arg(path, systemText(e)));
    }
    if (const int unsynced = syncFolder(folderOf(path))) {
        // The file is in place but may not survive a crash. A new name made here is taken back, so
        // a caller never finds a file it was told could not be written; a replaced one has
        // nothing left to go back to and stays.
        if (!replace)
            ::unlink(native(path).constData());
        return fail(error, QObject::tr("cannot write %1: %2").arg(path, systemText(unsynced)));
    }
    return true;
}

bool appendDurably(const QString &path, const QByteArray &bytes, QString *error)
{
    const bool existed = QFileInfo::exists(path);
    Descriptor out(openRetrying(native(path), O_WRONLY | O_APPEND | O_CREAT, 0644));
    struct stat st = {};
    int e = out.valid() ? 0 : errno;
    if (e == 0 && ::fstat(out.get(), &st) != 0)
        e = errno;
    if (e == 0)
        e = writeAll(out.get(), path, bytes.constData(), bytes.size(), qint64(st.st_size));
    if (e == 0)
        e = syncDescriptor(out.get(), path, true);
    if (e == 0 && out.close() != 0)
        e = errno;
    if (e == 0 && !existed)
        e = syncFolder(folderOf(path));
    if (e != 0)
        return fail(error, QObject::tr("cannot write %1: %2").arg(path, systemText(e)));
    return true;
}

} // namespace FileOps
} // namespace rvw
