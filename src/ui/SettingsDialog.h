#pragma once

#include "core/Types.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace rvw {

// Edits a copy of the scan options in four tabs. The update preferences are not scan
// options: options() writes them to the settings store itself.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(const ScanOptions &options, QWidget *parent = nullptr);

    // The edited options; also stores "updates/checkOnStartup" and "updates/url".
    ScanOptions options() const;

    // The text parsing of the "Files" tab, shared with the tests.
    static QStringList parseExtensions(const QString &text);
    static QStringList parseExcludes(const QString &text);

signals:
    void clearCacheRequested();

private:
    QWidget *buildDetectionTab();
    QWidget *buildFilesTab();
    QWidget *buildPerformanceTab();
    QWidget *buildUpdatesTab();

    ScanOptions m_options;
    QCheckBox *m_identical = nullptr;
    QCheckBox *m_sameAudio = nullptr;
    QCheckBox *m_acoustic = nullptr;
    QCheckBox *m_metadata = nullptr;
    QDoubleSpinBox *m_threshold = nullptr;
    QDoubleSpinBox *m_chromaprintThreshold = nullptr;
    QSpinBox *m_durationTolerance = nullptr;
    QSpinBox *m_metadataTolerance = nullptr;
    QComboBox *m_keeperPolicy = nullptr;
    QLineEdit *m_extensions = nullptr;
    QLineEdit *m_excludes = nullptr;
    QSpinBox *m_minKb = nullptr;
    QSpinBox *m_minSeconds = nullptr;
    QCheckBox *m_hidden = nullptr;
    QCheckBox *m_symlinks = nullptr;
    QSpinBox *m_threads = nullptr;
    QSpinBox *m_fingerprintSeconds = nullptr;
    QCheckBox *m_useCache = nullptr;
    QLabel *m_cacheStatus = nullptr;
    QPushButton *m_clearCache = nullptr;
    QCheckBox *m_checkOnStartup = nullptr;
    QLineEdit *m_updateUrl = nullptr;
};

} // namespace rvw
