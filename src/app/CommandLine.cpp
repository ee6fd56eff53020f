#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace rvw {

namespace {
const QString kScanOption = QStringLiteral("scan");
const QString kAutostartOption = QStringLiteral("autostart");
} // namespace

void CommandLine::configure(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Ravelwick - find duplicate music in a station library."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption({QStringLiteral("s"), kScanOption},
                                        QCoreApplication::translate("main", "Add <folder> to the scan list on startup."),
                                        QCoreApplication::translate("main", "folder")));
    parser.addOption(QCommandLineOption({QStringLiteral("a"), kAutostartOption},
                                        QCoreApplication::translate("main", "Begin scanning immediately.")));
    // What a file manager or the desktop entry hands over (Exec=ravelwick %F).
    parser.addPositionalArgument(QStringLiteral("folders"),
                                 QCoreApplication::translate("main", "Folders to add to the scan list."),
                                 QCoreApplication::translate("main", "[folder...]"));
}

StartupRequest CommandLine::request(const QCommandLineParser &parser)
{
    StartupRequest r;
    r.scanFolders = parser.values(kScanOption) + parser.positionalArguments();
    r.autostart = parser.isSet(kAutostartOption);
    return r;
}

} // namespace rvw
