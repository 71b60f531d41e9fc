// The surroundings of a control panel under test: the program's folder is a
// temporary folder, the settings file holds only the two save folders (new,
// empty, temporary folders), and message boxes are recorded and answered OK
// instead of shown. All is restored when the sandbox goes.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <vector>

class TPanelSandbox {
  public:
    TPanelSandbox();
    ~TPanelSandbox();
    TPanelSandbox(const TPanelSandbox&) = delete;
    TPanelSandbox& operator=(const TPanelSandbox&) = delete;

    QString SnapFolder() const { return data_.filePath(QStringLiteral("pictures")); }
    QString VideoFolder() const { return data_.filePath(QStringLiteral("videos")); }

    // The texts of the message boxes shown so far.
    std::vector<QString> Boxes;

  private:
    QTemporaryDir program_;
    QTemporaryDir data_;
};
