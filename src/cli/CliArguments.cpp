#include "cli/CliArguments.h"

#include "report/ReportWriter.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace rvw {

namespace {

const char *const kPolicyNames[] = {"highest-bitrate",   "longest-duration", "largest-file", "preferred-format",
                                    "shallowest-folder", "oldest-file",      "newest-file",  "most-complete-tags"};

QString rangeError(const QString &option, const QString &low, const QString &high)
{
    return QStringLiteral("--%1 must be a number from %2 to %3").arg(option, low, high);
}

// Reads an integer option within [low, high]; leaves `out` alone when the option is absent.
bool readInt(const QCommandLineParser &p, const QString &name, qint64 low, qint64 high, qint64 &out, QString &error)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const qint64 v = p.value(name).trimmed().toLongLong(&ok);
    if (!ok || v < low || v > high) {
        error = rangeError(name, QString::number(low), QString::number(high));
        return false;
    }
    out = v;
    return true;
}

bool readDouble(const QCommandLineParser &p, const QString &name, double low, double high, double &out,
                QString &error)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const double v = p.value(name).trimmed().toDouble(&ok);
    // compared with a little slack so that "0.40" is accepted despite binary rounding
    if (!ok || !(v >= low - 1e-9 && v <= high + 1e-9)) {
        error = rangeError(name, QString::number(low, 'f', 2), QString::number(high, 'f', 2));
        return false;
    }
    out = v;
    return true;
}

CliCommand invalid(const QString &error)
{
    CliCommand c;
    c.kind = CliCommand::Invalid;
    c.error = error;
    return c;
}

void addScanOptions(QCommandLineParser &p)
{
    p.addOptions({
        {"no-identical", "Do not look for byte-identical files."},
        {"no-same-audio", "Do not compare audio payloads."},
        {"no-acoustic", "Do not fingerprint the audio."},
        {"metadata", "Also match by artist, title and duration."},
        {"engine", "Fingerprint engine: builtin or fpcalc (default fpcalc when installed).", "name"},
        {"threshold", "Acoustic match threshold, 0.02 to 0.40 (default 0.25).", "rate"},
        {"duration-tolerance", "Acoustic duration tolerance in percent, 1 to 25 (default 5).", "percent"},
        {"metadata-tolerance", "Metadata duration tolerance in seconds, 0 to 30 (default 3).", "seconds"},
        {"keeper", "Copy to keep: highest-bitrate, longest-duration, largest-file, preferred-format, "
                   "shallowest-folder, oldest-file, newest-file or most-complete-tags.",
         "policy"},
        {"extensions", "Comma separated file extensions to include.", "list"},
        {"exclude", "Wildcard pattern of paths to skip (repeatable; replaces the defaults).", "pattern"},
        {"min-size", "Ignore files smaller than this many KB, 0 to 1048576 (default 32).", "KB"},
        {"min-duration", "Ignore audio shorter than this many seconds, 0 to 600 (default 5).", "seconds"},
        {"hidden", "Include hidden files and folders."},
        {"follow-symlinks", "Follow symbolic links."},
        {"threads", "Fingerprint worker threads, 1 to 16 (default 4).", "count"},
        {"seconds", "Seconds of audio analysed per file, 20 to 600 (default 60).", "seconds"},
        {"no-cache", "Do not use the analysis cache."},
        {"report", "Write a report to this file.", "file"},
        {"format", "Report format: csv, html, json or m3u8 (default from the file's suffix).", "format"},
        {{"q", "quiet"}, "No progress and no log on standard error."},
        {{"v", "verbose"}, "Activity Log lines on standard error."},
    });
}

