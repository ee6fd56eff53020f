#include "ui/SettingsDialog.h"

#include "app/AppInfo.h"
#include "audio/Chromaprint.h"
#include "scan/CacheDatabase.h"
#include "ui/SettingsKeys.h"
#include "update/UpdateChecker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace rvw {

namespace {

QCheckBox *checkBox(const QString &text, const QString &name, bool checked, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

QSpinBox *spinBox(int min, int max, int value, const QString &suffix, const QString &name, QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setSuffix(suffix);
    spin->setValue(value);
    return spin;
}

// Spin boxes hold int; a stored value beyond their range is clamped by the box itself.
int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max()));
}

QString cacheStatusText()
{
    CacheDatabase cache;
    if (!cache.open())
        return SettingsDialog::tr("Cache unavailable.");
    return SettingsDialog::tr("%Ln file(s) cached, using %1.", nullptr, cache.rowCount())
        .arg(QLocale().formattedDataSize(cache.fileSizeBytes(), 2, QLocale::DataSizeIecFormat));
}

} // namespace

SettingsDialog::SettingsDialog(const ScanOptions &options, QWidget *parent)
    : QDialog(parent), m_options(options)
{
    setWindowTitle(tr("%1 Settings").arg(AppInfo::applicationName()));
    setMinimumWidth(560);

    auto *layout = new QVBoxLayout(this);
    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("settingsTabs"));
    tabs->addTab(buildDetectionTab(), tr("&Detection"));
    tabs->addTab(buildFilesTab(), tr("&Files"));
    tabs->addTab(buildPerformanceTab(), tr("&Performance"));
    tabs->addTab(buildUpdatesTab(), tr("&Updates"));
    layout->addWidget(tabs);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QWidget *SettingsDialog::buildDetectionTab()
{
    auto *tab = new QWidget;
    auto *layout = new QVBoxLayout(tab);

    auto *methods = new QGroupBox(tr("Detection methods"), tab);
    auto *methodsLayout = new QVBoxLayout(methods);
    m_identical = checkBox(tr("&Identical files (SHA-256 of the whole file)"),
                           QStringLiteral("detectIdentical"), m_options.detectIdentical, methods);
    m_identical->setToolTip(tr("Fastest and completely certain. Catches straight copies."));
    m_sameAudio = checkBox(tr("Same audio, different &tags"), QStringLiteral("detectSameAudio"),
                           m_options.detectSameAudio, methods);
    m_sameAudio->setToolTip(tr("Hashes only the audio payload, ignoring ID3 tags and artwork, so a retagged "
                               "copy is still recognised."));
    m_acoustic = checkBox(tr("Acoustic fingerprint (same &recording, re-encoded)"),
                          QStringLiteral("detectAcoustic"), m_options.detectAcoustic, methods);
    m_acoustic->setToolTip(
        tr("Decodes and fingerprints each file locally. Slower on the first pass, but catches "
           "the same track ripped at a different bitrate. No online service is used."));
    m_metadata = checkBox(tr("&Matching artist, title and duration"), QStringLiteral("detectMetadata"),
                          m_options.detectMetadata, methods);
    m_metadata->setToolTip(
        tr("Broadest and least certain. Will flag legitimately different versions, so always "
           "review these groups."));
    for (QCheckBox *box : {m_identical, m_sameAudio, m_acoustic, m_metadata})
        methodsLayout->addWidget(box);
    layout->addWidget(methods);

    auto *sensitivity = new QGroupBox(tr("Sensitivity"), tab);
    auto *form = new QFormLayout(sensitivity);
    m_threshold = new QDoubleSpinBox(sensitivity);
    m_threshold->setObjectName(QStringLiteral("threshold"));
    m_threshold->setRange(0.02, 0.40);
    m_threshold->setSingleStep(0.01);
    m_threshold->setDecimals(2);
    m_threshold->setValue(m_options.threshold);
    m_threshold->setToolTip(
        tr("Maximum fingerprint bit-error-rate accepted as a match. Lower is stricter. The "
           "default of 0.25 was chosen to catch the same\ntrack re-encoded across formats "
           "while leaving clear margin\nagainst unrelated music."));
    form->addRow(tr("Acoustic match threshold:"), m_threshold);
    m_chromaprintThreshold = new QDoubleSpinBox(sensitivity);
    m_chromaprintThreshold->setObjectName(QStringLiteral("chromaprintThreshold"));
    m_chromaprintThreshold->setRange(0.02, 0.40);
    m_chromaprintThreshold->setSingleStep(0.01);
    m_chromaprintThreshold->setDecimals(2);
    m_chromaprintThreshold->setValue(m_options.chromaprintThreshold);
    m_chromaprintThreshold->setToolTip(
        tr("Maximum share of differing bits between two Chromaprint fingerprints accepted as a "
           "match. Lower is stricter."));
    form->addRow(tr("Acoustic match threshold:"), m_chromaprintThreshold);
    // Each engine compares against its own threshold; offering the other one would be a setting
    // that changes nothing.
    const bool fpcalcInUse = m_options.engine == 1 && Chromaprint::available();
    form->setRowVisible(m_threshold, !fpcalcInUse);
    form->setRowVisible(m_chromaprintThreshold, fpcalcInUse);
    m_durationTolerance = spinBox(1, 25, m_options.durationTolerance, QStringLiteral(" %"),
                                  QStringLiteral("durationTolerance"), sensitivity);
    form->addRow(tr("Duration tolerance (acoustic):"), m_durationTolerance);
    m_metadataTolerance = spinBox(0, 30, m_options.metadataTolerance / 1000, QStringLiteral(" s"),
                                  QStringLiteral("metadataTolerance"), sensitivity);
    form->addRow(tr("Duration tolerance (metadata):"), m_metadataTolerance);
    m_keeperPolicy = new QComboBox(sensitivity);
    m_keeperPolicy->setObjectName(QStringLiteral("keeperPolicy"));
    const QStringList policies{tr("Highest bitrate"),  tr("Longest duration"),  tr("Largest file"),
                               tr("Preferred format"), tr("Shallowest folder"), tr("Oldest file"),
                               tr("Newest file"),      tr("Most complete tags")};
    for (int i = 0; i < policies.size(); ++i)
        m_keeperPolicy->addItem(policies.at(i), i);
    m_keeperPolicy->setCurrentIndex(m_keeperPolicy->findData(m_options.keeperPolicy));
    form->addRow(tr("Copy to keep:"), m_keeperPolicy);
    layout->addWidget(sensitivity);
    layout->addStretch(1);
    return tab;
}

