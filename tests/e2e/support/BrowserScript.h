#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QJsonObject>
#include <QStandardPaths>
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

// In a fixture's SetUp: skips the test where there is no Chromium, fails it
// where node or playwright-core is missing, and sets `node` to node's path.
#define REQUIRE_BROWSER_DRIVER(node)                                                                          \
    do {                                                                                                      \
        if (!QFileInfo::exists(BrowserScript::kChromium))                                                     \
            GTEST_SKIP() << "no Chromium at " << BrowserScript::kChromium.toStdString()                      \
                         << ": tools/deps.sh installs it";                                                    \
        (node) = QStandardPaths::findExecutable(QStringLiteral("node"));                                      \
        ASSERT_FALSE((node).isEmpty()) << "no node on PATH: tools/deps.sh installs it";                       \
        ASSERT_TRUE(QFileInfo::exists(QStringLiteral(KORVANE_BROWSER_DIR "/node_modules/playwright-core/package.json"))) \
            << "playwright-core is not installed in tests/browser: run tools/deps.sh";                       \
    } while (false)
