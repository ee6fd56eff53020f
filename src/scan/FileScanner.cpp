#include "scan/FileScanner.h"

#include "cleanup/ActionRunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

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

} // namespace

bool FileScanner::isExcluded(const QString &path, const QStringList &patterns)
{
    return ExclusionMatcher(patterns).excludes(path);
}

QStringList FileScanner::discover(const ScanOptions &options, const QAtomicInt &cancel,
                                  const Progress &progress)
{
    QSet<QString> suffixes;
    for (const QString &ext : options.extensions)
        suffixes.insert(ext.trimmed().toLower());

    // Compiled once per walk: a library has far more files than patterns.
    ExclusionMatcher excludes(options.excludes);

    // Checked by both names: a file can be reached through a link into the quarantine, and a
    // link inside it can point out.
    const QFileInfo quarantine(options.quarantineRoot.trimmed().isEmpty()
                                   ? ActionRunner::defaultQuarantineRoot()
                                   : options.quarantineRoot);
    const QString quarantineAbsolute = QDir::cleanPath(quarantine.absoluteFilePath());
    const QString quarantineCanonical = quarantine.canonicalFilePath();

    QStringList result;
    QSet<QString> seen;
    QString lastFolder;

    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (options.includeHidden)
        filters |= QDir::Hidden;
    QDirIterator::IteratorFlags flags = QDirIterator::Subdirectories;
    if (options.followSymlinks)
        flags |= QDirIterator::FollowSymlinks;

    for (const QString &root : options.folders) {
        if (cancel.loadRelaxed())
            break;
        const QFileInfo rootInfo(root);
        if (!rootInfo.exists() || !rootInfo.isDir())
            continue;
        QDirIterator it(rootInfo.absoluteFilePath(), filters, flags);
        while (it.hasNext() && !cancel.loadRelaxed()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            if (!suffixes.contains(info.suffix().toLower()))
                continue;
            if (info.size() < options.minBytes)
                continue;
            if (!excludes.isEmpty() && excludes.excludes(path))
                continue;
            const QString absolute = info.absoluteFilePath();
            QString key = info.canonicalFilePath();
            if (key.isEmpty())
                key = absolute;
            if (isBelow(absolute, quarantineAbsolute) || isBelow(key, quarantineCanonical))
                continue;
            if (seen.contains(key))
                continue;
            seen.insert(key);
            result.append(absolute);
            if (progress) {
                const QString folder = info.absolutePath();
                if (result.size() % 64 == 0 || folder != lastFolder) {
                    progress(int(result.size()), folder);
                    lastFolder = folder;
                }
            }
        }
    }
    if (progress)
        progress(int(result.size()), QString());
    return result;
}

} // namespace rvw
