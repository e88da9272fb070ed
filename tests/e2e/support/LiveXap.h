#pragma once

#include "XapListener.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

// A ready xAP endpoint on loopback, so that LogError and SendXap go out at once and a test
// reads what the program would broadcast. Restores the not-ready state when it goes.
class LiveXap
{
public:
    LiveXap()
    {
        endpoint.setXapSource(QStringLiteral("tvk.Korvane.test"));
        endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
        endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
        endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
        ready = listener.bound && endpoint.Init() > 0;
        gXap = &endpoint;
        gXapReady = ready;
        if (!ready)
            return;
        // Whatever earlier code queued goes out with the first send: let it pass first.
        SendXap(QString(), QStringLiteral("test.marker"), QStringLiteral("marker"), QString(), QString(), QString());
        ready = waitUntil([this] { return !listener.received.isEmpty() && listener.received.last().contains("class=test.marker"); });
        listener.received.clear();
    }
    ~LiveXap()
    {
        gXapReady = false;
        gXap = nullptr;
    }

    // The "Data" item of every log entry received so far, in order.
    QStringList logData()
    {
        QCoreApplication::processEvents();
        QStringList data;
        for (const QByteArray& text : listener.received) {
            XapMessage m;
            m.FromXap(QString::fromLatin1(text));
            if (m.CompareClass(QStringLiteral("Tessera.Event")) && m.MsgSection().contains(QStringLiteral("event.log")))
                data.append(m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data")));
        }
        return data;
    }

    XapListener listener;
    xap endpoint;
    bool ready = false;
};

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{';
    for (const QString& s : l)
        *os << " \"" << s.toStdString() << '"';
    *os << " }";
}
