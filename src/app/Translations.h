#pragma once

#include <QLocale>
#include <QStringList>

namespace rvw {

// Texts in the user's language: the program's own catalogue (compiled in) and Qt's for its
// standard dialogs and buttons (from the Qt installation). The command line program speaks
// English whatever the locale, so scripts can read what it prints; it installs English.
namespace Translations {

// Installs the catalogues that best match `locale` into the running application, replacing
// any installed before, and makes `locale` the default for numbers, dates and sizes. Returns
// the names of the catalogues it found ("ravelwick_de", "qt_de"); English has a catalogue of
// its own for its plural forms.
QStringList install(const QLocale &locale);

} // namespace Translations
} // namespace rvw
