#pragma once
#include <QString>

// Whether a text typed by a user reads back from a settings file exactly as
// typed. The readers drop every double quote, a line that starts with ";" is
// a comment, the first "=" ends a key, a line loses its blanks at either end,
// and the files hold Windows-1252 only; a text longer than 255 characters is
// refused too. Each function gives why the text
// would come back changed, or "" when it comes back as typed.
namespace IniText {

// The key of a "key=value" line (a macro's name, a filter's source and class).
// `value` is the line's value: a key that starts with "[" is a section
// heading when the value ends in "]".
QString keyFault(const QString& key, const QString& value = QString());
// The value of a line (a macro's list, a setting's text); `pair` when the
// section is read as name=value pairs, where a second "=" cuts the value.
QString valueFault(const QString& value, bool pair = false);
// One field of a value joined by ";" (a device's or an IR slot's tag).
QString fieldFault(const QString& field);
// A tag typed for a device or an IR slot: one field of its value, and the
// key of its tag record in the records' section.
QString tagFault(const QString& tag);

} // namespace IniText