QWidget *SettingsDialog::buildFilesTab()
{
    auto *tab = new QWidget;
    auto *form = new QFormLayout(tab);
    m_extensions = new QLineEdit(m_options.extensions.join(QStringLiteral(", ")), tab);
    m_extensions->setObjectName(QStringLiteral("extensions"));
    m_extensions->setToolTip(tr("Comma separated file extensions, without the dot."));
    form->addRow(tr("Include extensions:"), m_extensions);
    m_excludes = new QLineEdit(m_options.excludes.join(QStringLiteral("; ")), tab);
    m_excludes->setObjectName(QStringLiteral("excludes"));
    m_excludes->setToolTip(tr("Semicolon separated wildcard patterns to skip."));
    form->addRow(tr("Exclude paths:"), m_excludes);
    m_minKb = spinBox(0, 1048576, clampToInt(m_options.minBytes / 1024), QStringLiteral(" KB"),
                      QStringLiteral("minKb"), tab);
    form->addRow(tr("Ignore files smaller than:"), m_minKb);
    m_minSeconds = spinBox(0, 600, clampToInt(m_options.minDurationMs / 1000), QStringLiteral(" s"),
                           QStringLiteral("minSeconds"), tab);
    m_minSeconds->setToolTip(
        tr("Station idents, stings and beds are short and repetitive; excluding them keeps "
           "the results readable."));
    form->addRow(tr("Ignore audio shorter than:"), m_minSeconds);
    m_hidden = checkBox(tr("Include &hidden files and folders"), QStringLiteral("includeHidden"),
                        m_options.includeHidden, tab);
    form->addRow(m_hidden);
    m_symlinks = checkBox(tr("Follow symbolic &links and junctions"), QStringLiteral("followSymlinks"),
                          m_options.followSymlinks, tab);
    form->addRow(m_symlinks);
    return tab;
}

