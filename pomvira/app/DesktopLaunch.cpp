// SPDX-License-Identifier: GPL-3.0-or-later
// GIO's headers first: once Qt's keyword macros are defined ("signals"),
// they no longer compile.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "DesktopLaunch.h"
#include "Application.h"
#include "files/TextConv.h"
#include "media/FileNameCodec.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

// Releases a GLib object reference at the end of a scope.
struct TObjectRef {
    gpointer object;
    ~TObjectRef() {
        if (object)
            g_object_unref(object);
    }
};

bool IsEditor(GAppInfo* app) {
    if (!G_IS_DESKTOP_APP_INFO(app))
        return false;
    const char* categories = g_desktop_app_info_get_categories(G_DESKTOP_APP_INFO(app));
    if (!categories)
        return false;
    gchar** list = g_strsplit(categories, ";", -1);
    bool editing = false, viewer = false;
    for (gchar** c = list; *c; ++c) {
        if (g_str_equal(*c, "RasterGraphics") || g_str_equal(*c, "2DGraphics") ||
            g_str_equal(*c, "Photography"))
            editing = true;
        else if (g_str_equal(*c, "Viewer"))
            viewer = true;
    }
    g_strfreev(list);
    return editing && !viewer;
}

// The editor for the file (a new reference), or null.
GAppInfo* FindEditor(const QString& path) {
    const QByteArray name = EncodeFileName(path);
    gchar* contentType = g_content_type_guess(name.constData(), nullptr, 0, nullptr);
    if (!contentType)
        return nullptr;
    GAppInfo* editor = g_app_info_get_default_for_type(contentType, FALSE);
    if (editor && !IsEditor(editor)) {
        g_object_unref(editor);
        editor = nullptr;
    }
    if (!editor) {
        GList* all = g_app_info_get_all_for_type(contentType);
        for (GList* l = all; l && !editor; l = l->next)
            if (IsEditor(G_APP_INFO(l->data)))
                editor = G_APP_INFO(g_object_ref(l->data));
        g_list_free_full(all, g_object_unref);
    }
    g_free(contentType);
    return editor;
}

// The file's type as the desktop guesses it from its name ("image/jpeg").
QString ContentType(const QString& path) {
    gchar* type = g_content_type_guess(EncodeFileName(path).constData(), nullptr, 0, nullptr);
    const QString result = QString::fromUtf8(type);
    g_free(type);
    return result;
}

// Whether an application is registered to open files of the type.
bool HasApplicationFor(const QString& type) {
    GAppInfo* app = g_app_info_get_default_for_type(type.toUtf8().constData(), FALSE);
    TObjectRef release{app};
    return app != nullptr;
}

// Says that no program can open the file, and what to install.
void SayNoProgramFor(const QString& path, const QString& type) {
    const QString name = QFileInfo(path).fileName();
    QString text;
    if (type.startsWith(QLatin1String("image/")))
        text = UiText("Messages",
                      "Aucun programme installé ne sait ouvrir l'image « %1 ».\n"
                      "Installez une visionneuse d'images, par exemple eog ou "
                      "ristretto (paquets du même nom).")
                   .arg(name);
    else if (type.startsWith(QLatin1String("video/")))
        text = UiText("Messages",
                      "Aucun programme installé ne sait ouvrir la vidéo « %1 ».\n"
                      "Installez un lecteur vidéo, par exemple totem, vlc ou mpv "
                      "(paquets du même nom).")
                   .arg(name);
    else
        text = UiText("Messages",
                      "Aucun programme installé ne sait ouvrir le fichier « %1 » "
                      "(%2).\nInstallez un programme qui ouvre ce type de fichier.")
                   .arg(name, type);
    ShowMessageBox(QApplication::activeWindow(), text, QString::fromLatin1(kApplicationTitle),
                   QMessageBox::Information);
}

}  // namespace

void LaunchDocument(TLaunchVerb verb, const QString& path) {
    if (verb == TLaunchVerb::Open)
        OpenDocument(path);
    else
        EditDocument(path);
}

void OpenDocument(const QString& path) {
    // The desktop's launcher would only say on the terminal that nothing
    // can open the file.
    const QString type = ContentType(path);
    if (!HasApplicationFor(type) || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        SayNoProgramFor(path, type);
}

QString EditorFor(const QString& path) {
    GAppInfo* editor = FindEditor(path);
    if (!editor)
        return QString();
    TObjectRef release{editor};
    return QString::fromUtf8(g_app_info_get_id(editor));
}

void EditDocument(const QString& path) {
    GAppInfo* editor = FindEditor(path);
    if (!editor)
        return;
    TObjectRef release{editor};
    GFile* file = g_file_new_for_path(EncodeFileName(path).constData());
    TObjectRef releaseFile{file};
    GList files{file, nullptr, nullptr};
    // Like the shell's verbs, a failure to start is not reported.
    GError* error = nullptr;
    g_app_info_launch(editor, &files, nullptr, &error);
    g_clear_error(&error);
}
