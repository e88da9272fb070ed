#include "HostScriptSupport.h"

#include "core/RefusalLog.h"

#include "host/HostClock.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/HostRegistration.h"
#include "host/IniCache.h"
#include "host/StateTables.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>


void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void HostScriptTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    gAppPath = m_dir.path();
    QDir(m_dir.path()).mkpath(QStringLiteral("Config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("Scripts"));
    QFile ini(m_dir.path() + QStringLiteral("/Config/tvkXap.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    ini.close();

    ReleaseHostCollections();
    RefusalLog::Reset();
    States().reset();
    HostIniCache().reset();
    ReferenceCounter() = 0;
    HostHooksInstance() = HostHooks();
    registerHostSubsystem();
    gLoading = gSuppressXAP = gNoInterface = false;
    gMainFormReady = true;
    gHostStarted = true;
    gDebugMode = 0;
    gLastVoiceCommand.clear();
    gSunriseText.clear();
    gSunsetText.clear();
    gVariableNames.reset();
    gX10CommandTable = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gX10CommandTable->add(Variant("ON"), Variant(2));
    gX10CommandTable->add(Variant("OFF"), Variant(3));
    gX10CommandTable->add(Variant("DIM"), Variant(4));
    gX10CommandTable->add(Variant("BRIGHT"), Variant(5));
    gIRNameDictionary = std::make_shared<Dictionary>();
    m_hs = std::make_shared<Application>();
    hs = m_hs;

    m_engine = std::make_shared<ScriptControl>();
    m_engine->setAllowUI(false);
    m_engine->setTimeout(60000);
    m_engine->AddObject(QStringLiteral("xap"), m_hs, true);
    ScriptControlPtr engine = m_engine;
    HostHooksInstance().scriptEngine = [engine] { return engine; };

    // Other programs on this machine may hold the xAP port for a while.
    ASSERT_TRUE(waitUntil([this] { return m_listener.bind(QHostAddress(QHostAddress::LocalHost), xap::kXapPort); }, 120000));
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

void HostScriptTest::TearDown()
{
    HostClock::setSource({});
    gXapReady = false;
    gXap = nullptr;
    m_endpoint.reset();
    HostHooksInstance() = HostHooks();
    m_engine.reset();
    hs.reset();
    m_hs.reset();
    ReleaseHostCollections();
    gX10CommandTable.reset();
    gIRNameDictionary.reset();
    gVariableNames.reset();
    gMainFormReady = false;
}

void HostScriptTest::exec(const QString &statements)
{
    try {
        m_engine->ExecuteStatement(statements);
    } catch (const VbError &e) {
        FAIL() << "script error " << e.number << " " << e.description.toStdString() << " at " << e.line << ":"
               << e.column << " in: " << statements.toStdString();
    }
}

Variant HostScriptTest::eval(const QString &expression)
{
    try {
        return m_engine->Eval(expression);
    } catch (const VbError &e) {
        ADD_FAILURE() << "script error " << e.number << " " << e.description.toStdString() << " in: "
                      << expression.toStdString();
        return Variant();
    }
}

QString HostScriptTest::scriptsPath(const QString &name) const
{
    return m_dir.path() + QStringLiteral("/Scripts") + (name.isEmpty() ? QString() : QStringLiteral("/") + name);
}

void HostScriptTest::writeScript(const QString &name, const QByteArray &text) const
{
    const QString path = scriptsPath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray HostScriptTest::readFile(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray HostScriptTest::xapText(const QString &cls, const QString &section,
                                   const QList<QPair<QString, QString>> &items)
{
    QString text = QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=") + cls
        + QStringLiteral("\nsource=tvk.Korvane.") + LocalComputerName() + QStringLiteral("\n}\n") + section
        + QStringLiteral("\n{\n");
    for (const auto &[key, value] : items)
        text += key + QLatin1Char('=') + value + QLatin1Char('\n');
    text += QStringLiteral("}\n");
    return text.toLatin1();
}

QByteArray HostScriptTest::logText(const QString &type, const QString &data)
{
    return xapText(QStringLiteral("Tessera.Event"), QStringLiteral("Event.Log"),
                   {{QStringLiteral("Time"), QStringLiteral("*")}, {QStringLiteral("Type"), type},
                    {QStringLiteral("Data"), data}});
}

void HostScriptTest::readDatagrams()
{
    while (m_listener.hasPendingDatagrams()) {
        QByteArray data(m_listener.pendingDatagramSize(), Qt::Uninitialized);
        m_listener.readDatagram(data.data(), data.size());
        if (!data.startsWith("xap-hbeat"))
            m_received.append(data);
    }
}

void HostScriptTest::expectSent(const QList<QByteArray> &expected, int settleMs)
{
    waitUntil([&] { return m_received.size() >= expected.size(); });
    settle(settleMs);
    const QList<QByteArray> got = m_received;
    m_received.clear();
    static const QRegularExpression timeLine(QStringLiteral("\nTime=[^\n]*\n"));
    ASSERT_EQ(got.size(), expected.size()) << "received:\n" << QByteArray(got.join("----\n")).toStdString();
    for (int i = 0; i < got.size(); ++i) {
        QByteArray actual = got[i];
        if (expected[i].contains("\nTime=*\n"))
            actual = QString::fromLatin1(actual).replace(timeLine, QStringLiteral("\nTime=*\n")).toLatin1();
        EXPECT_EQ(actual.toStdString(), expected[i].toStdString()) << "message " << i;
    }
}

QStringList HostScriptTest::logData()
{
    settle(200);
    QStringList out;
    static const QRegularExpression dataLine(QStringLiteral("\nData=([^\n]*)\n"));
    for (const QByteArray &m : m_received) {
        if (!m.contains("\nclass=Tessera.Event\n"))
            continue;
        out.append(dataLine.match(QString::fromLatin1(m)).captured(1));
    }
    m_received.clear();
    return out;
}

void HostScriptTest::clearSent()
{
    settle(100);
    m_received.clear();
}
