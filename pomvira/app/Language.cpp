// SPDX-License-Identifier: GPL-3.0-or-later
#include "Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>
#include <memory>

namespace {

// The program's own language, the one its texts are written in.
const QString kOwnLanguage = QStringLiteral("fr");
// The language of those who have no catalogue of their own.
const QString kFallback = QStringLiteral("en");
const QString kCataloguePrefix = QStringLiteral("pomvira_");

// "fr_FR.UTF-8@euro" -> "fr_FR"; "C.UTF-8" -> "C".
QString LocaleName(const QString& entry) {
    QString name = entry.trimmed();
    const qsizetype cut = name.indexOf(QRegularExpression(QStringLiteral("[.@]")));
    if (cut >= 0)
        name.truncate(cut);
    return name.replace(QLatin1Char('-'), QLatin1Char('_'));
}

bool IsOwnLanguage(const QString& name) {
    return name == QLatin1String("C") || name == QLatin1String("POSIX") ||
           name.section(QLatin1Char('_'), 0, 0).compare(kOwnLanguage, Qt::CaseInsensitive) == 0;
}

}  // namespace

QStringList UserLanguages(const std::function<QString(const char* name)>& env) {
    QStringList languages;
    for (const QString& entry : env("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (!entry.trimmed().isEmpty())
            languages << entry.trimmed();
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = env(name).trimmed();
        if (!value.isEmpty()) {
            languages << value;
            break;
        }
    }
    return languages;
}

QString ChooseCatalogue(const QStringList& wanted, const QStringList& available) {
    for (const QString& entry : wanted) {
        const QString name = LocaleName(entry);
        if (name.isEmpty())
            continue;
        if (IsOwnLanguage(name))
            return QString();
        const QString language = name.section(QLatin1Char('_'), 0, 0);
        for (const QString& candidate : {name, language}) {
            for (const QString& code : available) {
                if (code.compare(candidate, Qt::CaseInsensitive) == 0)
                    return code;
            }
        }
    }
    if (wanted.isEmpty() || !available.contains(kFallback))
        return QString();
    return kFallback;
}

QStringList AvailableCatalogues(const QString& folder) {
    QStringList codes;
    const QStringList files =
        QDir(folder).entryList({kCataloguePrefix + QStringLiteral("*.qm")}, QDir::Files);
    for (const QString& file : files)
        codes << file.mid(kCataloguePrefix.size()).chopped(3);
    return codes;
}

QStringList CatalogueFolders() {
    const QString here = QCoreApplication::applicationDirPath();
    return {
        here + QStringLiteral("/translations"),
        QDir::cleanPath(here + QLatin1Char('/') + QStringLiteral(POMVIRA_INSTALLED_TRANSLATIONS))};
}

QLocale NumberLocale(const QLocale& system, const QString& catalogue) {
    const QLocale texts(catalogue.isEmpty() ? kOwnLanguage : catalogue);
    if (system.language() == QLocale::C || system.language() == texts.language())
        return system;
    return texts;
}

QString InstallLanguage(QCoreApplication* app, const QStringList& folders) {
    static std::unique_ptr<QTranslator> program;
    static std::unique_ptr<QTranslator> toolkit;
    for (auto* loaded : {&program, &toolkit}) {
        if (*loaded) {
            app->removeTranslator(loaded->get());
            loaded->reset();
        }
    }
    const QStringList wanted =
        UserLanguages([](const char* name) { return qEnvironmentVariable(name); });
    QString folder;
    QStringList available;
    for (const QString& candidate : folders) {
        available = AvailableCatalogues(candidate);
        if (!available.isEmpty()) {
            folder = candidate;
            break;
        }
    }
    const QString code = ChooseCatalogue(wanted, available);
    if (!code.isEmpty()) {
        program = std::make_unique<QTranslator>();
        if (program->load(kCataloguePrefix + code, folder))
            app->installTranslator(program.get());
        else
            program.reset();
    }
    // Qt's own texts (standard buttons, the folder browser) in the same language.
    toolkit = std::make_unique<QTranslator>();
    if (toolkit->load(QStringLiteral("qtbase_") + (code.isEmpty() ? kOwnLanguage : code),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app->installTranslator(toolkit.get());
    else
        toolkit.reset();
    const QString loaded = program ? code : QString();
    QLocale::setDefault(NumberLocale(QLocale::system(), loaded));
    return loaded;
}
