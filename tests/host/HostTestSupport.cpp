#include "HostTestSupport.h"

#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IniCache.h"
#include "host/StateTables.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QDir>
#include <QFile>

void HostTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    gAppPath = m_dir.path();
    QDir(m_dir.path()).mkpath(QStringLiteral("Config"));
    writeFile(configPath(QStringLiteral("tvkXap.ini")),
              "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    ReleaseHostCollections();
    States().reset();
    HostIniCache().reset();
    ReferenceCounter() = 0;
    HostHooksInstance() = HostHooks();
    gLoading = gSuppressXAP = gNoInterface = false;
    gMainFormReady = false;
    gHostStarted = true;
    gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRSlots.reset();
    m_hs = std::make_shared<Application>();
    hs = m_hs;
}

void HostTest::TearDown()
{
    hs.reset();
    ReleaseHostCollections();
    gIRSlots.reset();
    gDeviceDictionary.reset();
    HostHooksInstance() = HostHooks();
}

QString HostTest::configPath(const QString &name) const
{
    return m_dir.path() + QStringLiteral("/Config/") + name;
}

void HostTest::writeFile(const QString &path, const QByteArray &bytes) const
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray HostTest::readFile(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int HostTest::sent()
{
    return PendingXapMessageCount();
}

void Recorder::describe(DispatchTable<Recorder> &t)
{
    t.name(QStringLiteral("Recorder"));
    t.method("TSEvent", &Recorder::TSEvent);
    t.get("name", &Recorder::name);
}

void Recorder::TSEvent(const Variant &texts)
{
    QStringList list;
    for (const Variant &v : texts.array().data())
        list.append(v.toString());
    calls.push_back(list);
    if (during)
        during();
}
