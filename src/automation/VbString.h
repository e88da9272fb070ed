#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// VB's text helpers, with VB's edge cases (1-based positions, "" splitting
// into nothing, Trim removing spaces only).
namespace VbString {

// Val: the leading number of a text, blanks anywhere skipped, &H and &O
// prefixes understood; 0 when there is none.
double Val(const QString &text);
// Val, except that a number too large to hold raises error 6 "Overflow"
// instead of reading as 0 (for numbers received from outside).
double ValOrOverflow(const QString &text);

// The number a text converts to under CDbl's rules (blanks around it,
// thousands commas, an exponent, &H/&O as a Long's bits); nothing when it is
// no number, with overflow set when it is one too large for a Double.
std::optional<double> parseNumber(const QString &text, bool *overflow = nullptr);
// A "&H"/"&O" text of up to 16 bits as CInt reads it ("&HFFFF" is -1);
// nothing for other texts.
std::optional<qint16> parseIntegerBits(const QString &text);
bool IsNumeric(const QString &text);

// CStr of a Double (15 significant digits) and of a Single (7).
QString formatDouble(double value);
QString formatSingle(float value);

// Halves to the even neighbour, as CInt, CLng and Round do.
double roundHalfEven(double value);

QString Trim(const QString &text);
QString LTrim(const QString &text);
QString RTrim(const QString &text);

// Split: "" gives no items; count -1 for all; textCompare ignores case.
QStringList Split(const QString &text, const QString &delimiter = QStringLiteral(" "), int count = -1,
                  bool textCompare = false);

// Mid, Left, Right: start is 1-based; a negative length raises error 5, a
// start below 1 too.
QString Mid(const QString &text, int start, int length = -1);
QString Left(const QString &text, int length);
QString Right(const QString &text, int length);

// InStr: 1-based position of what in text from start, 0 when absent.
int InStr(int start, const QString &text, const QString &what, bool textCompare = false);
int InStr(const QString &text, const QString &what);
int InStrRev(const QString &text, const QString &what, int start = -1, bool textCompare = false);

} // namespace VbString
