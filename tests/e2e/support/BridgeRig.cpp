#include "BridgeRig.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// Location;name;interface;iotype;iomisc;misc;type;status;value;last change;string;tag;trigger
const char kDeviceStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;;False\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;;False\r\n"
    "[1=Door;Contact;Veltro Quillon;0;3!11!0!0;0;Input;3;0;;;;False\r\n"
    "[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;3;0;;;;False\r\n"
    "A5=Garden;Lamp;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n"
    "A6=Garden;Fountain;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n";

} // namespace

BridgeRig::BridgeRig()
{
    clock.start();
    QObject::connect(&listener.socket, &QUdpSocket::readyRead, [this] {
        while (arrivals.size() < listener.received.size())
            arrivals.append(clock.elapsed());
    });
}

BridgeRig::~BridgeRig()
{
    if (program)
        program->terminate();
}

QByteArray BridgeRig::defaultStore()
{
    return kDeviceStore;
}

const QList<QPair<int, int>> BridgeRig::kManyEndpointUnits = {{2, 12}, {5, 13}};

QByteArray BridgeRig::manyEndpointsStore()
{
    QByteArray store = "[PluginDevices]\r\n";
    for (int v = 0; v < 128; ++v) {
        const QByteArray code = QByteArray(v < 64 ? "Q" : "R") + QByteArray::number(v % 64 + 1);
        // Variable 4 is the hall temperature start() asks for.
        const QByteArray name = v == 4 ? "Hall;Temp" : "Room" + QByteArray::number(v) + ";Var" + QByteArray::number(v);
        store += code + "=" + name + ";Veltro Quillon;3;;0;Variable;3;0;;;;False\r\n";
    }
    const auto points = [&store](const char *hc, int module, int type, int count, int firstOutput) {
        for (int p = 0; p < count; ++p) {
            const bool output = p >= firstOutput;
            store += QByteArray(hc) + QByteArray::number(p + 1) + "=Mod" + QByteArray::number(module) + ";Point"
                + QByteArray::number(p + 1) + ";Veltro Quillon;" + (output ? "1" : "0") + ";" + QByteArray::number(module)
                + "!" + QByteArray::number(type) + "!" + QByteArray::number(p) + "!0;0;" + (output ? "Output" : "Input")
                + ";3;0;;;;False\r\n";
        }
    };
    points("[", 3, 11, 16, 8);
    points("]", 2, 12, 16, 16);
    points("^", 5, 13, 8, 0);
    store += "A5=Garden;Lamp;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n"
             "A6=Garden;Fountain;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n";
    return store;
}

BridgeRig::Echo BridgeRig::echo(int timeoutMs)
{
    const qsizetype before = of(QStringLiteral("WDT.Echo")).size();
    const OwnClock clock(*program);
    const qint64 first = elapsedMs();
    qint64 last = first - 1000;
    int sent = 0;
    const bool answered = waitUntil(
        [&] {
            if (of(QStringLiteral("WDT.Echo")).size() > before)
                return true;
            // A datagram the kernel dropped while the program was busy is sent again.
            if (elapsedMs() - last >= 250) {
                last = elapsedMs();
                send(message(QStringLiteral("WDT.Echo"), source,
                             {{"Echo.Query", {QStringLiteral("Query=ping") + QString::number(sent++)}}},
                             QStringLiteral("acme.pinger.pc")));
            }
            return false;
        },
        timeoutMs);
    return answered ? Echo::of(clock) : Echo();
}

void BridgeRig::writeStore()
{
    const QByteArray link = overSerialLine ? "SerialIP=\r\nCommPort=" + serialDevice().toLocal8Bit()
                                           : "SerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(transport.port());
    const QByteArray web = webPort ? "HTTPPort=" + QByteArray::number(webPort) + "\r\n" : QByteArray();
    folder.writeFile(QStringLiteral("Config/tvkXapKorvane.ini"),
                     store + "[tspi_quillon]\r\n" + link + "\r\n" + web + bridgeSettings);
}

bool BridgeRig::start()
{
    if (!listener.listen() || !transport.listen())
        return false;
    if (!serverAtStart)
        transport.stopListening();
    if (overSerialLine) {
        if (!plugSerialLine())
            return false;
    } else {
        sim.attach(&transport);
    }
    sim.setUnit(3, 11);
    for (const auto &[unit, type] : extraUnits)
        sim.setUnit(unit, type);
    sim.vars[4] = 21;
    writeStore();
    folder.writeFile(QStringLiteral("Config/xaptvkKorvane.ini"), "[tspi_quillon]\r\n" + pluginSettings);
    return launch();
}

bool BridgeRig::restart(const QByteArray &newStore)
{
    if (program && program->terminate() != 0)
        return false;
    program.reset();
    if (!newStore.isEmpty()) {
        store = newStore;
        writeStore();
    }
    return launch();
}

