#pragma once

#include "core/Types.h"

#include <QString>
#include <QStringList>

namespace rvw {

// What one command line of ravelwick-cli asks for, checked and converted, or why not.
struct CliCommand
{
    enum Kind { Invalid, Help, Version, Scan, Quarantine, Undo };
    Kind kind = Invalid;
    QString error; // set when kind is Invalid

    // scan
    ScanOptions options;
    QString reportPath;
    int reportFormat = -1; // a ReportWriter::Format, -1 when there is no report
    bool quiet = false;
    bool verbose = false;

    // quarantine
    QString reportFile;
    QString quarantineRoot; // empty: the default quarantine root
    bool dryRun = false;

    // undo
    QString manifest; // empty: list the manifests
};

class CliArguments
{
public:
    // `args` without the program name.
    static CliCommand parse(const QStringList &args);
    static QString usage();
    // "highest-bitrate" ... "most-complete-tags"; -1 when unknown.
    static int keeperPolicyFromName(const QString &name);
    static QString keeperPolicyName(int policy);
    // From "csv", "html", "json", "m3u8" (any case); -1 when unknown.
    static int formatFromName(const QString &name);
};

} // namespace rvw
