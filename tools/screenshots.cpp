// Renders the main window with the results of a scan, the settings dialog and the comparison
// player into PNG files for the documentation. Runs without a display (offscreen) and keeps its
// settings, cache and quarantine in the test locations, away from the user's own.
//
//   QT_QPA_PLATFORM=offscreen ravelwick_screenshots <music folder> <output folder>
#include "app/AppInfo.h"
#include "app/Platform.h"
#include "core/Types.h"
#include "scan/ScanController.h"
#include "ui/ComparePlayer.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/WaveformLoader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>
#include <QTreeView>

namespace {

constexpr int kScanLimitMs = 180000;

bool save(QWidget *widget, const QString &path)
{
    const bool ok = widget->grab().save(path, "PNG");
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << Qt::endl;
    return ok;
}

// Lets the event loop run for `ms`, so queued results and waveforms arrive.
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    rvw::Platform::applyDecoderRanking();
    QApplication app(argc, argv);
    if (argc < 3) {
        QTextStream(stderr) << "usage: ravelwick_screenshots <music folder> <output folder>" << Qt::endl;
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(rvw::AppInfo::applicationName());
    QCoreApplication::setApplicationVersion(rvw::AppInfo::versionString());
    QCoreApplication::setOrganizationName(rvw::AppInfo::organisation());
    rvw::ScanController::registerMetaTypes();
    QFile style(QStringLiteral(":/style/app.qss"));
    if (style.open(QIODevice::ReadOnly | QIODevice::Text))
        app.setStyleSheet(QString::fromUtf8(style.readAll()).remove(QChar(0xFEFF)));

    const QString library = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.absolutePath());
    {
        QSettings settings;
        settings.clear();
        settings.setValue(QStringLiteral("updates/checkOnStartup"), false);
        settings.setValue(QStringLiteral("safety/quarantineRoot"),
                          QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                              .filePath(QStringLiteral("Ravelwick Quarantine")));
    }

    rvw::MainWindow window;
    window.addScanFolder(library);
    // Wide enough for the decks to show whole file names.
    window.resize(1480, 800);
    window.show();
    window.startScan();
    auto *status = window.findChild<QLabel *>(QStringLiteral("statusLabel"));
    QElapsedTimer timer;
    timer.start();
    while (!status->text().startsWith(QStringLiteral("Scan complete")) && timer.elapsed() < kScanLimitMs)
        settle(50);
    if (!status->text().startsWith(QStringLiteral("Scan complete"))) {
        QTextStream(stderr) << "the scan did not finish: " << status->text() << Qt::endl;
        return 1;
    }
    // Show the copy that was cut short against its keeper, as a librarian checking it would.
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("resultsTree"));
    const QModelIndexList cut =
        tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole, QStringLiteral("*cut short*"), 1,
                             Qt::MatchWildcard | Qt::MatchRecursive);
    if (!cut.isEmpty()) {
        tree->setCurrentIndex(cut.first());
        tree->scrollTo(cut.first());
    } else if (tree->model()->rowCount() > 0 && tree->model()->rowCount(tree->model()->index(0, 0)) > 1) {
        tree->setCurrentIndex(tree->model()->index(1, 0, tree->model()->index(0, 0)));
    }
    settle(3000); // waveforms of both decks

    if (qEnvironmentVariableIsSet("RVW_SHOW_LOG"))
        QTextStream(stderr) << window.findChild<QPlainTextEdit *>(QStringLiteral("logView"))->toPlainText() << Qt::endl;
    bool ok = save(&window, out.filePath(QStringLiteral("main-window.png")));
    ok = save(window.findChild<rvw::ComparePlayer *>(QStringLiteral("comparePlayer")),
              out.filePath(QStringLiteral("compareplayer.png"))) &&
         ok;

    rvw::SettingsDialog dialog{rvw::ScanOptions()};
    dialog.show();
    settle(200);
    ok = save(&dialog, out.filePath(QStringLiteral("settings-dialog.png"))) && ok;
    dialog.close();
    return ok ? 0 : 1;
}
