#include "scan/FileScanner.h"

#include "cleanup/ActionRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#else
#include <QDirIterator>
#endif

namespace rvw {

namespace {

#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

QRegularExpression compilePattern(QString glob)
{
    // A leading '*' stands for the folders above, whatever their depth: the library's own path
    // is not known when the pattern is written.
    QString prefix;
    if (glob.startsWith(QLatin1Char('*'))) {
        prefix = QStringLiteral(".*");
        glob.remove(0, 1);
    }
    const QString rest = QRegularExpression::wildcardToRegularExpression(
        glob, QRegularExpression::UnanchoredWildcardConversion);
    return QRegularExpression(QRegularExpression::anchoredPattern(prefix + rest),
                              QRegularExpression::CaseInsensitiveOption);
}

// Exclusion patterns applied to the files of one walk. A folder's verdict is kept, as every
// file below it asks for it again.
class ExclusionMatcher
{
public:
    explicit ExclusionMatcher(const QStringList &patterns)
    {
        for (const QString &pattern : patterns) {
            if (!pattern.trimmed().isEmpty())
                m_expressions.append(compilePattern(QDir::fromNativeSeparators(pattern)));
        }
    }

    bool isEmpty() const { return m_expressions.isEmpty(); }

    bool excludes(const QString &filePath)
    {
        const QString path = QDir::fromNativeSeparators(filePath);
        return matches(path) || folderExcluded(path.left(qMax(0, int(path.lastIndexOf(QLatin1Char('/'))))));
    }

    // True when every file below the folder is excluded, so the walk need not enter it.
    bool excludesFolder(const QString &folderPath)
    {
        return !isEmpty() && folderExcluded(QDir::fromNativeSeparators(folderPath));
    }

private:
    bool matches(const QString &path) const
    {
        for (const QRegularExpression &re : m_expressions) {
            if (re.match(path).hasMatch())
                return true;
        }
        return false;
    }

    bool folderExcluded(const QString &folder)
    {
        // Up to the nearest folder already judged (or the top), then judged top-down on the way back.
        QStringList unjudged;
        QString current = folder;
        bool verdict = false;
        while (!current.isEmpty()) {
            const auto known = m_folders.constFind(current);
            if (known != m_folders.constEnd()) {
                verdict = known.value();
                break;
            }
            unjudged.append(current);
            current.truncate(qMax(0, int(current.lastIndexOf(QLatin1Char('/')))));
        }
        for (auto it = unjudged.crbegin(); it != unjudged.crend(); ++it) {
            verdict = verdict || matches(*it) || matches(*it + QLatin1Char('/'));
            m_folders.insert(*it, verdict);
        }
        return verdict;
    }

    QList<QRegularExpression> m_expressions;
    QHash<QString, bool> m_folders;
};

// True when `path` lies below `folder`; a sibling that merely shares the beginning of its name
// ("Quarterly" beside "Quar") does not.
bool isBelow(const QString &path, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'), kPathCase);
}

bool isSameOrBelow(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    return path.compare(folder, kPathCase) == 0 || isBelow(path, folder);
}

// The filters every walk applies, and the result it builds.
class Collector
{
public:
    Collector(const ScanOptions &options, const QAtomicInt &cancel, const FileScanner::Progress &progress)
        : m_options(options), m_cancel(cancel), m_progress(progress), m_excludes(options.excludes)
    {
        for (const QString &ext : options.extensions)
            m_suffixes.insert(ext.trimmed().toLower());
        // Checked by both names: a file can be reached through a link into the quarantine, and a
        // link inside it can point out.
        const QFileInfo quarantine(options.quarantineRoot.trimmed().isEmpty()
                                       ? ActionRunner::defaultQuarantineRoot()
                                       : options.quarantineRoot);
        m_quarantineAbsolute = QDir::cleanPath(quarantine.absoluteFilePath());
        m_quarantineCanonical = quarantine.canonicalFilePath();
    }

    bool cancelled() const { return m_cancel.loadRelaxed() != 0; }

    bool hasAudioSuffix(const QString &fileName) const
    {
        const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
        return m_suffixes.contains(dot < 0 ? QString() : fileName.mid(dot + 1).toLower());
    }

    bool excluded(const QString &filePath) { return !m_excludes.isEmpty() && m_excludes.excludes(filePath); }
    bool folderExcluded(const QString &folderPath) { return m_excludes.excludesFolder(folderPath); }

    bool inQuarantine(const QString &absolute, const QString &canonical) const
    {
        return isSameOrBelow(absolute, m_quarantineAbsolute) ||
               isSameOrBelow(canonical, m_quarantineCanonical);
    }

    void addFile(const QString &path, const QString &folder)
    {
        m_result.files.append(path);
        if (!m_progress)
            return;
        const int count = int(m_result.files.size());
        if (count % 64 == 0 || folder != m_lastFolder) {
            m_progress(count, folder);
            m_lastFolder = folder;
        }
    }

