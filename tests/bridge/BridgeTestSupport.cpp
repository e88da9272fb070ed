#include "BridgeTestSupport.h"

#include "bridge/BridgeHooks.h"
#include "bridge/BscEndpoints.h"
#include "bridge/CommAndTimer.h"
#include "bridge/ReceiveDispatcher.h"

#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IR.h"
#include "host/IniCache.h"
#include "host/StateTables.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "core/xap/XapEndpoint.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>


void RecordingPlugin::describe(DispatchTable<RecordingPlugin> &t)
{
    t.name(QStringLiteral("tspi"));
    for (const char *member : {"SetIO", "Exec", "PlayIR", "PlayRemoteIR", "SetZone"}) {
        const QString name = QString::fromLatin1(member);
        t.raw(name, [name](RecordingPlugin &p, CallKind, std::vector<Variant> &args) { return p.record(name, args); });
    }
}

Variant RecordingPlugin::record(const QString &member, std::vector<Variant> &args)
{
    PluginCall call{member, {}, clock ? clock->elapsed() : 0};
    for (const Variant &a : args) {
        if (a.isNothing())
            call.args.append(QStringLiteral("Nothing"));
        else if (a.isObject())
            call.args.append(QStringLiteral("dev"));
        else
            call.args.append(a.toString());
    }
    calls.push_back(call);
    if (duringCall)
        duringCall(member);
    const bool exec = member == QLatin1String("Exec");
    if (exec && carriedIn && !(execResult.type() == Variant::Boolean && !execResult.toBool()) && args.size() > 3
        && args[3].toLong() < 19) {
        ++carriedIn->x10CommandsSent;
        ++carriedIn->x10CommandsEnded;
    }
    return exec ? execResult : Variant();
}

void BridgeTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    clock.start();
    gAppPath = m_dir.path();
    QDir(m_dir.path()).mkpath(QStringLiteral("Config"));
    QFile ini(m_dir.path() + QStringLiteral("/Config/tvkXap.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    ini.close();

    ReleaseHostCollections();
    States().reset();
    HostIniCache().reset();
    ReferenceCounter() = 0;
    HostHooksInstance() = HostHooks();
    BridgeHooksInstance() = BridgeHooks();
    ResetReceiveState();
    CommAndTimer::unload();
    RefusalLog::Reset();
    BscEndpoints::instance().reset();
    gLoading = gSuppressXAP = gNoInterface = false;
    gMainFormReady = false;
    gHostStarted = true;
    gDebugMode = 0;
    gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRMacroDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gRegisteredMenus.reset();
    gIRSlots = std::make_shared<Collection>();
    for (int n = 0; n < 1024; ++n)
        gIRSlots->add(Variant(ObjectPtr(std::make_shared<IR>())));
    gX10FunctionNames = {"all_units_off", "all_lights_on", "on", "off", "dim", "bright", "all_lights_off", "extended",
                         "hail_request", "hail_ack", "preset_dim_1", "preset_dim_2", "data_xfer", "status_on",
                         "status_off", "status_request"};
    m_hs = std::make_shared<Application>();
    hs = m_hs;

    tables = PointTableData();
    SetPointTables(&tables);
    plugin = std::make_shared<RecordingPlugin>();
    plugin->clock = &clock;
    plugin->carriedIn = &tables;
    gPluginInstance = plugin;

    // Other programs on this machine may hold the xAP port for a while.
    ASSERT_TRUE(waitUntil([this] { return m_listener.bind(QHostAddress(QHostAddress::LocalHost), xap::kXapPort); }, 60000));
    QObject::connect(&m_listener, &QUdpSocket::readyRead, [this] { readDatagrams(); });
    InitXap();
    m_endpoint = std::make_unique<xap>();
    m_endpoint->setXapSource(QStringLiteral("tvk.Korvane.") + LocalComputerName());
    m_endpoint->setXapUID(QStringLiteral("FF.00C7:00"));
    m_endpoint->setBroadcastAddress(QStringLiteral("127.0.0.1"));
    m_endpoint->setInterfaceAddress(QStringLiteral("127.0.0.1"));
    ASSERT_GT(m_endpoint->Init(), 0);
    gXap = m_endpoint.get();
    gXapReady = true;
}

void BridgeTest::drainWrites()
{
    ASSERT_TRUE(waitUntil([] { return CommAndTimer::instance().Writes.idle(); }));
}

void BridgeTest::drainIRPlays()
{
    ASSERT_TRUE(waitUntil([] { return CommAndTimer::instance().IRPlays.idle(); }));
}

void BridgeTest::drainPlugin()
{
    ASSERT_TRUE(waitUntil([] {
        CommAndTimer &queues = CommAndTimer::instance();
        return queues.Writes.idle() && queues.IRPlays.idle() && queues.X10Requests.idle();
    }));
}

void BridgeTest::TearDown()
{
    CommAndTimer::unload();
    gXapReady = false;
    gXap = nullptr;
    m_endpoint.reset();
    gPluginInstance.reset();
    SetPointTables(nullptr);
    hs.reset();
    m_hs.reset();
    ReleaseHostCollections();
    gIRSlots.reset();
    gDeviceDictionary.reset();
    gIRMacroDictionary.reset();
    BridgeHooksInstance() = BridgeHooks();
}

int BridgeTest::addDevice(const QString &hc, const QString &dc, const QString &location, const QString &name,
                          int iotype, const QString &interfaceName)
{
    QString n = name;
    DeviceClassPtr d = m_hs->NewDeviceEx(n);
    d->set(DeviceClass::F_hc, Variant(hc));
    d->set(DeviceClass::F_DC, Variant(dc));
    d->set(DeviceClass::F_location, Variant(location));
    d->set(DeviceClass::F_interface, Variant(interfaceName));
    d->set(DeviceClass::F_iotype, Variant::fromInteger(qint16(iotype)));
    return m_hs->DeviceCount();
}

DeviceClassPtr BridgeTest::device(int position) const
{
    return m_hs->deviceAt(position);
}

void BridgeTest::receive(const QByteArray &text)
{
    Readmessage(QString::fromLatin1(text));
}

QByteArray receivedXapText(const QString &cls, const QString &target,
                               const QList<QPair<QString, QStringList>> &blocks, const QString &source)
{
    QString text = QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=") + cls
        + QStringLiteral("\nsource=") + source + QLatin1Char('\n');
    if (!target.isEmpty())
        text += QStringLiteral("target=") + target + QLatin1Char('\n');
    text += QStringLiteral("}\n");
    for (const auto &[name, items] : blocks) {
        text += name + QStringLiteral("\n{\n");
        for (const QString &item : items)
            text += item + QLatin1Char('\n');
        text += QStringLiteral("}\n");
    }
    return text.toLatin1();
}

QByteArray BridgeTest::message(const QString &cls, const QString &target,
                               const QList<QPair<QString, QStringList>> &blocks, const QString &source)
{
    return receivedXapText(cls, target, blocks, source);
}

void BridgeTest::readDatagrams()
{
    while (m_listener.hasPendingDatagrams()) {
        QByteArray data(m_listener.pendingDatagramSize(), Qt::Uninitialized);
        m_listener.readDatagram(data.data(), data.size());
        SentMessage m;
        m.raw = data;
        m.msg = std::make_shared<XapMessage>();
        m.msg->FromXap(QString::fromLatin1(data));
        m.atMs = clock.elapsed();
        sent.append(m);
    }
}

QList<SentMessage> BridgeTest::sentOf(const QString &cls) const
{
    QList<SentMessage> out;
    for (const SentMessage &m : sent) {
        if (m.msg->CompareClass(cls))
            out.append(m);
    }
    return out;
}

bool BridgeTest::waitForSent(const QString &cls, int count, int timeoutMs)
{
    return waitUntil([&] { return sentOf(cls).size() >= count; }, timeoutMs);
}

void BridgeTest::settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QStringList BridgeTest::logData() const
{
    QStringList out;
    for (const SentMessage &m : sentOf(QStringLiteral("Tessera.Event")))
        out.append(m.item(QStringLiteral("Event.Log"), QStringLiteral("Data")));
    return out;
}

QString BridgeTest::ownSource() const
{
    return QStringLiteral("tvk.Korvane.") + LocalComputerName();
}
