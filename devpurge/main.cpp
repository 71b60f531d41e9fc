// SPDX-License-Identifier: GPL-3.0-or-later
// DevPurge: removes the camera's USB devices and offers to restart the computer.
//
//   DevPurge             remove, then show the dialog (exit or restart)
//   DevPurge NOREBOOT    remove, no window
//   DevPurge REBOOTONLY  restart at once, nothing removed

#include <QApplication>
#include <QCoreApplication>

#include "DevPurgeApp.h"
#include "LinuxPlatform.h"

int main(int argc, char* argv[]) {
    CLinuxPlatform platform(CLinuxPlatform::ConfigFromEnvironment());
    CDevPurgeApp app(platform);
    app.ParseCommandLine(JoinArguments(argc, argv));
    // Without the window no window system is needed, so an installer can run the switches
    // on a machine without a display.
    if (app.ShowsDialog()) {
        QApplication qtApp(argc, argv);
        return app.InitInstance();
    }
    QCoreApplication qtApp(argc, argv);
    return app.InitInstance();
}