    Discovery finish()
    {
        if (m_progress)
            m_progress(int(m_result.files.size()), QString());
        return std::move(m_result);
    }

protected:
    const ScanOptions &m_options;
    const QAtomicInt &m_cancel;
    const FileScanner::Progress &m_progress;
    QSet<QString> m_suffixes;
    ExclusionMatcher m_excludes;
    QString m_quarantineAbsolute;
    QString m_quarantineCanonical;
    Discovery m_result;
    QString m_lastFolder;
};

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

#ifdef Q_OS_UNIX

// Walks with the names as the system stores them. A name Qt cannot turn into a QString and back
// cannot be opened through Qt, so it is counted rather than passed on with a path that leads
// nowhere; the type of every entry is checked without opening it, as opening a FIFO or a device
// can block for good.
class PosixWalk : public Collector
{
public:
    using Collector::Collector;

    Discovery run()
    {
        for (const QString &root : m_options.folders) {
            if (cancelled())
                break;
            walkRoot(root);
        }
        return finish();
    }

private:
    struct Folder
    {
        QByteArray raw;    // as the system names it
        QString path;      // absolute; for a name Qt cannot represent, a readable approximation
        QString canonical; // empty when unknown
        int depth = 0;
        // Set below a name Qt cannot represent: the folder holding that name.
        QString lostIn;
    };

    using NodeKey = QPair<quint64, quint64>;
    static NodeKey keyOf(const struct stat &st) { return {quint64(st.st_dev), quint64(st.st_ino)}; }

    static bool roundTrips(const QByteArray &name)
    {
        if (std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; }))
            return true;
        return QFile::encodeName(QFile::decodeName(name)) == name;
    }

    static QByteArray joinedRaw(const QByteArray &folder, const QByteArray &name)
    {
        return folder.endsWith('/') ? folder + name : folder + '/' + name;
    }

    void walkRoot(const QString &root)
    {
        const QFileInfo info(root);
        if (root.isEmpty() || !info.exists() || !info.isDir())
            return;
        Folder top;
        top.path = QDir::cleanPath(info.absoluteFilePath());
        top.raw = QFile::encodeName(top.path);
        top.canonical = info.canonicalFilePath();
        struct stat st;
        if (::stat(top.raw.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;
        QList<Folder> pending;
        admit(std::move(top), st, pending);
        while (!pending.isEmpty() && !cancelled())
            walk(pending.takeLast(), pending);
    }

    // Queues a folder unless it must not or need not be walked. Each folder is walked once,
    // whatever the number of paths to it, which ends link cycles and keeps the work bounded.
    void admit(Folder folder, const struct stat &st, QList<Folder> &pending)
    {
        if (folder.lostIn.isEmpty()) {
            if (folderExcluded(folder.path) || inQuarantine(folder.path, folder.canonical))
                return;
        }
        if (folder.depth > FileScanner::kMaxDepth) {
            m_result.tooDeepFolders.append(folder.path);
            return;
        }
        const NodeKey key = keyOf(st);
        if (m_walkedFolders.contains(key))
            return;
        m_walkedFolders.insert(key);
        pending.append(std::move(folder));
    }

    void markUnreadable(const Folder &folder, bool &marked)
    {
        if (marked)
            return;
        marked = true;
        m_result.unreadableFolders.append(folder.path);
    }

    void walk(const Folder &folder, QList<Folder> &pending)
    {
        struct Entry
        {
            QByteArray name;
            unsigned char type;
        };
        QList<Entry> entries;
        bool unreadable = false;
        DIR *dir = ::opendir(folder.raw.constData());
        if (!dir) {
            // A folder that vanished since its parent was listed was not skipped, it is gone.
            if (errno != ENOENT && errno != ENOTDIR)
                markUnreadable(folder, unreadable);
            return;
        }
        for (;;) {
            errno = 0;
            const struct dirent *e = ::readdir(dir);
            if (!e) {
                if (errno != 0)
                    markUnreadable(folder, unreadable);
                break;
            }
            const QByteArray name(e->d_name);
            if (name == "." || name == "..")
                continue;
#ifdef DT_UNKNOWN
            entries.append({name, e->d_type});
#else
            entries.append({name, 0});
#endif
        }
        ::closedir(dir);
        // Byte order makes the walk, and so the name kept of a linked file, the same every time.
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return a.name < b.name; });

        QList<Folder> subfolders;
        for (const Entry &entry : std::as_const(entries)) {
            if (cancelled())
                return;
            if (!m_options.includeHidden && entry.name.startsWith('.'))
                continue;
            const QString name = QFile::decodeName(entry.name);
            const bool audioName = hasAudioSuffix(name);
#ifdef DT_UNKNOWN
            // Most entries of a library are covers, playlists and notes: no need to examine them.
            if (!audioName && entry.type != DT_DIR && entry.type != DT_LNK && entry.type != DT_UNKNOWN)
                continue;
#endif
            const QByteArray raw = joinedRaw(folder.raw, entry.name);
            struct stat st;
            if (::lstat(raw.constData(), &st) != 0) {
                if (errno == EACCES)
                    markUnreadable(folder, unreadable);
                continue;
            }
            const bool link = S_ISLNK(st.st_mode);
            if (link && ::stat(raw.constData(), &st) != 0)
                continue; // a dangling link or a chain of links that does not end

            const QString path = joined(folder.path, name);
            QString lostIn = folder.lostIn;
            if (lostIn.isEmpty() && !roundTrips(entry.name))
                lostIn = folder.path;

            if (S_ISDIR(st.st_mode)) {
                if (link && !m_options.followSymlinks)
                    continue;
                Folder sub;
                sub.raw = raw;
                sub.path = path;
                sub.depth = folder.depth + 1;
                sub.lostIn = lostIn;
                if (lostIn.isEmpty()) {
                    if (link)
                        sub.canonical = QFileInfo(path).canonicalFilePath();
                    else if (!folder.canonical.isEmpty())
                        sub.canonical = joined(folder.canonical, name);
                }
                admit(std::move(sub), st, subfolders);
                continue;
            }
            if (!audioName || excluded(path))
                continue;
            QString canonical;
            if (lostIn.isEmpty()) {
                canonical = link ? QFileInfo(path).canonicalFilePath()
                                 : (folder.canonical.isEmpty() ? QString() : joined(folder.canonical, name));
                if (inQuarantine(path, canonical))
                    continue;
            }
            if (!S_ISREG(st.st_mode)) {
                ++m_result.specialFiles;
                continue;
            }
            if (qint64(st.st_size) < m_options.minBytes)
                continue;
            const NodeKey key = keyOf(st);
            if (!lostIn.isEmpty()) {
                if (m_lostFiles.contains(key))
                    continue;
                m_lostFiles.insert(key);
                ++m_result.undecodableFiles;
                if (!m_lostFolders.contains(lostIn)) {
                    m_lostFolders.insert(lostIn);
                    m_result.undecodableFolders.append(lostIn);
                }
                continue;
            }
            if (m_files.contains(key)) {
                ++m_result.repeatedNames;
                continue;
            }
            m_files.insert(key);
            addFile(path, folder.path);
        }
        // Reversed, so the stack hands them out in name order.
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            pending.append(std::move(*it));
    }

