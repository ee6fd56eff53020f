#include "scan/FileScanner.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace rvw {

namespace {

QList<QRegularExpression> compilePatterns(const QStringList &patterns)
{
    QList<QRegularExpression> out;
    for (const QString &pattern : patterns) {
        if (pattern.trimmed().isEmpty())
            continue;
        out.append(QRegularExpression(
            QRegularExpression::wildcardToRegularExpression(QDir::fromNativeSeparators(pattern)),
            QRegularExpression::CaseInsensitiveOption));
    }
    return out;
}

bool matchesAny(const QString &path, const QList<QRegularExpression> &expressions)
{
    const QString normalised = QDir::fromNativeSeparators(path);
    for (const QRegularExpression &re : expressions) {
        if (re.match(normalised).hasMatch())
            return true;
    }
    return false;
}

} // namespace

bool FileScanner::isExcluded(const QString &path, const QStringList &patterns)
{
    return matchesAny(path, compilePatterns(patterns));
}

QStringList FileScanner::discover(const ScanOptions &options, const QAtomicInt &cancel,
                                  const Progress &progress)
{
    QSet<QString> suffixes;
    for (const QString &ext : options.extensions)
        suffixes.insert(ext.trimmed().toLower());

    // Compiled once per walk: a library has far more files than patterns.
    const QList<QRegularExpression> excludes = compilePatterns(options.excludes);

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
            if (!excludes.isEmpty() && matchesAny(path, excludes))
                continue;
            QString key = info.canonicalFilePath();
            if (key.isEmpty())
                key = info.absoluteFilePath();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            result.append(info.absoluteFilePath());
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
