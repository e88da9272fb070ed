// Demo controller on loopback: `quillonsim --tcp PORT` serves it as a serial-device
// server, `quillonsim --pty` prints the serial device path to open.
#include "QuillonSim.h"
#include "SimPtyTransport.h"
#include "SimTcpTransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("Simulated home-automation controller for tests and demos");
    p.addHelpOption();
    QCommandLineOption tcp("tcp", "Listen on 127.0.0.1:<port> as a serial-device server.", "port");
    QCommandLineOption pty("pty", "Serve on a pseudo-terminal and print its path.");
    QCommandLineOption pace("paced", "Send at 960 bytes per second like a 9600-baud line.");
    p.addOptions({tcp, pty, pace});
    p.process(app);
    QTextStream out(stdout);

    QuillonSim sim;
    sim.paced = p.isSet(pace);
    sim.setUnit(1, 11);  // SIO16
    sim.setUnit(2, 12);  // SIO16I
    sim.setUnit(3, 13);  // RELAY08
    sim.setUnit(4, 6);   // SIO16IR
    for (int i = 0; i < 8; ++i)
        sim.vars[i] = quint16(i * 10);
    for (int i = 0; i < 128; ++i)
        sim.analogValues[i] = quint16(100 + i);

    SimTransport* t = nullptr;
    if (p.isSet(tcp)) {
        auto* s = new SimTcpTransport(&app);
        bool ok = false;
        quint16 port = quint16(p.value(tcp).toUInt(&ok));
        if (!ok || !s->listen(port)) {
            out << "cannot listen on 127.0.0.1:" << p.value(tcp) << Qt::endl;
            return 1;
        }
        out << "controller listening on 127.0.0.1:" << s->port() << Qt::endl;
        t = s;
    } else if (p.isSet(pty)) {
        auto* s = new SimPtyTransport(&app);
        if (!s->open()) {
            out << "cannot open a pseudo-terminal" << Qt::endl;
            return 1;
        }
        out << "controller on serial device " << s->slavePath() << Qt::endl;
        t = s;
    } else {
        p.showHelp(2);
    }
    sim.attach(t);
    QObject::connect(&sim, &QuillonSim::frameReceived, &app, [&out](const QByteArray& f) {
        out << "<- " << f.toHex(' ') << Qt::endl;
    });
    // A little life for the demo: an input toggles every 10 seconds.
    QTimer tick;
    int level = 0;
    QObject::connect(&tick, &QTimer::timeout, &sim, [&] {
        level ^= 1;
        sim.sendIOChange(2, 0, level);
        sim.vars[0] = quint16(sim.vars[0] + 1);
    });
    tick.start(10000);
    return app.exec();
}
