#include "ui/MainWindow.h"

#include "app/AppInfo.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace rvw {

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(AppInfo::applicationName());
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    m_list = new QListWidget(central);
    m_status = new QLabel(tr("Ready"), central);
    layout->addWidget(m_list);
    layout->addWidget(m_status);
    setCentralWidget(central);
    resize(900, 600);
}

void MainWindow::addScanFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folder.trimmed()));
    if (clean.isEmpty() || m_folders.contains(clean))
        return;
    m_folders.append(clean);
    m_list->addItem(QDir::toNativeSeparators(clean));
}

void MainWindow::startScan()
{
    ++m_scanRequests;
    m_status->setText(tr("Scanning %n folder(s)...", nullptr, int(m_folders.size())));
}

} // namespace rvw
