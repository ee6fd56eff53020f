#pragma once

#include <QMainWindow>
#include <QStringList>

class QListWidget;
class QLabel;

namespace rvw {

// Temporary window: holds the scan list and the entry points the start-up calls.
// It is replaced by the full main window.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    void addScanFolder(const QString &folder);
    void startScan();
    QStringList scanFolders() const { return m_folders; }
    int scanRequests() const { return m_scanRequests; }

private:
    QStringList m_folders;
    int m_scanRequests = 0;
    QListWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
};

} // namespace rvw
