#include "ui/AboutDialog.h"

#include "app/AppInfo.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace rvw {

namespace {

QLabel *centredLabel(const QString &text, const QString &name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

QPixmap AboutDialog::scaledLogo(const QString &resource, qreal devicePixelRatio, int width)
{
    QPixmap logo(resource);
    if (logo.isNull())
        return logo;
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap scaled = logo.scaledToWidth(qRound(width * ratio), Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("About %1").arg(AppInfo::applicationName()));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setMinimumWidth(505);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(0);

    auto *logo = centredLabel(QString(), QStringLiteral("logo"), this);
    const QPixmap pixmap = scaledLogo(QStringLiteral(":/icons/logo.png"), devicePixelRatioF());
    if (!pixmap.isNull()) {
        logo->setPixmap(pixmap);
    } else {
        logo->setText(AppInfo::applicationName());
        QFont font = logo->font();
        font.setPointSizeF(font.pointSizeF() + 12);
        font.setWeight(QFont::Bold);
        logo->setFont(font);
    }
    layout->addWidget(logo);
    layout->addSpacing(14);

    auto *version =
        centredLabel(tr("Version %1").arg(AppInfo::versionString()), QStringLiteral("version"), this);
    QFont bold = version->font();
    bold.setWeight(QFont::Bold);
    version->setFont(bold);
    layout->addWidget(version);
    layout->addSpacing(4);

    auto *description = centredLabel(AppInfo::descriptionLine(), QStringLiteral("description"), this);
    description->setWordWrap(true);
    layout->addWidget(description);
    layout->addSpacing(16);

    layout->addWidget(centredLabel(AppInfo::copyrightLine(), QStringLiteral("copyright"), this));
    layout->addSpacing(16);

    auto *links = centredLabel(QStringLiteral("<div style='text-align:center'><a href=\"%1\">%1</a><br>"
                                              "<a href=\"%2\">%2</a></div>")
                                   .arg(AppInfo::authorUrl(), AppInfo::websiteUrl()),
                               QStringLiteral("links"), this);
    links->setTextFormat(Qt::RichText);
    links->setOpenExternalLinks(true);
    links->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                   Qt::LinksAccessibleByKeyboard);
    layout->addWidget(links);

    layout->addStretch(1);
    layout->addSpacing(12);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    auto *ok = new QPushButton(tr("&OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumWidth(96);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    row->addWidget(ok);
    layout->addLayout(row);

    resize(505, 340);
}

} // namespace rvw