bool BridgeRig::launch()
{
    const qsizetype before = listener.received.size();
    const qsizetype infosBefore = of(QStringLiteral("xAPBSC.info")).size();
    if (serveWeb && webPort == 0) {
        // (A restart keeps the port, and the store the program saved.)
        webPort = startOnFreeWebPort([this](quint16 port) {
            webPort = port;
            writeStore();
            program = std::make_unique<KorvaneProcess>(folder, programEnvironment, fileSizeLimit);
            return program->pid();
        });
        if (webPort == 0)
            return false;
    } else {
        program = std::make_unique<KorvaneProcess>(folder, programEnvironment, fileSizeLimit);
    }
    QByteArray heartbeat;
    if (!waitUntil([&] {
            for (qsizetype i = before; i < listener.received.size(); ++i) {
                if (item(listener.received.at(i), QStringLiteral("class")) == QLatin1String("xap-hbeat.alive")) {
                    heartbeat = listener.received.at(i);
                    return true;
                }
            }
            return false;
        }))
        return false;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("\nport=(\\d+)\n")).match(QString::fromLatin1(heartbeat));
    if (!m.hasMatch())
        return false;
    port = quint16(m.captured(1).toUInt());
    source = item(heartbeat, QStringLiteral("source"));
    if (!waitForReady)
        return true;
    // Ready once a query for the first variable is answered.
    qint64 last = -1000;
    return waitUntil(
        [this, &last, infosBefore] {
            if (of(QStringLiteral("xAPBSC.info")).size() > infosBefore)
                return true;
            if (clock.elapsed() - last >= 500) {
                last = clock.elapsed();
                send(message(QStringLiteral("xAPBSC.query"), source + QStringLiteral(":hall_temp.>"), {{"request", {}}}));
            }
            return false;
        },
        60000);
}

bool BridgeRig::plugSerialLine()
{
    auto line = std::make_unique<SimPtyTransport>();
    if (!line->open())
        return false;
    QFile::remove(serialDevice());
    if (!QFile::link(line->slavePath(), serialDevice()))
        return false;
    pty = std::move(line);
    sim.attach(pty.get());
    return true;
}

void BridgeRig::unplugSerialLine()
{
    if (pty)
        pty->close();
    // A new pseudo-terminal may get the old one's number: the name must not lead to it.
    QFile::remove(serialDevice());
}

void BridgeRig::send(const QByteArray &datagram)
{
    sender.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port);
}

QByteArray BridgeRig::message(const QString &cls, const QString &target, const QList<QPair<QString, QStringList>> &blocks,
                              const QString &from) const
{
    QString text = QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=") + cls + QStringLiteral("\nsource=")
        + from + QLatin1Char('\n');
    if (!target.isEmpty())
        text += QStringLiteral("target=") + target + QLatin1Char('\n');
    text += QStringLiteral("}\n");
    for (const auto &[name, items] : blocks) {
        text += name + QStringLiteral("\n{\n");
        for (const QString &i : items)
            text += i + QLatin1Char('\n');
        text += QStringLiteral("}\n");
    }
    return text.toLatin1();
}

QList<QByteArray> BridgeRig::of(const QString &cls) const
{
    // Waits call this on every turn of their loop while a burst's answers pile
    // up: each datagram's class is read once, when it is first looked at.
    if (m_classed > listener.received.size()) {
        m_classed = 0;
        m_byClass.clear();
    }
    for (; m_classed < listener.received.size(); ++m_classed)
        m_byClass[item(listener.received.at(m_classed), QStringLiteral("class")).toLower()].append(m_classed);
    QList<QByteArray> out;
    for (const qsizetype i : m_byClass.value(cls.toLower()))
        out.append(listener.received.at(i));
    return out;
}

QList<QByteArray> BridgeRig::eventsFrom(const QString &subAddress, Qt::CaseSensitivity cs) const
{
    QList<QByteArray> out;
    for (const QByteArray &e : of(QStringLiteral("xapBSC.Event"))) {
        if (item(e, QStringLiteral("source")).endsWith(QLatin1Char(':') + subAddress, cs))
            out.append(e);
    }
    return out;
}

bool BridgeRig::waitFor(const QString &cls, qsizetype n, int timeoutMs)
{
    return waitUntil([&] { return of(cls).size() >= n; }, timeoutMs);
}

QString BridgeRig::item(const QByteArray &datagram, const QString &key)
{
    // "\nkey=value\n", the key in any case.
    const QByteArray wanted = '\n' + key.toLatin1().toLower() + '=';
    for (qsizetype at = 0; (at = datagram.indexOf('\n', at)) >= 0; ++at) {
        if (datagram.size() - at < wanted.size() || datagram.mid(at, wanted.size()).toLower() != wanted)
            continue;
        const qsizetype end = datagram.indexOf('\n', at + wanted.size());
        if (end >= 0)
            return QString::fromLatin1(datagram.mid(at + wanted.size(), end - at - wanted.size()));
    }
    return QString();
}
