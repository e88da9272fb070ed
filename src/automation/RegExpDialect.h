#pragma once

#include <QString>

// VBScript's regular expressions are the ECMAScript (3rd edition) dialect.
// QRegularExpression speaks PCRE2, which reads many of the same texts
// differently ('$' before a final newline, '.' across '\r', possessive '++',
// POSIX classes, unknown escapes, unset back-references): translate() rewrites
// a pattern so that PCRE2 matches exactly what the ECMAScript pattern matches.
// A pattern the dialect rejects raises VbError 5017-5021, as VBScript does.
namespace RegExpDialect {

struct Translation {
    QString pcre;
    int groups = 0; // capturing groups of the pattern
};

Translation translate(const QString &pattern, bool multiline);

} // namespace RegExpDialect
