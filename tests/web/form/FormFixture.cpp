#include "FormFixture.h"
#include "TestPorts.h"

#include "core/RefusalLog.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/TCPServer.h"
#include "web/WebClock.h"
#include "web/chrome/Headers.h"
#include "web/chrome/PageHead.h"
#include "web/status/PostedForm.h"
#include "web/status/StatusPage.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"
#include "core/Logging.h"
#include "bridge/PluginPointTables.h"
#include "bridge/PointTables.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSettings>
#include <QTcpSocket>

void FormFixture::SetUp()
{
    PluginFixture::SetUp();
    webPort = TestPorts::tcp();
    ASSERT_GT(webPort, 0);
    writeConfig("tvkXapKorvane.ini", "[tspi_quillon]\r\nHTTPPort=\"" + QByteArray::number(webPort) + "\"\r\n");
    HostIniCache().reset();
    // The bridge reads the plug-in's point tables, as the program wires it.
    static const PluginPointTables pluginTables;
    SetPointTables(&pluginTables);
    gPageRefreshWaitMs = 300;
    RefusalLog::Reset();
    logMark = PendingXapMessageCount();
}

void FormFixture::TearDown()
{
    TCPServer::unload();
    SetStatusPageBuilder({});
    StatusPagePartsInstance() = StatusPageParts();
    SetPostedFormBridgeCalls({});
    Headers::Reset();
    gPageRefreshWaitMs = 2000;
    SetPointTables(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    PluginFixture::TearDown();
}

void FormFixture::startAll()
{
    startPlugin();
    gPluginInstance = plugin;
    Headers::Reset();
    registerStatusPage();
    registerPostedForm();
    TCPServer::load();
    ASSERT_TRUE(TCPServer::instance().isListening());
}

QByteArray FormFixture::encode(const Fields &fields)
{
    QByteArray out;
    for (const auto &[key, value] : fields) {
        if (!out.isEmpty())
            out += '&';
        out += key.toUtf8().toPercentEncoding("*-._").replace("%20", "+");
        out += '=';
        out += value.toUtf8().toPercentEncoding("*-._").replace("%20", "+");
    }
    return out;
}

QByteArray FormFixture::ownOrigin() const
{
    return "http://127.0.0.1:" + QByteArray::number(webPort);
}

QByteArray FormFixture::post(const Fields &fields, const QByteArray &origin, const QByteArray &extraHeaders)
{
    return postBody(encode(fields), origin, extraHeaders);
}

QByteArray FormFixture::postBody(const QByteArray &body, const QByteArray &origin, const QByteArray &extraHeaders)
{
    QByteArray request = "POST /stat HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(webPort) + "\r\n";
    if (origin == "self")
        request += "Origin: " + ownOrigin() + "\r\n";
    else if (!origin.isEmpty())
        request += "Origin: " + origin + "\r\n";
    request += extraHeaders;
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, webPort);
    if (!waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 15000))
        return "no connection";
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    socket.write(request);
    socket.flush();
    waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 30000);
    received += socket.readAll();
    if (received.startsWith("HTTP/1.1 200") && received.contains("</body></html>"))
        ++pagesBuilt;
    return received;
}

QString FormFixture::variableCode(int n)
{
    const QChar letter(gPlugin.VarsHouseCode + (n >= 64 ? 1 : 0));
    return QString(letter) + QString::number(n >= 64 ? n - 63 : n + 1);
}

QString FormFixture::iniValue(const QString &file, const QString &section, const QString &key) const
{
    hs->FlushIniCache();
    const QStringList lines = configText(file).split(QStringLiteral("\r\n"));
    bool inSection = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line.compare(QLatin1Char('[') + section + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inSection && eq > 0 && line.left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return QStringLiteral("<none>");
}

bool FormFixture::loggedSince(const QString &text) const
{
    const QStringList bodies = PendingXapBodies();
    for (qsizetype i = logMark; i < bodies.size(); ++i)
        if (bodies.at(i).contains(text))
            return true;
    return false;
}
