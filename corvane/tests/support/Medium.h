// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "QtPrinters.h"
#include "RunTime.h"

// A temporary folder tree that stands for the CD.
class TempMedium {
  public:
    QString Root() const { return dir_.path(); }

    // Creates the file `relativePath` (with its folders) holding `content`.
    QString Add(const QString& relativePath, const QByteArray& content = "MZ",
                QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
        const QString path = QDir(Root()).filePath(relativePath);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        file.close();
        file.setPermissions(permissions);
        return path;
    }

    QString AddFolder(const QString& relativePath) {
        const QString path = QDir(Root()).filePath(relativePath);
        QDir().mkpath(path);
        return path;
    }

  private:
    QTemporaryDir dir_;
};

// Records the programs it is asked to start instead of starting them.
class RecordingStarter : public ProgramStarter {
  public:
    bool Start(const QByteArray& program, const QStringList& arguments) override {
        started.emplace_back(program, arguments);
        return result;
    }

    // The programs' paths as text.
    QStringList Programs() const {
        QStringList programs;
        for (const auto& entry : started)
            programs << QFile::decodeName(entry.first);
        return programs;
    }

    std::vector<std::pair<QByteArray, QStringList>> started;
    bool result = true;
};
