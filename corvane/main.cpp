// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>

#include "Form1.h"
#include "RunTime.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(RunTime::kTitle);
    DetachedStarter starter;
    RunTime runTime(starter);
    Form1 form(runTime);
    QApplication::setWindowIcon(form.windowIcon());
    form.show();
    return app.exec();
}
