#pragma once

#include <QChar>
#include <QString>

// Upper and lower case as the program's 8-bit text knows them: the letters of
// Latin-1 map to each other one for one ("ß" and "ÿ" have no capital there and
// stay as they are), so a text never changes its length or leaves the 8-bit
// range by changing case. Characters beyond Latin-1 (only scripts make them)
// take their simple Unicode mapping when it stays beyond Latin-1.
namespace Latin1Case {

QChar upper(QChar c);
QChar lower(QChar c);
QString upper(const QString &text);
QString lower(const QString &text);
// Equal when both lower-cased are equal.
bool equalIgnoringCase(const QString &a, const QString &b);

} // namespace Latin1Case
