#pragma once

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <unistd.h>

// Ports for the servers tests start, and for ports that must refuse connections.
//
// A port probed from the system (bind to 0, read it, close) lies in the range the
// system hands to every client socket, so another test program's client can take it
// before the server binds it. These come from outside that range instead, each process
// starting in a block of its own derived from its id (test programs run side by side),
// and are checked free by binding before they are handed out. Clients keep the system's
// range to themselves.
namespace TestPorts {

// The system's range for client ports ("32768 60999" unless changed).
inline std::pair<int, int> systemRange()
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    int first = 32768, last = 60999;
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> f = file.readAll().simplified().split(' ');
        if (f.size() == 2 && f.at(0).toInt() > 0 && f.at(1).toInt() >= f.at(0).toInt()) {
            first = f.at(0).toInt();
            last = f.at(1).toInt();
        }
    }
    return {first, last};
}

// A TCP port no IPv4 socket is bound to right now, outside the system's range; 0 when
// none is free. Successive calls in one process hand out different ports.
inline quint16 tcp()
{
    // Above the well-known ports and the xAP port.
    constexpr int kLowest = 10000;
    constexpr int kBlock = 64;
    static int handedOut = 0;
    const auto [first, last] = systemRange();
    const int below = std::max(0, first - kLowest);
    const int above = std::max(0, 65535 - std::max(last, kLowest - 1));
    const int total = below + above;
    if (total == 0)
        return 0;
    const int start = int((::getpid() % std::max(1, total / kBlock)) * kBlock);
    for (int tried = 0; tried < total; ++tried) {
        const int index = (start + handedOut++) % total;
        const int port = index < below ? kLowest + index : std::max(last, kLowest - 1) + 1 + (index - below);
        QTcpServer check;
        if (check.listen(QHostAddress::AnyIPv4, quint16(port)))
            return quint16(port);
    }
    return 0;
}

} // namespace TestPorts
