#pragma once

// The field mark before each labelled field of a result line or a report is
// the user-defined character A4 F6 of code page 936 (U+E774), which no font
// on the desktop draws. On screen it is shown as "◆"; the GBK text, and what
// is saved from it, keep the mark's own bytes.

#include <QChar>
#include <QString>

inline constexpr QChar FieldMarkCharacter{0xE774};
inline constexpr QChar ShownFieldMark{0x25C6}; // ◆

QString WithVisibleFieldMarks(QString text);
