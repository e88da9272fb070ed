#pragma once

#include <QChar>

// The Windows-1252 code page that scripts see through Chr, Asc and String:
// byte 128 is the euro sign, 150 an en dash, 156 "oe" and so on; the five
// bytes the code page leaves undefined stand for the control characters of
// the same number, so every byte round-trips.
namespace AnsiCodePage {

// The character a byte stands for.
QChar toUnicode(quint8 byte);
// The byte of a character, 63 ("?") for one the code page cannot hold.
quint8 fromUnicode(QChar c);

} // namespace AnsiCodePage
