// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ostream>

#include <QString>
#include <QStringList>

// Lets GoogleTest print Qt strings in failure messages.
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
    return os << '"' << text.toStdString() << '"';
}

inline std::ostream& operator<<(std::ostream& os, const QStringList& list) {
    return os << '[' << list.join(", ").toStdString() << ']';
}
