#pragma once

#include <QString>

// The page's style sheet and background come from settings that a posted form
// or the configuration dialog can change; the page head writes them into the
// page as a link and a colour. Only values that stay on this server and are
// no more than a colour are taken.
namespace PageStyle {

// A relative path under the HTML folder: no "//", ":" or "..", no leading
// "/" and no "\", no quote, angle bracket or control character. "" is
// allowed (no style sheet of one's own).
bool IsSafeStyleSheet(const QString &value);
// "#rgb", "#rrggbb" or a colour name of letters only; "" is allowed (no colour).
bool IsSafeBackground(const QString &value);

// Takes `value` into `current` when it is safe; otherwise logs the refusal
// (with `where`, the place that tried to set it) and keeps `current`.
// True when the value was taken.
bool TakeStyleSheet(QString &current, const QString &value, const QString &where);
bool TakeBackground(QString &current, const QString &value, const QString &where);

} // namespace PageStyle
