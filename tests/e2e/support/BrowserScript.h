#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The browser driver (tests/browser/status_page.js) under node, against
// Debian's Chromium.
namespace BrowserScript {

inline const QString kChromium = QStringLiteral("/usr/bin/chromium");

// Runs one case of the driver with `options` (the Chromium path added) while
// the calling process goes on serving its sockets; true when the case passed.
// `output` gets what the driver printed.
bool run(const QString &node, QJsonObject options, QByteArray &output);

} // namespace BrowserScript
