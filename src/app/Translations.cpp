#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace rvw::Translations {

namespace {

QPointer<QTranslator> g_own;
QPointer<QTranslator> g_qt;

// Loads the best match for `locale` of catalogue `name` from `folder` and installs it in place
// of the one held in `slot`. Returns the file's base name, empty when none matched.
QString installOne(QPointer<QTranslator> &slot, const QLocale &locale, const QString &name,
                   const QString &folder)
{
    if (slot) {
        QCoreApplication::removeTranslator(slot);
        delete slot;
    }
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, name, QStringLiteral("_"), folder)) {
        delete translator;
        return QString();
    }
    QCoreApplication::installTranslator(translator);
    slot = translator;
    const QString file = translator->filePath();
    return file.mid(file.lastIndexOf(QLatin1Char('/')) + 1).section(QLatin1Char('.'), 0, 0);
}

} // namespace

QStringList install(const QLocale &locale)
{
    QLocale::setDefault(locale);
    QStringList loaded;
    for (const QString &found :
         {installOne(g_qt, locale, QStringLiteral("qt"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)),
          installOne(g_own, locale, QStringLiteral("ravelwick"), QStringLiteral(":/i18n"))}) {
        if (!found.isEmpty())
            loaded << found;
    }
    return loaded;
}

} // namespace rvw::Translations
