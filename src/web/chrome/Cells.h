#pragma once

#include <QString>

// Table cells, footer links and the page scroller of the chrome.
namespace Headers {

// One table cell. `text` is HTML and goes in unchanged (escape data values
// before); on touch-screen pages the five table classes get fixed fonts and
// colours and any other class keeps its text uncoloured. A "TABLEHEADER" cell whose text
// is plain gets the help pop-up keyed by its text.
QString FormatCell(const QString &text, const QString &cls, const QString &colspan, const QString &align);

// The footer link bar (used when the site has no links file).
QString TSLinks();

// The scroller script (html/javascript/page_scroll.js with its lines): the
// parts of `section` split at "|", or the weather when it is "Default"; ""
// when there are no lines.
QString PageScroll(const QString &section);
QString PageScrollWeatherman();

} // namespace Headers