    QSet<NodeKey> m_walkedFolders;
    QSet<NodeKey> m_files;
    QSet<NodeKey> m_lostFiles;
    QSet<QString> m_lostFolders;
};

#else

// Where names are not bytes, Qt sees every name the system can store; files are told apart by
// their canonical path.
class PortableWalk : public Collector
{
public:
    using Collector::Collector;

    Discovery run()
    {
        QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
        if (m_options.includeHidden)
            filters |= QDir::Hidden;
        QDirIterator::IteratorFlags flags = QDirIterator::Subdirectories;
        if (m_options.followSymlinks)
            flags |= QDirIterator::FollowSymlinks;
        QSet<QString> seen;
        for (const QString &root : m_options.folders) {
            if (cancelled())
                break;
            const QFileInfo rootInfo(root);
            if (!rootInfo.exists() || !rootInfo.isDir())
                continue;
            QDirIterator it(rootInfo.absoluteFilePath(), filters, flags);
            while (it.hasNext() && !cancelled()) {
                const QString path = it.next();
                const QFileInfo info = it.fileInfo();
                if (!hasAudioSuffix(info.fileName()) || excluded(path))
                    continue;
                const QString absolute = info.absoluteFilePath();
                QString key = info.canonicalFilePath();
                if (key.isEmpty())
                    key = absolute;
                if (inQuarantine(absolute, key))
                    continue;
                if (!info.isFile()) {
                    ++m_result.specialFiles;
                    continue;
                }
                if (info.size() < m_options.minBytes)
                    continue;
                if (seen.contains(key)) {
                    ++m_result.repeatedNames;
                    continue;
                }
                seen.insert(key);
                addFile(absolute, info.absolutePath());
            }
        }
        return finish();
    }
};

#endif

} // namespace

bool FileScanner::isExcluded(const QString &path, const QStringList &patterns)
{
    return ExclusionMatcher(patterns).excludes(path);
}

Discovery FileScanner::discover(const ScanOptions &options, const QAtomicInt &cancel,
                                const Progress &progress)
{
#ifdef Q_OS_UNIX
    return PosixWalk(options, cancel, progress).run();
#else
    return PortableWalk(options, cancel, progress).run();
#endif
}

} // namespace rvw
