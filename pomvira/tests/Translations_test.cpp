// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogues of the program's texts (translations/*.ts): every entry
// finished, with the same placeholders as the program's text, every text of
// the sources in each catalogue (checked with the same lupdate run as the
// update_translations target, on copies), and no text of the sources shown
// past the catalogues.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <set>

namespace {

struct TEntry {
    QString context;
    QString source;
    QString translation;
    bool finished = true;
};

// The entries of a .ts file; false when it cannot be read as one.
bool ReadCatalogue(const QString& path, std::vector<TEntry>& entries, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TEntry entry;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            entry = TEntry{context, {}, {}, true};
        } else if (xml.name() == QLatin1String("source")) {
            entry.source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.name() == QLatin1String("translation")) {
            // Unfinished, vanished and obsolete entries are all not done.
            entry.finished = xml.attributes().value(QLatin1String("type")).isEmpty();
            entry.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            entries.push_back(entry);
        }
    }
    error = xml.errorString();
    return !xml.hasError();
}

std::set<QString> Placeholders(const QString& text) {
    std::set<QString> found;
    static const QRegularExpression kArg(QStringLiteral("%[1-9]"));
    for (auto it = kArg.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    return found;
}

QStringList Catalogues() {
    return QDir(QStringLiteral(POMVIRA_SOURCE_DIR "/translations"))
        .entryList({QStringLiteral("pomvira_*.ts")}, QDir::Files, QDir::Name);
}

// The program's sources, as update_translations reads them: every .cpp and
// .h below the program's folder, tests, their support and the media layer's
// test double left out.
QStringList ProgramSources() {
    QStringList sources;
    QDirIterator it(QStringLiteral(POMVIRA_SOURCE_DIR), {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains(QLatin1String("/tests/")) && !path.contains(QLatin1String("/fake/")))
            sources << path;
    }
    return sources;
}

// Every entry not done, "context: source".
QStringList Unfinished(const std::vector<TEntry>& entries) {
    QStringList list;
    for (const TEntry& e : entries) {
        if (!e.finished || e.translation.isEmpty())
            list << e.context + QStringLiteral(": ") + e.source;
    }
    return list;
}

}  // namespace

TEST(Translations, EveryCatalogueIsCompleteWithTheProgramsPlaceholders) {
    const QStringList catalogues = Catalogues();
    ASSERT_TRUE(catalogues.contains(QStringLiteral("pomvira_en.ts")));
    for (const QString& name : catalogues) {
        SCOPED_TRACE(name.toStdString());
        std::vector<TEntry> entries;
        QString error;
        ASSERT_TRUE(ReadCatalogue(QStringLiteral(POMVIRA_SOURCE_DIR "/translations/") + name,
                                  entries, error))
            << error.toStdString();
        EXPECT_GT(entries.size(), 50u);
        EXPECT_EQ(Unfinished(entries).join('\n').toStdString(), "");
        for (const TEntry& e : entries) {
            EXPECT_EQ(Placeholders(e.translation), Placeholders(e.source))
                << e.context.toStdString() << ": " << e.source.toStdString();
        }
    }
}

TEST(Translations, EveryTextOfTheSourcesIsInEveryCatalogue) {
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString list = work.filePath(QStringLiteral("sources.lst"));
    QFile listFile(list);
    ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
    listFile.write(ProgramSources().join('\n').toUtf8());
    listFile.close();
    for (const QString& name : Catalogues()) {
        SCOPED_TRACE(name.toStdString());
        const QString copy = work.filePath(name);
        ASSERT_TRUE(QFile::copy(QStringLiteral(POMVIRA_SOURCE_DIR "/translations/") + name, copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        QStringList arguments =
            QStringLiteral(POMVIRA_LUPDATE_OPTIONS).split('|', Qt::SkipEmptyParts);
        arguments << QStringLiteral("@") + list << QStringLiteral("-ts") << copy;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(POMVIRA_LUPDATE), arguments);
        ASSERT_TRUE(lupdate.waitForFinished(120000));
        const QByteArray output = lupdate.readAll();
        ASSERT_EQ(lupdate.exitCode(), 0) << output.constData();
        std::vector<TEntry> entries;
        QString error;
        ASSERT_TRUE(ReadCatalogue(copy, entries, error)) << error.toStdString();
        // A text new in the sources comes in unfinished; one gone from them
        // is dropped (and would have been marked vanished).
        EXPECT_EQ(Unfinished(entries).join('\n').toStdString(), "")
            << "run the update_translations target and translate these texts";
        std::vector<TEntry> original;
        ReadCatalogue(QStringLiteral(POMVIRA_SOURCE_DIR "/translations/") + name, original, error);
        EXPECT_EQ(entries.size(), original.size())
            << "the catalogue holds texts the sources no longer have";
    }
}

TEST(Translations, NoTextOfTheSourcesIsShownPastTheCatalogues) {
    // A literal text handed straight to the code page conversion, or through
    // a helper of its own (a parameter passed on), would be French in every
    // language: such texts go through UiText.
    static const QRegularExpression kBypass(
        QStringLiteral("ShownText\\(\\s*(u8?\"|[A-Za-z_][A-Za-z0-9_]*\\s*\\))"));
    QStringList found;
    for (const QString& path : ProgramSources()) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        for (auto it = kBypass.globalMatch(text); it.hasNext();) {
            const qsizetype at = it.next().capturedStart();
            found << QStringLiteral("%1:%2").arg(path).arg(text.left(at).count('\n') + 1);
        }
    }
    EXPECT_EQ(found.join('\n').toStdString(), "");
}
