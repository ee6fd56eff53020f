#include "app/AppInfo.h"

#include <QSysInfo>

namespace rvw {

QString AppInfo::applicationName()
{
    return QStringLiteral("Ravelwick");
}
QString AppInfo::productSlug()
{
    return QStringLiteral("ravelwick");
}
QString AppInfo::versionString()
{
    return QStringLiteral("1.0.0");
}
QString AppInfo::buildDate()
{
    return QStringLiteral("2026-07-26");
}
QString AppInfo::organisation()
{
    return QStringLiteral("Kestrilon");
}
QString AppInfo::organisationDomain()
{
    return QStringLiteral("kestrilon.com");
}

QString AppInfo::copyrightLine()
{
    return QStringLiteral("Copyright \u00A9 2026 Kestrilon Software Ltd. All rights reserved.");
}

QString AppInfo::descriptionLine()
{
    return QStringLiteral("Duplicate music detection and library clean-up, part of the\nTessaline suite.");
}

QString AppInfo::websiteUrl()
{
    return QStringLiteral("https://www.kestrilon.com/ravelwick/");
}
QString AppInfo::authorUrl()
{
    return QStringLiteral("https://www.kestrilon.com/about/");
}
QString AppInfo::defaultUpdateEndpoint()
{
    return QStringLiteral("https://www.kestrilon.com/api/latest.json");
}

QString AppInfo::platformKey()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("windows");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("macos");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("linux");
#else
    const QString kernel = QSysInfo::kernelType().toLower();
    return kernel.isEmpty() ? QStringLiteral("unknown") : kernel;
#endif
}

QString AppInfo::architectureKey()
{
    return QSysInfo::currentCpuArchitecture();
}

QString AppInfo::userAgent()
{
    return QStringLiteral("%1/%2").arg(applicationName(), versionString());
}

} // namespace rvw
