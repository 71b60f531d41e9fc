// SPDX-License-Identifier: GPL-3.0-or-later
// File names on Linux are bytes, and need not be UTF-8. A name is carried
// in a QString as its UTF-8 text, each byte that is not part of a valid
// UTF-8 sequence as the lone surrogate U+DC80 + (byte - 0x80), which no
// valid text holds; EncodeFileName gives the bytes back exactly. Every
// place that hands a path to the system converts it with these.
#pragma once

#include <QByteArray>
#include <QString>

QString DecodeFileName(const QByteArray& bytes);
QByteArray EncodeFileName(const QString& name);
