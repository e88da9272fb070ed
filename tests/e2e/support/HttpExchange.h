#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// How one exchange is made and how long it may take. Both waits run the event
// loop, so a simulator or listener living in the test process keeps working
// meanwhile.
struct HttpOptions
{
    // The client's own loopback address when set (the server counts its
    // connections per address).
    QString source = {};
    int connectMs = 5000;
    int replyMs = 20000;
    // Called on every turn while the reply comes in, e.g. to drain a child
    // process's output before its pipe fills and stalls it.
    std::function<void()> meanwhile = {};
};

// Sends `request` exactly as given on a fresh loopback connection to `port`
// and returns every byte that came back until the server closed the
// connection or `replyMs` ran out; empty when no connection was made.
QByteArray httpExchange(quint16 port, const QByteArray &request, const HttpOptions &options = {});

// A urlencoded form post to `target` as a browser sends it from the page of
// `origin` (which may be foreign to `host`).
QByteArray formPost(const QByteArray &target, const QByteArray &host, const QByteArray &origin,
                    const QByteArray &body);
