#include "PanelSandbox.h"

#include <QDir>
#include <QFile>

#include "Application.h"
#include "IniFile.h"
#include "PathUtils.h"

TPanelSandbox::TPanelSandbox() {
    SetProgramFolderForTesting(program_.path() + QStringLiteral("/"));
    TIniFile ini(QStringLiteral("Pomvira.ini"));
    QFile::remove(ini.FileName());
    QDir().mkpath(SnapFolder());
    QDir().mkpath(VideoFolder());
    ini.WriteString("CAPTURE", "SNAP FOLDER", SnapFolder());
    ini.WriteString("CAPTURE", "VIDEO FOLDER", VideoFolder());
    SetMessageBoxHook([this](const TMessageBoxRequest& r) {
        Boxes.push_back(r.text);
        return QMessageBox::Ok;
    });
}

TPanelSandbox::~TPanelSandbox() {
    SetMessageBoxHook(nullptr);
    SetProgramFolderForTesting(QString());
}