CliCommand parseScan(const QStringList &args)
{
    QCommandLineParser p;
    addScanOptions(p);
    if (!p.parse(QStringList{QStringLiteral("ravelwick-cli")} + args))
        return invalid(p.errorText());
    CliCommand c;
    c.kind = CliCommand::Scan;
    ScanOptions &o = c.options;
    const QStringList folders = p.positionalArguments();
    if (folders.isEmpty())
        return invalid(QStringLiteral("scan needs at least one FOLDER"));
    for (const QString &f : folders) {
        const QFileInfo info(f);
        if (!info.isDir())
            return invalid(QStringLiteral("%1 is not a folder").arg(f));
        if (!o.folders.contains(info.absoluteFilePath()))
            o.folders.append(info.absoluteFilePath());
    }
    o.detectIdentical = !p.isSet("no-identical");
    o.detectSameAudio = !p.isSet("no-same-audio");
    o.detectAcoustic = !p.isSet("no-acoustic");
    o.detectMetadata = p.isSet("metadata");
    if (!o.detectIdentical && !o.detectSameAudio && !o.detectAcoustic && !o.detectMetadata)
        return invalid(QStringLiteral("every detection method is switched off"));
    if (p.isSet("engine")) {
        const QString e = p.value("engine").trimmed().toLower();
        if (e == QLatin1String("builtin"))
            o.engine = 0;
        else if (e == QLatin1String("fpcalc"))
            o.engine = 1;
        else
            return invalid(QStringLiteral("--engine must be builtin or fpcalc"));
    }
    QString error;
    qint64 v = 0;
    if (!readDouble(p, "threshold", 0.02, 0.40, o.threshold, error))
        return invalid(error);
    v = o.durationTolerance;
    if (!readInt(p, "duration-tolerance", 1, 25, v, error))
        return invalid(error);
    o.durationTolerance = int(v);
    v = o.metadataTolerance / 1000;
    if (!readInt(p, "metadata-tolerance", 0, 30, v, error))
        return invalid(error);
    if (p.isSet("metadata-tolerance"))
        o.metadataTolerance = int(v * 1000);
    if (p.isSet("keeper")) {
        const int policy = CliArguments::keeperPolicyFromName(p.value("keeper").trimmed());
        if (policy < 0)
            return invalid(QStringLiteral("unknown --keeper policy: %1").arg(p.value("keeper")));
        o.keeperPolicy = policy;
    }
    if (p.isSet("extensions")) {
        QStringList exts;
        for (const QString &e : p.value("extensions").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QString clean = e.trimmed().toLower();
            if (clean.startsWith(QLatin1Char('.')))
                clean.remove(0, 1);
            if (!clean.isEmpty())
                exts.append(clean);
        }
        if (exts.isEmpty())
            return invalid(QStringLiteral("--extensions lists no extension"));
        o.extensions = exts;
    }
    if (p.isSet("exclude"))
        o.excludes = p.values("exclude");
    v = o.minBytes / 1024;
    if (!readInt(p, "min-size", 0, 1048576, v, error))
        return invalid(error);
    if (p.isSet("min-size"))
        o.minBytes = v * 1024;
    v = o.minDurationMs / 1000;
    if (!readInt(p, "min-duration", 0, 600, v, error))
        return invalid(error);
    if (p.isSet("min-duration"))
        o.minDurationMs = v * 1000;
    o.includeHidden = p.isSet("hidden");
    o.followSymlinks = p.isSet("follow-symlinks");
    v = o.decoderThreads;
    if (!readInt(p, "threads", 1, 16, v, error))
        return invalid(error);
    o.decoderThreads = int(v);
    v = o.fingerprintSeconds;
    if (!readInt(p, "seconds", 20, 600, v, error))
        return invalid(error);
    o.fingerprintSeconds = int(v);
    o.useCache = !p.isSet("no-cache");

    c.quiet = p.isSet("quiet");
    c.verbose = p.isSet("verbose");
    if (c.quiet && c.verbose)
        return invalid(QStringLiteral("--quiet and --verbose exclude each other"));
    if (p.isSet("format") && !p.isSet("report"))
        return invalid(QStringLiteral("--format needs --report FILE"));
    if (p.isSet("report")) {
        c.reportPath = p.value("report");
        if (c.reportPath.isEmpty())
            return invalid(QStringLiteral("--report needs a file name"));
        const QString name = p.isSet("format") ? p.value("format") : QFileInfo(c.reportPath).suffix();
        c.reportFormat = CliArguments::formatFromName(name);
        if (c.reportFormat < 0)
            return invalid(p.isSet("format")
                               ? QStringLiteral("--format must be csv, html, json or m3u8")
                               : QStringLiteral("cannot tell the report format from %1; add --format")
                                     .arg(c.reportPath));
    }
    return c;
}

