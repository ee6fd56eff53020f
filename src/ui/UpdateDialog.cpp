#include "ui/UpdateDialog.h"

#include "app/AppInfo.h"

#include <QLocale>
#include <QDate>
#include <QDesktopServices>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace rvw {

namespace {

// The addresses come from a network reply. Only web pages are opened: a "file:" address or one
// of a registered custom scheme would make the desktop start a local program.
bool isWebAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) &&
           !url.host().isEmpty();
}

} // namespace

QString UpdateDialog::displayDate(const QString &isoDate)
{
    // Exactly yyyy-MM-dd: the ISO parser would also take other separators or a trailing time.
    const QDate date = QDate::fromString(isoDate, QStringLiteral("yyyy-MM-dd"));
    // The month name follows the program's own language, as the rest of the text does.
    return date.isValid() ? QLocale().toString(date, QLocale::LongFormat) : isoDate;
}

UpdateDialog::UpdateDialog(const UpdateChecker::Release &release, QWidget *parent)
    : QDialog(parent), m_release(release)
{
    const bool critical = release.critical;
    setWindowTitle(critical ? tr("Important update") : tr("Update available"));
    setMinimumSize(520, 360);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);

    auto *heading =
        new QLabel(critical ? tr("Important update")
                            : tr("%1 %2 is available").arg(AppInfo::applicationName(), release.version),
                   this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setTextFormat(Qt::PlainText); // the version text comes from the server
    QFont headingFont = font();
    headingFont.setPointSizeF(headingFont.pointSizeF() + 3);
    headingFont.setWeight(QFont::Bold);
    heading->setFont(headingFont);
    layout->addWidget(heading);

    QStringList sentences;
    if (critical)
        sentences << tr("%1 %2 is available.").arg(AppInfo::applicationName(), release.version);
    sentences << tr("You are running version %1.").arg(AppInfo::versionString());
    if (!release.releaseDate.isEmpty())
        sentences << tr("Released %1.").arg(displayDate(release.releaseDate));
    auto *summary = new QLabel(sentences.join(QLatin1Char(' ')), this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setWordWrap(true);
    summary->setTextFormat(Qt::PlainText);
    layout->addWidget(summary);

    if (!release.notes.isEmpty()) {
        layout->addWidget(new QLabel(tr("What's new:"), this));
        auto *notes = new QPlainTextEdit(release.notes, this);
        notes->setObjectName(QStringLiteral("notes"));
        notes->setReadOnly(true);
        layout->addWidget(notes, 1);
    } else {
        layout->addStretch(1);
    }

    if (isWebAddress(release.notesUrl)) {
        auto *link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                    .arg(release.notesUrl.toHtmlEscaped(), tr("Full release notes")),
                                this);
        link->setObjectName(QStringLiteral("notesLink"));
        link->setTextFormat(Qt::RichText);
        link->setOpenExternalLinks(true);
        link->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                      Qt::LinksAccessibleByKeyboard);
        layout->addWidget(link);
    }

    auto *row = new QHBoxLayout;
    if (!critical) {
        auto *skip = new QPushButton(tr("&Skip This Version"), this);
        skip->setObjectName(QStringLiteral("skipButton"));
        connect(skip, &QPushButton::clicked, this, [this] {
            UpdateChecker::setSkippedVersion(m_release.version);
            reject();
        });
        row->addWidget(skip);
    } else {
        UpdateChecker::setSkippedVersion(QString());
    }
    row->addStretch(1);
    auto *later = new QPushButton(tr("Remind me &later"), this);
    later->setObjectName(QStringLiteral("laterButton"));
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(later);
    auto *download = new QPushButton(tr("&Download..."), this);
    download->setObjectName(QStringLiteral("downloadButton"));
    download->setDefault(true);
    download->setEnabled(isWebAddress(release.downloadUrl));
    connect(download, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl(m_release.downloadUrl));
        accept();
    });
    row->addWidget(download);
    layout->addLayout(row);
}

} // namespace rvw