QWidget *SettingsDialog::buildPerformanceTab()
{
    auto *tab = new QWidget;
    auto *form = new QFormLayout(tab);
    const QString engineText =
        Chromaprint::available()
            ? tr("Chromaprint fpcalc \u2014 fast path active.\n%1").arg(Chromaprint::fpcalcPath())
            : tr("Built-in analysis (fallback). Install Chromaprint's fpcalc, or place it next to the "
                 "application, for several times faster and more accurate fingerprinting.");
    auto *engine = new QLabel(engineText, tab);
    engine->setObjectName(QStringLiteral("engineLabel"));
    engine->setWordWrap(true);
    form->addRow(tr("Fingerprint engine:"), engine);
    m_threads = spinBox(1, 16, m_options.decoderThreads, QString(), QStringLiteral("decoderThreads"), tab);
    m_threads->setToolTip(tr("Parallel fingerprinting workers. This machine reports %1 cores.")
                              .arg(QThread::idealThreadCount()));
    form->addRow(tr("Worker threads:"), m_threads);
    m_fingerprintSeconds = spinBox(20, 600, m_options.fingerprintSeconds, QStringLiteral(" s"),
                                   QStringLiteral("fingerprintSeconds"), tab);
    m_fingerprintSeconds->setToolTip(
        tr("How much of each file to analyse. Two minutes is ample for songs; raise "
           "it for long-form programmes."));
    form->addRow(tr("Audio analysed per file:"), m_fingerprintSeconds);
    m_useCache = checkBox(tr("R&emember analysis results between scans"), QStringLiteral("useCache"),
                          m_options.useCache, tab);
    form->addRow(m_useCache);
    m_cacheStatus = new QLabel(cacheStatusText(), tab);
    m_cacheStatus->setObjectName(QStringLiteral("cacheStatus"));
    m_cacheStatus->setWordWrap(true);
    form->addRow(tr("Cache status:"), m_cacheStatus);
    m_clearCache = new QPushButton(tr("C&lear cache"), tab);
    m_clearCache->setObjectName(QStringLiteral("clearCache"));
    connect(m_clearCache, &QPushButton::clicked, this, [this] {
        emit clearCacheRequested();
        m_cacheStatus->setText(tr("Cache cleared. The next scan will re-analyse everything."));
        m_clearCache->setEnabled(false);
    });
    form->addRow(m_clearCache);
    return tab;
}

QWidget *SettingsDialog::buildUpdatesTab()
{
    auto *tab = new QWidget;
    auto *form = new QFormLayout(tab);
    const QSettings settings;
    m_checkOnStartup = checkBox(tr("Check for updates when %1 &starts").arg(AppInfo::applicationName()),
                                QStringLiteral("checkOnStartup"),
                                settings.value(SettingsKeys::checkOnStartup, true).toBool(), tab);
    form->addRow(m_checkOnStartup);
    m_updateUrl = new QLineEdit(
        settings.value(SettingsKeys::updateUrl, AppInfo::defaultUpdateEndpoint()).toString(), tab);
    m_updateUrl->setObjectName(QStringLiteral("updateUrl"));
    m_updateUrl->setToolTip(
        tr("Shared Tessaline suite update service.\nAutomatic checks run at most once every 20 hours."));
    form->addRow(tr("Update service:"), m_updateUrl);
    auto *lastChecked = new QLabel(tr("Last checked: %1").arg(UpdateChecker::lastCheckedText()), tab);
    lastChecked->setObjectName(QStringLiteral("lastChecked"));
    form->addRow(lastChecked);
    const QString skipped = UpdateChecker::skippedVersion();
    if (!skipped.isEmpty()) {
        auto *unskip = new QPushButton(tr("Stop skipping &version %1").arg(skipped), tab);
        unskip->setObjectName(QStringLiteral("stopSkipping"));
        connect(unskip, &QPushButton::clicked, unskip, [unskip] {
            UpdateChecker::setSkippedVersion(QString());
            unskip->setEnabled(false);
        });
        form->addRow(unskip);
    }
    return tab;
}

QStringList SettingsDialog::parseExtensions(const QString &text)
{
    QStringList result;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString ext = part.trimmed().toLower().remove(QLatin1Char('.'));
        if (!ext.isEmpty())
            result.append(ext);
    }
    return result;
}

QStringList SettingsDialog::parseExcludes(const QString &text)
{
    QStringList result;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (!pattern.isEmpty())
            result.append(pattern);
    }
    return result;
}

ScanOptions SettingsDialog::options() const
{
    ScanOptions o = m_options;
    o.detectIdentical = m_identical->isChecked();
    o.detectSameAudio = m_sameAudio->isChecked();
    o.detectAcoustic = m_acoustic->isChecked();
    o.detectMetadata = m_metadata->isChecked();
    o.threshold = m_threshold->value();
    o.chromaprintThreshold = m_chromaprintThreshold->value();
    o.durationTolerance = m_durationTolerance->value();
    o.metadataTolerance = m_metadataTolerance->value() * 1000;
    o.keeperPolicy = m_keeperPolicy->currentData().toInt();
    o.extensions = parseExtensions(m_extensions->text());
    o.excludes = parseExcludes(m_excludes->text());
    o.minBytes = qint64(m_minKb->value()) * 1024;
    o.minDurationMs = qint64(m_minSeconds->value()) * 1000;
    o.includeHidden = m_hidden->isChecked();
    o.followSymlinks = m_symlinks->isChecked();
    o.decoderThreads = m_threads->value();
    o.fingerprintSeconds = m_fingerprintSeconds->value();
    o.useCache = m_useCache->isChecked();

    QSettings settings;
    settings.setValue(SettingsKeys::checkOnStartup, m_checkOnStartup->isChecked());
    settings.setValue(SettingsKeys::updateUrl, m_updateUrl->text().trimmed());
    return o;
}

} // namespace rvw
