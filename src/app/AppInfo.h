#pragma once

#include <QString>

namespace rvw {

// The single place that holds the product's identity strings.
class AppInfo
{
public:
    static QString applicationName();
    static QString productSlug();
    static QString versionString();
    static QString buildDate();
    static QString organisation();
    static QString organisationDomain();
    static QString copyrightLine();
    static QString descriptionLine();
    static QString websiteUrl();
    static QString authorUrl();
    static QString defaultUpdateEndpoint();
    // The update service's name for this system, so it never offers another system's build.
    static QString platformKey();
    static QString architectureKey();
    static QString userAgent();
};

} // namespace rvw
