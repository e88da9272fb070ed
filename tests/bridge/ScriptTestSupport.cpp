#include "ScriptTestSupport.h"

#include "bridge/BridgeHooks.h"
#include "bridge/CommAndTimer.h"
#include "bridge/ReceiveDispatcher.h"
#include "bridge/ReceiveMessages.h"
#include "bridge/ScriptQueue.h"

#include "bridge/DeviceMessageClass.h"

#include "host/GlobalVar.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IR.h"
#include "host/IniCache.h"
#include "host/StateTables.h"
#include "host/TaggedMembers.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/ClassRegistry.h"

#include "ScriptControl.h"
#include "ScriptModule.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

QString bodyItem(const xapQueuedMessage &m, const QString &key)
{
    for (const QString &item : m.MsgData.split(QChar(0))) {
        const qsizetype split = item.indexOf(QChar(1));
        if (split >= 0 && item.left(split).compare(key, Qt::CaseInsensitive) == 0)
            return item.mid(split + 1);
    }
    return QString();
}

void ScriptTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    clock.start();
    ClassRegistry::instance().add(QStringLiteral("xaptvkKorvane.GlobalVar"), [] { return std::make_shared<GlobalVar>(); });
    ClassRegistry::instance().add(QStringLiteral("xaptvkKorvane.DeviceMessageClass"),
                                  [] { return std::make_shared<DeviceMessageClass>(); });
    gAppPath = m_dir.path();
    QDir(m_dir.path()).mkpath(QStringLiteral("Config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("Scripts"));
    writeIni(QByteArray());

    ReleaseHostCollections();
    States().reset();
    HostIniCache().reset();
    HostHooksInstance() = HostHooks();
    BridgeHooksInstance() = BridgeHooks();
    ResetReceiveState();
    ResetScriptQueue();
    CommAndTimer::unload();
    MessageSequence() = 0;
    gXapReady = false; // everything sent is held, and read from there
    gXap = nullptr;
    gLoading = gSuppressXAP = gNoInterface = false;
    gMainFormReady = false;
    gHostStarted = true;
    gDebugMode = 0;
    gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gFilterDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRMacroDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRSlots = std::make_shared<Collection>();
    for (int n = 0; n < 1024; ++n)
        gIRSlots->add(Variant(ObjectPtr(std::make_shared<IR>())));
    m_hs = std::make_shared<Application>();
    hs = m_hs;
    tables = PointTableData();
    SetPointTables(&tables);
    plugin = std::make_shared<RecordingPlugin>();
    plugin->clock = &clock;
    gPluginInstance = plugin;

    HostHooksInstance().scriptEngine = [] { return CommAndTimer::instance().ScriptControl1; };
    BridgeHooks &hooks = BridgeHooksInstance();
    hooks.checkReceivedMessage = [](const std::shared_ptr<XapMessage> &m) { CheckReceivedMessage(*m); };
    hooks.queueDeviceEvent = [](const ObjectPtr &record) { QueueDeviceEvent(record); };
    m_heldAtStart = PendingXapMessageCount();
}

void ScriptTest::TearDown()
{
    ResetScriptQueue();
    CommAndTimer::unload();
    gPluginInstance.reset();
    SetPointTables(nullptr);
    hs.reset();
    m_hs.reset();
    ReleaseHostCollections();
    gIRSlots.reset();
    gDeviceDictionary.reset();
    gFilterDictionary.reset();
    gIRMacroDictionary.reset();
    BridgeHooksInstance() = BridgeHooks();
}

int ScriptTest::addDevice(const QString &hc, const QString &dc, const QString &location, const QString &name)
{
    QString n = name;
    DeviceClassPtr d = m_hs->NewDeviceEx(n);
    d->set(DeviceClass::F_hc, Variant(hc));
    d->set(DeviceClass::F_DC, Variant(dc));
    d->set(DeviceClass::F_location, Variant(location));
    d->set(DeviceClass::F_interface, Variant("Veltro Quillon"));
    return m_hs->DeviceCount();
}

DeviceClassPtr ScriptTest::device(int position) const
{
    return m_hs->deviceAt(position);
}

void ScriptTest::receive(const QByteArray &text)
{
    Readmessage(QString::fromLatin1(text));
}

QByteArray ScriptTest::message(const QString &cls, const QString &target, const QList<QPair<QString, QStringList>> &blocks,
                               const QString &source)
{
    return receivedXapText(cls, target, blocks, source);
}

QList<xapQueuedMessage> ScriptTest::sentOf(const QString &cls) const
{
    QList<xapQueuedMessage> out;
    const QList<xapQueuedMessage> held = PendingXapMessages();
    for (qsizetype i = m_heldAtStart; i < held.size(); ++i) {
        if (held.at(i).MsgClass.compare(cls, Qt::CaseInsensitive) == 0)
            out.append(held.at(i));
    }
    return out;
}

QStringList ScriptTest::logData() const
{
    QStringList out;
    for (const xapQueuedMessage &m : sentOf(QStringLiteral("Tessera.Event")))
        out.append(bodyItem(m, QStringLiteral("Data")));
    return out;
}

void ScriptTest::settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void ScriptTest::writeIni(const QByteArray &text)
{
    QFile f(m_dir.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    HostIniCache().reset();
}

void ScriptTest::writeScript(const QByteArray &code)
{
    QFile f(m_dir.path() + QStringLiteral("/Scripts/xaptvkKorvane.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(code);
}

QByteArray ScriptTest::readIni() const
{
    QFile f(m_dir.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Variant ScriptTest::evalMain(const QString &expression)
{
    const ScriptModulePtr main = CommAndTimer::instance().ScriptControl1->module(QStringLiteral("Main"));
    if (!main)
        throw VbError(VbErr::SubscriptOutOfRange, QStringLiteral("no module Main"));
    return main->Eval(expression);
}

Variant ScriptTest::runSnippet(const QString &code, const QString &expression)
{
    ScriptControl &engine = *CommAndTimer::instance().ScriptControl1;
    const ScriptModulePtr module = engine.addModule(QStringLiteral("Snippet"));
    module->AddCode(code);
    return module->Eval(expression);
}

void ScriptTest::drain()
{
    // A tick runs a slice of the queue; the rest waits for the next.
    do
        ScriptQueueTimer_Timer();
    while (PendingScriptEvents() > 0);
}