CliCommand parseQuarantine(const QStringList &args)
{
    QCommandLineParser p;
    p.addOptions({{"to", "Quarantine root folder (default: Documents/Ravelwick Quarantine).", "folder"},
                  {"dry-run", "Only list what would be moved."}});
    if (!p.parse(QStringList{QStringLiteral("ravelwick-cli")} + args))
        return invalid(p.errorText());
    if (p.positionalArguments().size() != 1)
        return invalid(QStringLiteral("quarantine needs exactly one REPORT.json"));
    CliCommand c;
    c.kind = CliCommand::Quarantine;
    c.reportFile = p.positionalArguments().first();
    c.dryRun = p.isSet("dry-run");
    if (p.isSet("to")) {
        c.quarantineRoot = QFileInfo(p.value("to")).absoluteFilePath();
        if (p.value("to").trimmed().isEmpty())
            return invalid(QStringLiteral("--to needs a folder"));
    }
    return c;
}

CliCommand parseUndo(const QStringList &args)
{
    QCommandLineParser p;
    if (!p.parse(QStringList{QStringLiteral("ravelwick-cli")} + args))
        return invalid(p.errorText());
    if (p.positionalArguments().size() > 1)
        return invalid(QStringLiteral("undo takes at most one MANIFEST"));
    CliCommand c;
    c.kind = CliCommand::Undo;
    if (!p.positionalArguments().isEmpty())
        c.manifest = p.positionalArguments().first();
    return c;
}

} // namespace

int CliArguments::keeperPolicyFromName(const QString &name)
{
    for (int i = 0; i < 8; ++i) {
        if (name.compare(QLatin1String(kPolicyNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString CliArguments::keeperPolicyName(int policy)
{
    return policy >= 0 && policy < 8 ? QString::fromLatin1(kPolicyNames[policy]) : QString();
}

int CliArguments::formatFromName(const QString &name)
{
    const QString n = name.trimmed().toLower();
    for (int f = ReportWriter::Csv; f <= ReportWriter::M3u8; ++f) {
        if (n == ReportWriter::suffixForFormat(ReportWriter::Format(f)))
            return f;
    }
    if (n == QLatin1String("htm") || n == QLatin1String("m3u"))
        return n == QLatin1String("htm") ? ReportWriter::Html : ReportWriter::M3u8;
    return -1;
}

CliCommand CliArguments::parse(const QStringList &args)
{
    if (args.isEmpty())
        return invalid(QStringLiteral("no command given"));
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        CliCommand c;
        c.kind = CliCommand::Help;
        return c;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-V")) {
        CliCommand c;
        c.kind = CliCommand::Version;
        return c;
    }
    if (rest.contains(QStringLiteral("--help")) || rest.contains(QStringLiteral("-h"))) {
        CliCommand c;
        c.kind = CliCommand::Help;
        return c;
    }
    if (command == QLatin1String("scan"))
        return parseScan(rest);
    if (command == QLatin1String("quarantine"))
        return parseQuarantine(rest);
    if (command == QLatin1String("undo"))
        return parseUndo(rest);
    return invalid(QStringLiteral("unknown command: %1").arg(command));
}

QString CliArguments::usage()
{
    QCommandLineParser scan;
    addScanOptions(scan);
    QString text = QStringLiteral(
        "Usage:\n"
        "  ravelwick-cli scan [options] FOLDER...\n"
        "  ravelwick-cli quarantine REPORT.json [--to DIR] [--dry-run]\n"
        "  ravelwick-cli undo [MANIFEST]\n"
        "\n"
        "scan: finds duplicate music under the folders and prints a summary.\n"
        "  Exit status 0 when no duplicates were found, 1 when some were, 2 on a usage or\n"
        "  I/O error, 130 when interrupted (finished analyses are still cached).\n"
        "quarantine: moves every file a JSON report marks \"keep\": false into the\n"
        "  quarantine, with an undo manifest. Files changed since the report are skipped;\n"
        "  a group whose every copy is marked for removal is refused.\n"
        "undo: without MANIFEST lists the undo manifests, newest first; with one, puts\n"
        "  its files back.\n\n");
    // The option list of Qt's own help text, without its usage line.
    QString options = scan.helpText();
    const qsizetype at = options.indexOf(QStringLiteral("Options:"));
    if (at >= 0)
        options = options.mid(at);
    text += QStringLiteral("scan ") + options;
    return text;
}

} // namespace rvw
