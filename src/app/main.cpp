#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "app/Platform.h"
#include "app/Translations.h"
#include "core/Types.h"
#include "scan/ScanController.h"
#include "ui/MainWindow.h"
#include "ui/WaveformLoader.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QStandardPaths>

namespace {

void setIdentity()
{
    QCoreApplication::setApplicationName(rvw::AppInfo::applicationName());
    QCoreApplication::setApplicationVersion(rvw::AppInfo::versionString());
    QCoreApplication::setOrganizationName(rvw::AppInfo::organisation());
    QCoreApplication::setOrganizationDomain(rvw::AppInfo::organisationDomain());
}

// Help and version need no window system, so they also work on a server without a display.
bool asksOnlyForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-?" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication textOnly(argc, argv);
        setIdentity();
        rvw::Translations::install(QLocale::system());
        QCommandLineParser parser;
        rvw::CommandLine::configure(parser);
        parser.process(textOnly); // prints and exits
        return 0;
    }

    // Before any multimedia object exists.
    rvw::Platform::applyDecoderRanking();

    QApplication app(argc, argv);
    setIdentity();
    rvw::Translations::install(QLocale::system());
    // Lets the desktop match the window to its entry (icon, name) on Wayland and in docks.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrilon.Ravelwick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));

    rvw::ScanController::registerMetaTypes();
    qRegisterMetaType<rvw::Envelope>("rvw::Envelope");

    QCommandLineParser parser;
    rvw::CommandLine::configure(parser);
    parser.process(app);
    const rvw::StartupRequest request = rvw::CommandLine::request(parser);

    QFile style(QStringLiteral(":/style/app.qss"));
    if (style.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString sheet = QString::fromUtf8(style.readAll());
        // The sheet is stored with a byte-order mark, which is not part of its text.
        if (sheet.startsWith(QChar(0xFEFF)))
            sheet.remove(0, 1);
        app.setStyleSheet(sheet);
    }

    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));

    rvw::MainWindow window;
    for (const QString &folder : request.scanFolders)
        window.addScanFolder(folder);
    window.show();
    if (request.autostart)
        window.startScan();

    return app.exec();
}
