#pragma once

#include <QChar>
#include <QString>

// Upper and lower case as scripts see them (UCase, LCase, text comparison of
// a Dictionary): the letters of the Windows-1252 code page pair up, so the
// "y" with diaeresis has its capital beyond Latin-1, as have "s" and "z" with
// caron and "oe". Otherwise as the program's own 8-bit text.
namespace ScriptCase {

QChar upper(QChar c);
QChar lower(QChar c);
QString upper(const QString &text);
QString lower(const QString &text);

} // namespace ScriptCase
