#pragma once

#include <QString>

// The help page: HTML/Help/xaptvkKorvane/xaptvkKorvane.htm with its companion
// folder's links moved under the help path, or a "not available" line.
QString HelpPage();
