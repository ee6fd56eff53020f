#pragma once

#include <QStringList>

class QCommandLineParser;

namespace rvw {

// What the command line asks the program to do once its window is shown.
struct StartupRequest
{
    QStringList scanFolders; // in the order given
    bool autostart = false;
};

class CommandLine
{
public:
    // Adds help, version, "scan" and "autostart" to the parser and sets its description.
    static void configure(QCommandLineParser &parser);
    static StartupRequest request(const QCommandLineParser &parser);
};

} // namespace rvw
