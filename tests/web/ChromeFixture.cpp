#include "ChromeFixture.h"

#include "web/chrome/Headers.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

void ChromeTest::set(const QString &file, const QString &section, const QString &key, const QString &value)
{
    hs->saveIniSetting(section, key, value, file);
}

QString ChromeTest::stored(const QString &file, const QString &section, const QString &key) const
{
    return hs->getIniSetting(section, key, QStringLiteral("<missing>"), file);
}

void ChromeTest::request(const QByteArray &headers, const QString &address, const QString &local)
{
    m_request = std::make_unique<Request>();
    m_response = std::make_unique<Response>();
    m_request->setRemoteip(address);
    m_request->setLocalip(local);
    m_request->ParsePage(QString::fromLatin1("GET /status HTTP/1.1\r\n" + headers + "\r\n"));
    Headers::RunPageSetup(*m_request, *m_response);
}

QString ChromeTest::standardDatabase(const QStringList &extra)
{
    QStringList statements = chromeSchema();
    statements << QStringLiteral("INSERT INTO MenuUsers VALUES ('alice', 10, '127.0.0.1', NULL)")
               << QStringLiteral("INSERT INTO MenuUsers VALUES ('bob', 5, '10.1.1.1', NULL)")
               << QStringLiteral("INSERT INTO Menus VALUES (1, 'Home', '/home', 0, 1, 0, '', 1)")
               << QStringLiteral("INSERT INTO Menus VALUES (2, 'Status', '/stat', 0, 1, 0, 'img/stat.gif', 2)")
               << QStringLiteral("INSERT INTO Menus VALUES (3, 'Admin', '/admin', 0, 1, 10, '', 3)")
               << QStringLiteral("INSERT INTO Menus VALUES (4, 'Lights', '/stat/lights', 2, 2, 0, NULL, 1)")
               << QStringLiteral("INSERT INTO Menus VALUES (5, 'Kitchen', '/stat/lights/kitchen', 4, 3, 0, NULL, 1)")
               << QStringLiteral("INSERT INTO Menus VALUES (6, 'Secret', '/secret', 0, 1, 20, NULL, 4)");
    statements << extra;
    return makeDatabase(QStringLiteral("Data/chrome.db"), statements);
}
