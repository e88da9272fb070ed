#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// The Windows-1252 code page that scripts see through Chr, Asc and String:
// byte 128 is the euro sign, 150 an en dash, 156 "oe" and so on; the five
// bytes the code page leaves undefined stand for the control characters of
// the same number, so every byte round-trips.
namespace AnsiCodePage {

// The character a byte stands for.
QChar toUnicode(quint8 byte);
// The byte of a character, 63 ("?") for one the code page cannot hold.
quint8 fromUnicode(QChar c);

// Bytes from a file or a socket as text: one character per byte.
QString decode(const QByteArray& bytes);
// Text as bytes for a file or a socket: one byte per character (per UTF-16
// unit), "?" for one the code page cannot hold. The C1 controls U+0080 to
// U+009F give their own byte, as they did when the program's bytes were
// Latin-1, so text made that way still goes out as it came in.
QByteArray encode(const QString& text);

} // namespace AnsiCodePage
