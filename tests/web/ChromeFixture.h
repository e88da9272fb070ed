#pragma once

#include "WebTestSupport.h"

#include "web/Request.h"
#include "web/Response.h"

#include <memory>

// Chrome calls for one request of a client, with settings written through
// the host's INI cache.
class ChromeTest : public WebTest
{
protected:
    void set(const QString &file, const QString &section, const QString &key, const QString &value);
    void setting(const QString &key, const QString &value) { set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("Settings"), key, value); }
    void include(const QString &key, const QString &value) { set(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), key, value); }
    QString stored(const QString &file, const QString &section, const QString &key) const;

    // A new request from `address` with the given header lines, and the chrome's set-up for it.
    // `local` is the server's own address on that connection.
    void request(const QByteArray &headers = QByteArray(), const QString &address = QStringLiteral("127.0.0.1"),
                 const QString &local = QStringLiteral("127.0.0.1"));
    // The standard tables with a few users and menus.
    QString standardDatabase(const QStringList &extra = {});

    std::unique_ptr<Request> m_request;
    std::unique_ptr<Response> m_response;
};
