#include "PluginTestSupport.h"

#include "controller/PluginSettings.h"
#include "controller/UnitMappings.h"
#include "core/Globals.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IniCache.h"
#include "host/Setup.h"
#include "host/StateTables.h"

#include <QDir>
#include <QFile>

void PluginFixture::SetUp()
{
    LinkFixture::SetUp();
    gControllerTiming.initIOWaitMs = 50;
    gControllerTiming.shutdownWaitMs = 0;
    QDir(appDir.path()).mkpath("Config");
    writeConfig("tvkXap.ini", "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    ReleaseHostCollections();
    States().reset();
    HostIniCache().reset();
    ReferenceCounter() = 0;
    HostHooksInstance() = HostHooks();
    HostHooksInstance().sendXapBSC = [this](const QString& dc) { bscAnnounced << dc; };
    gShuttingDown = false;
    gHostStarted = true;
    gHostForm = std::make_shared<::Setup>();
    gHostForm->Form_Load();
    startLogCapture();
}

void PluginFixture::TearDown()
{
    tspi::ShutdownInterface(false);
    plugin.reset();
    ResetPluginRuntime();
    gHostForm.reset();
    hs.reset();
    ReleaseHostCollections();
    HostHooksInstance() = HostHooks();
    LinkFixture::TearDown();
}

void PluginFixture::startSides()
{
    plugin = std::make_shared<tspi>();
    plugin->RegisterCallback(gHostForm);
    const int port = tcp->port();
    plugin->InitX10(port);
    plugin->InitIR(port);
    plugin->InitIO(port);
    gPlugin.ReplyTimeout = 1; // the start set the controller's own 4 seconds
}

void PluginFixture::startPlugin(bool stopTimers)
{
    attachSim(Path::Tcp);
    startSides();
    ASSERT_TRUE(gPlugin.CommsStarted);
    if (stopTimers) {
        form().Timer2.setEnabled(false);
        form().Timer3.setEnabled(false);
    }
}

void PluginFixture::selectAndCreate(const QList<int>& variables, const QList<QPair<int, int>>& points,
                                    const QList<int>& invertedUnits)
{
    DeviceSelection s = DeviceSelection::forController();
    for (int n : variables)
        s.setVariable(n, true);
    for (const auto& [unit, point] : points)
        s.setPoint(unit, point, true);
    for (int unit : invertedUnits)
        s.setInvert(unit, true);
    CreateVariablesAndIO(s, 3);
}

void PluginFixture::writeConfig(const QString& name, const QByteArray& bytes)
{
    QFile f(appDir.filePath("Config/" + name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray PluginFixture::readConfig(const QString& name) const
{
    QFile f(appDir.filePath("Config/" + name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString PluginFixture::setting(const QString& key)
{
    return PluginSettings::setting(key, "<none>");
}

int PluginFixture::status(const QString& code)
{
    return hs->deviceStatus(code);
}

int PluginFixture::value(const QString& code)
{
    return hs->deviceValue(code);
}

bool PluginFixture::deviceExists(const QString& code)
{
    QString c = code;
    return hs->DeviceExists(c) > -1;
}

QString PluginFixture::deviceProperty(const QString& code, const QString& property)
{
    DeviceClassPtr d = hs->deviceByCode(code);
    return d ? d->get(property).toString() : QString("<missing>");
}

void PluginFixture::addDevice(const QString& code, int iotype, const QString& iomisc, const QString& interface)
{
    QString name = "Device " + code;
    DeviceClassPtr d = hs->NewDeviceEx(name);
    d->let("hc", Variant(code.left(1)));
    d->let("DC", Variant(code.mid(1)));
    d->let("iotype", Variant::fromInteger(qint16(iotype)));
    d->let("iomisc", Variant(iomisc));
    d->let("interface", Variant(interface));
}

QList<QByteArray> PluginFixture::commands(quint8 op) const
{
    QList<QByteArray> out;
    for (const QByteArray& f : sim->framesOf(QuillonSim::FrameKind::Command))
        if (quint8(f[1]) == op)
            out << f;
    return out;
}

QString PluginFixture::houseOf(int unit) const
{
    for (const umap& m : gPlugin.UnitMaps)
        if (m.unit == unit)
            return m.hc;
    return QString();
}
