#include "BrowserScript.h"

#include "WaitUntil.h"

#include <QJsonDocument>
#include <QProcess>

bool BrowserScript::run(const QString &node, QJsonObject options, QByteArray &output)
{
    options.insert(QStringLiteral("chromium"), kChromium);
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.setWorkingDirectory(QStringLiteral(KORVANE_BROWSER_DIR));
    script.start(node, {QStringLiteral(KORVANE_BROWSER_DIR "/status_page.js"),
                        QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact))});
    if (!script.waitForStarted(10000)) {
        output = "node did not start";
        return false;
    }
    const bool ended = waitUntil([&] { return script.state() == QProcess::NotRunning; }, 180000);
    if (!ended) {
        script.kill();
        script.waitForFinished(5000);
    }
    output = script.readAll();
    return ended && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
}
