#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace bopling {

// Helpers for the user-perceived characters (grapheme clusters) that the
// creature rules count in: a letter with a combining mark is one character.

// The characters of `text`, as views into it (keep `text` alive).
QList<QStringView> graphemes(QStringView text);

qsizetype graphemeCount(QStringView text);

// The first `count` characters of `text` (all of it when shorter).
QString leftGraphemes(QStringView text, qsizetype count);

// True when the character's first code point is a letter or a number by its
// Unicode category (L* or N*).
bool isLetterOrNumber(QStringView grapheme);

} // namespace bopling
