// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListFitting.h"

#include <QListWidget>
#include <QStyle>
#include <algorithm>

namespace media {

void FitListToContent(QListWidget* list) {
    list->ensurePolished();
    constexpr int kRowsShown = 12;
    const int rows = list->count();
    const int frame = 2 * list->frameWidth();
    int width = list->sizeHintForColumn(0) + frame + 4;
    if (rows > kRowsShown)
        width += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setMinimumWidth(std::max(list->minimumWidth(), width));
    if (rows > 0) {
        const int shown = std::min(rows, kRowsShown);
        list->setMinimumHeight(std::max(list->minimumHeight(),
                                        frame + shown * list->sizeHintForRow(0) + 4));
    }
}

}  // namespace media
