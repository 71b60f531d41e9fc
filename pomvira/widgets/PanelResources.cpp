// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelResources.h"

void InitPanelResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(panel);
        return true;
    }();
    (void)registered;
}

QImage PanelPicture(const QString& name) {
    InitPanelResources();
    return QImage(QStringLiteral(":/panel/") + name);
}
