#pragma once

#include <QChar>
#include <QString>

// Upper and lower case as the program's 8-bit text knows them: the letters of
// Latin-1 map to each other one for one ("ß" and "ÿ" have no capital there and
// stay as they are), so a text never changes its length or leaves the 8-bit
// range by changing case. Characters beyond Latin-1 (only scripts make them)
// take their simple Unicode mapping when it stays beyond Latin-1 and, for a character of the
// code page, inside the code page ("ƒ" stays as it is).
namespace Latin1Case {

QChar upper(QChar c);
QChar lower(QChar c);
QString upper(const QString &text);
QString lower(const QString &text);
// Equal when both lower-cased are equal.
bool equalIgnoringCase(const QString &a, const QString &b);

// The text with `map` applied to every character; the text itself (shared,
// not copied) when no character changes, which is the common case.
template<class Map>
QString mapEach(const QString &text, Map map)
{
    const qsizetype size = text.size();
    const QChar *in = text.constData();
    qsizetype i = 0;
    while (i < size && map(in[i]) == in[i])
        ++i;
    if (i == size)
        return text;
    QString out = text;
    QChar *data = out.data();
    for (; i < size; ++i)
        data[i] = map(data[i]);
    return out;
}

} // namespace Latin1Case
