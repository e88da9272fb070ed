#pragma once
#include <QString>
#include <QtGlobal>
#include <array>

// What the link keeps about itself: where it goes, whether it is open, the
// last reply and whether traffic is logged. The plug-in's state extends it, so
// that the plug-in and the dialog read and set these as their own.
struct LinkState
{
    bool UseSerialComm = false;      // TCP serial-server link instead of a local port
    QString SerialIPAddress;
    QString CommPort = "1";          // number (TCP port / COM number) or a device path
    bool PortOpenFlag = false;
    bool CommsStarted = false;
    int LogComms = 0;
    std::array<quint8, 501> ReplyBuffer{};
};

// Waits of the link itself; shortened only by tests.
struct LinkTiming
{
    int linkSettleMs = 2000;      // after opening the link
    int reconnectMs = 2000;       // TCP connect retry period
    int healthyMs = 60000;        // a connection up this long ends an outage
};

// The state and waits the link works with. Whoever owns the link (the
// plug-in) shares its own once, before any link is made; until then, and in a
// program without a plug-in, the link keeps a state of its own.
LinkState& linkState();
LinkTiming& linkTiming();
void ShareLinkState(LinkState& state, LinkTiming& timing);
