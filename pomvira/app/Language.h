// SPDX-License-Identifier: GPL-3.0-or-later
// The language of the program's texts. The texts are written in French in
// the code, which is what French locales and the bare C/POSIX locale show;
// every other language reads a catalogue (pomvira_<language>.qm) compiled
// from translations/pomvira_<language>.ts, and a language without one reads
// the English catalogue.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>

class QCoreApplication;

// The languages the user asked for, most wanted first: the entries of
// LANGUAGE (a colon-separated list), then the locale of messages (the first
// of LC_ALL, LC_MESSAGES and LANG that is set), as written there
// ("fr_FR.UTF-8", "en", "C"). `env` reads one environment variable.
QStringList UserLanguages(const std::function<QString(const char* name)>& env);

// The catalogue for the wanted languages among the available ones (their
// language codes, "en", "pt_BR"): the first wanted language with a
// catalogue, tried with its country and then without. An empty result means
// the program's own French texts: a French or C/POSIX entry met before any
// language with a catalogue, or no language asked for at all. Wanted
// languages that have none are passed over; when none has one, English.
QString ChooseCatalogue(const QStringList& wanted, const QStringList& available);

// The language codes of the catalogues in a folder (pomvira_*.qm).
QStringList AvailableCatalogues(const QString& folder);

// Where the catalogues are looked for: "translations" beside the executable
// (the build tree), then the installed data folder seen from it.
QStringList CatalogueFolders();

// The locale numbers are written in (spin boxes, values) for texts in the
// catalogue's language (empty: the program's own French): the system's
// locale where it speaks that language or is the bare C locale, otherwise
// the language's own, so that English texts under a German locale write
// "440.000", not "440,000".
QLocale NumberLocale(const QLocale& system, const QString& catalogue);

// Loads the catalogue for the user's languages (from the process
// environment) into the application, with Qt's own texts (standard buttons,
// file dialogs) in the same language where Qt has them, and numbers written
// as that language writes them (NumberLocale). A language loaded
// before is taken out first, so that it can be called again. Returns the
// catalogue's language code, empty for the program's own French texts.
QString InstallLanguage(QCoreApplication* app, const QStringList& folders = CatalogueFolders());
