#pragma once

#include "bridge/PointTables.h"

#include "host/Application.h"

#include "core/xap/XapMessage.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/xap/XapEndpoint.h"
#include "WaitUntil.h"


// One call the bridge made on the plug-in: member name and arguments as text.
struct PluginCall
{
    QString member;
    QStringList args; // an object argument reads "dev", Nothing reads "Nothing"
    qint64 atMs = 0;  // since the fixture started
};

// A stand-in plug-in that records the members the bridge calls by name.
class RecordingPlugin : public DispatchObject<RecordingPlugin>
{
public:
    static void describe(DispatchTable<RecordingPlugin> &t);
    Variant record(const QString &member, std::vector<Variant> &args);

    std::vector<PluginCall> calls;
    const QElapsedTimer *clock = nullptr;
    // Runs inside each call, after it is recorded (a plug-in that pumps events).
    std::function<void(const QString &member)> duringCall;
    // What Exec answers: nothing (a plug-in that does not say), or whether it queued the command.
    Variant execResult;
    // Where an X10 command Exec queued is counted as carried out at once; null
    // (or execResult false) leaves it to the test.
    PointTableData *carriedIn = nullptr;
};

// A message the bridge sent, as the network saw it.
struct SentMessage
{
    QByteArray raw;
    std::shared_ptr<XapMessage> msg;
    qint64 atMs = 0;
    QString item(const QString &section, const QString &key) const { return msg->GetItem(section, key); }
    QString source() const { return msg->msgSource(); }
    QString cls() const { return msg->MsgClass(); }
};

// A program folder, the host with no devices, controller tables the test
// fills, a recording plug-in, and a real xAP endpoint whose broadcasts a
// listener on 127.0.0.1:3639 collects.
// Text of a received message: class, optional target, then blocks as "name", "k=v", ...
QByteArray receivedXapText(const QString &cls, const QString &target, const QList<QPair<QString, QStringList>> &blocks,
                           const QString &source);

class BridgeTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a controller device; returns its 1-based position.
    int addDevice(const QString &hc, const QString &dc, const QString &location, const QString &name, int iotype = 0,
                  const QString &interfaceName = QStringLiteral("Veltro Quillon"));
    DeviceClassPtr device(int position) const;

    // Sends the text to the dispatcher as if it had been received.
    void receive(const QByteArray &text);
    // Text of a received message: class, optional target, then blocks as "name", "k=v", ...
    static QByteArray message(const QString &cls, const QString &target,
                              const QList<QPair<QString, QStringList>> &blocks, const QString &source = QStringLiteral("acme.remote.pc"));

    // Messages of a class (logs and heartbeats left out unless asked for).
    QList<SentMessage> sentOf(const QString &cls) const;
    bool waitForSent(const QString &cls, int count, int timeoutMs = 10000);
    // Lets the event loop run until the queued point writes of commands went to the plug-in.
    void drainWrites();
    // Lets the event loop run until the IR codes of received requests have played.
    void drainIRPlays();
    // Lets the event loop run until every queue of plug-in calls (point
    // writes, IR plays, X10 requests) is empty.
    void drainPlugin();
    // Lets the event loop run for a while and collects what arrives.
    void settle(int ms);
    // Log entries' Data items.
    QStringList logData() const;
    QString ownSource() const;

    QTemporaryDir m_dir;
    ApplicationPtr m_hs;
    PointTableData tables;
    std::shared_ptr<RecordingPlugin> plugin;
    QList<SentMessage> sent;
    QElapsedTimer clock;

private:
    void readDatagrams();

    std::unique_ptr<xap> m_endpoint;
    QUdpSocket m_listener;
};
