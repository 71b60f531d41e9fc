// SPDX-License-Identifier: GPL-3.0-or-later
#include "FormFonts.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>

namespace {

struct TFace {
    const char* family;
    const char* files[2];
};

// The faces of Debian's fonts-wine package, which installs them outside
// fontconfig's folders.
const TFace kFaces[] = {
    {"Tahoma", {"tahoma.ttf", "tahomabd.ttf"}},
    {"MS Sans Serif", {"ms_sans_serif.ttf", nullptr}},
};

}  // namespace

QStringList FormFontFolders() {
    return {QStringLiteral("/usr/share/wine/fonts"), QStringLiteral("/usr/share/fonts/truetype/wine")};
}

void RegisterFormFonts() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    for (const TFace& face : kFaces) {
        const QString family = QString::fromLatin1(face.family);
        if (QFontDatabase::families().contains(family, Qt::CaseInsensitive))
            continue;
        for (const QString& folder : FormFontFolders()) {
            bool found = false;
            for (const char* file : face.files) {
                if (file && QFontDatabase::addApplicationFont(QDir(folder).filePath(
                                QString::fromLatin1(file))) >= 0)
                    found = true;
            }
            if (found)
                break;
        }
    }
    QFont::insertSubstitutions(QStringLiteral("Microsoft Sans Serif"),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans")});
}
