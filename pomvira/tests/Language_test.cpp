// SPDX-License-Identifier: GPL-3.0-or-later
// How the program chooses the language of its texts from the environment,
// and the catalogues found and loaded for it.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

#include "app/Language.h"
#include "files/TextConv.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"

namespace {

QStringList Languages(const std::map<std::string, QString>& env) {
    return UserLanguages([&](const char* name) {
        const auto found = env.find(name);
        return found == env.end() ? QString() : found->second;
    });
}

const QStringList kBuilt{"en"};

}  // namespace

TEST(Language, TheWantedLanguagesComeFromLanguageThenTheFirstLocaleVariableSet) {
    EXPECT_EQ(Languages({}), QStringList());
    EXPECT_EQ(Languages({{"LANG", "fr_FR.UTF-8"}}), QStringList{"fr_FR.UTF-8"});
    // LC_ALL overrides LC_MESSAGES, which overrides LANG.
    EXPECT_EQ(Languages({{"LANG", "fr_FR.UTF-8"}, {"LC_MESSAGES", "de_DE"}, {"LC_ALL", "en_GB"}}),
              QStringList{"en_GB"});
    EXPECT_EQ(Languages({{"LANG", "fr_FR.UTF-8"}, {"LC_MESSAGES", "de_DE"}}), QStringList{"de_DE"});
    // LANGUAGE's list comes first, empty entries and blank values skipped.
    EXPECT_EQ(Languages({{"LANGUAGE", "de::en_US"}, {"LANG", "fr_FR.UTF-8"}, {"LC_ALL", " "}}),
              (QStringList{"de", "en_US", "fr_FR.UTF-8"}));
}

TEST(Language, FrenchAndTheBareLocaleKeepTheProgramsOwnTexts) {
    for (const QString& wanted :
         {QString(), QString("fr_FR.UTF-8"), QString("fr_CA"), QString("fr"), QString("C"),
          QString("C.UTF-8"), QString("POSIX"), QString("fr_BE.ISO-8859-15@euro")}) {
        const QStringList list = wanted.isEmpty() ? QStringList() : QStringList{wanted};
        EXPECT_EQ(ChooseCatalogue(list, kBuilt), QString()) << wanted.toStdString();
    }
}

TEST(Language, EnglishAndEveryLanguageWithoutACatalogueReadEnglish) {
    for (const char* wanted : {"en", "en_US.UTF-8", "en_GB", "de_DE.UTF-8", "ja_JP", "ko"})
        EXPECT_EQ(ChooseCatalogue({wanted}, kBuilt), "en") << wanted;
    // Without any catalogue built, the program's own texts are all there is.
    EXPECT_EQ(ChooseCatalogue({"de_DE"}, {}), QString());
}

TEST(Language, TheFirstWantedLanguageThatCanBeServedWins) {
    const QStringList built{"en", "de", "pt_BR"};
    // A language without a catalogue is passed over for the next one.
    EXPECT_EQ(ChooseCatalogue({"it", "fr_FR"}, built), QString());
    EXPECT_EQ(ChooseCatalogue({"it", "de_AT.UTF-8"}, built), "de");
    EXPECT_EQ(ChooseCatalogue({"de", "fr"}, built), "de");
    EXPECT_EQ(ChooseCatalogue({"fr", "de"}, built), QString());
    // A country's own catalogue before the language's; none of its own:
    // the language's, and otherwise English.
    EXPECT_EQ(ChooseCatalogue({"pt_BR.UTF-8"}, built), "pt_BR");
    EXPECT_EQ(ChooseCatalogue({"pt_PT"}, built), "en");
    EXPECT_EQ(ChooseCatalogue({"en", "de"}, built), "en");
}

TEST(Language, CataloguesAreFoundByTheirFileNames) {
    QTemporaryDir dir;
    for (const char* name : {"pomvira_en.qm", "pomvira_pt_BR.qm", "pomvira_de.ts", "qtbase_fr.qm"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    QStringList found = AvailableCatalogues(dir.path());
    found.sort();
    EXPECT_EQ(found, (QStringList{"en", "pt_BR"}));
    EXPECT_TRUE(AvailableCatalogues(dir.filePath("missing")).isEmpty());
}

// The process's language variables, set for one test and restored after it
// (with the catalogue of the restored environment).
class LanguageEnvironment : public ::testing::Test {
  protected:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    void SetUp() override {
        for (const char* name : kNames) {
            saved[name] = qgetenv(name);
            had[name] = qEnvironmentVariableIsSet(name);
            qunsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames) {
            if (had[name])
                qputenv(name, saved[name]);
            else
                qunsetenv(name);
        }
        InstallLanguage(QCoreApplication::instance());
    }
    std::map<std::string, QByteArray> saved;
    std::map<std::string, bool> had;
};

TEST_F(LanguageEnvironment, TheBuiltCatalogueIsLoadedAndReplacedWhenTheLanguageChanges) {
    const QString french = UiText("ControlPanel", "Enregistrement");
    qputenv("LANGUAGE", "en");
    EXPECT_EQ(InstallLanguage(QCoreApplication::instance()), "en");
    EXPECT_EQ(UiText("ControlPanel", "Enregistrement"), "Record");
    // A text the catalogue lacks stays as the program has it.
    EXPECT_EQ(UiText("ControlPanel", "Pas dans le catalogue"), "Pas dans le catalogue");

    qunsetenv("LANGUAGE");
    qputenv("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(InstallLanguage(QCoreApplication::instance()), QString());
    EXPECT_EQ(UiText("ControlPanel", "Enregistrement"), "Enregistrement");
    EXPECT_EQ(french, "Enregistrement");

    // No catalogue where it is looked for: the program's own texts.
    QTemporaryDir empty;
    qputenv("LANG", "en_US.UTF-8");
    EXPECT_EQ(InstallLanguage(QCoreApplication::instance(), {empty.path()}), QString());
    EXPECT_EQ(UiText("ControlPanel", "Enregistrement"), "Enregistrement");
}

TEST_F(LanguageEnvironment, TheMediaLayersErrorTextsFollowTheLanguage) {
    // The error texts of the GStreamer layer (AMGetErrorText), and the
    // message of a failed check built from them, in French and in English.
    media::SetMediaSystem(media::gst::GstMediaSystem());
    EXPECT_EQ(media::GraphErrorText(media::E_ACCESSDENIED), QString::fromUtf8("Accès refusé."));
    qputenv("LANGUAGE", "en");
    InstallLanguage(QCoreApplication::instance());
    EXPECT_EQ(media::GraphErrorText(media::E_ACCESSDENIED), "Access is denied.");
    try {
        media::CheckGraphResult(media::E_FAIL);
        ADD_FAILURE() << "no exception";
    } catch (const media::EDirectShowException& e) {
        EXPECT_EQ(e.Message(), "Unspecified error. ($80004005).");
    }
    media::SetMediaSystem(nullptr);
}

TEST_F(LanguageEnvironment, QtsOwnTextsFollowTheProgramsLanguage) {
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_fr.qm"))
        GTEST_SKIP() << "Qt's catalogues are not installed";
    // The standard buttons of message boxes and dialogs.
    InstallLanguage(QCoreApplication::instance());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Annuler");
    qputenv("LANGUAGE", "en");
    InstallLanguage(QCoreApplication::instance());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}
