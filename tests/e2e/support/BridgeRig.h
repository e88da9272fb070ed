#pragma once

#include "KorvaneProcess.h"
#include "XapListener.h"

#include "QuillonSim.h"
#include "SimPtyTransport.h"
#include "SimTcpTransport.h"

#include <QElapsedTimer>
#include <QHash>

#include <memory>

// The whole program against the controller simulator over TCP: a program
// folder with a device store of controller points, the simulator as the
// serial-device server, and a listener on the xAP port.
class BridgeRig
{
public:
    BridgeRig();
    ~BridgeRig();

    // Starts the program and waits until it answers BSC queries for its endpoints (with
    // waitForReady false only for its heartbeat: the start-up may still be running).
    bool start();
    bool waitForReady = true;
    // Stops the program (SIGTERM, so it saves its store) and starts it again on
    // the same folder; `store`, when not empty, replaces the device store first.
    bool restart(const QByteArray &store = QByteArray());
    // The [PluginDevices] section start() writes, and its default.
    static QByteArray defaultStore();
    // A controller with about as many endpoints as a full one: all 128
    // variables, the SIO16 at 3 ("["), an SIO16I at 2 ("]") and a RELAY08 at 5
    // ("^"), and the two X10 units of the default store: 170 endpoints.
    // Needs `extraUnits` = kManyEndpointUnits.
    static QByteArray manyEndpointsStore();
    static const QList<QPair<int, int>> kManyEndpointUnits;
    // Sends echo queries (again every 250 ms while none is answered) and
    // returns the ms from the first one to an answer; -1 when none came in `timeoutMs`.
    qint64 echoAnswerMs(int timeoutMs = 20000) { return echo(timeoutMs).ms; }
    // The same, with what the program's event loop did meanwhile (OwnClock):
    // the ms it ran, and the ms it was ready but waited for a processor.
    struct Echo
    {
        qint64 ms = -1;
        qint64 ranMs = 0;
        qint64 waitedForCpuMs = 0;
        // The wait that was the program's own doing: -1 when none came.
        qint64 ownMs() const { return ms < 0 ? -1 : ms - waitedForCpuMs; }
        static Echo of(const OwnClock &clock)
        {
            return {clock.elapsedMs(), clock.ranMs(), clock.waitedForCpuMs()};
        }
    };
    Echo echo(int timeoutMs = 20000);
    // How much longer than a quiet echo of the same run an echo after a burst
    // may take: a deaf program (5 s and more) fails; a loaded machine, where the
    // sanitizer build works off a burst several times slower, does not.
    static constexpr int kEchoRoomMs = 4500;
    void send(const QByteArray &datagram);
    // A message to this program: class, target sub-address, blocks as "name", "k=v"...
    QByteArray message(const QString &cls, const QString &target, const QList<QPair<QString, QStringList>> &blocks,
                       const QString &source = QStringLiteral("acme.remote.pc")) const;

    // Received datagrams of a class (case-insensitive), in arrival order, and their arrival times.
    QList<QByteArray> of(const QString &cls) const;
    bool waitFor(const QString &cls, qsizetype n, int timeoutMs = 20000);
    // The xapBSC.Event datagrams whose source ends in ":subAddress", in arrival order.
    QList<QByteArray> eventsFrom(const QString &subAddress, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
    qint64 elapsedMs() const { return clock.elapsed(); }
    // The value of `key=` in a datagram's text; empty when missing.
    static QString item(const QByteArray &datagram, const QString &key);

    XapListener listener{3639, XapListener::AtListen};
    ProgramFolder folder;
    SimTcpTransport transport;
    QuillonSim sim;
    std::unique_ptr<KorvaneProcess> program;
    QUdpSocket sender;
    quint16 port = 0;
    QString source; // the program's xAP source
    // Lines of [tspi_quillon] in Config/xaptvkKorvane.ini, written by start().
    QByteArray pluginSettings = "poll_interval=200\r\n";
    // Lines added to [tspi_quillon] of Config/tvkXapKorvane.ini after the link's settings.
    QByteArray bridgeSettings;
    // True: the program serves its status page, on a free port the first start picks (webPort).
    bool serveWeb = false;
    quint16 webPort = 0;
    // False: the serial-device server's port is chosen but not listened on, for a
    // test to bring the server up later (transport.listen(transport.port())).
    bool serverAtStart = true;
    // True: the controller is on a local serial line instead, a pseudo-terminal
    // the program opens through the link serialDevice() (the serial server is unused).
    bool overSerialLine = false;
    std::unique_ptr<SimPtyTransport> pty;
    QString serialDevice() const { return folder.path() + QStringLiteral("/ttyQuillon"); }
    // A new pseudo-terminal behind serialDevice(), the simulator on it: a serial
    // adapter plugged in again.
    bool plugSerialLine();
    // The pseudo-terminal closed and its link removed: a serial adapter pulled out.
    void unplugSerialLine();
    QByteArray store = defaultStore();
    // Controller modules (address, type) the simulator has besides module 3, an SIO16.
    QList<QPair<int, int>> extraUnits;
    // The program's file-size limit in bytes (RLIMIT_FSIZE); 0: none.
    qint64 fileSizeLimit = 0;
    // Environment the program is started with, besides this process's own.
    QList<QPair<QString, QString>> programEnvironment;
    QElapsedTimer clock;
    QList<qint64> arrivals; // ms since the rig was made, per listener datagram

private:
    bool launch();
    void writeStore();

    // Indexes into listener.received by lower-cased class, up to m_classed.
    mutable QHash<QString, QList<qsizetype>> m_byClass;
    mutable qsizetype m_classed = 0;
};
