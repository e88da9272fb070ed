#pragma once

#include "BridgeTestSupport.h"

#include "core/XapQueuedMessage.h"

#include <QString>

// The receive side with the script engine, without the network: a program
// folder, the host with no devices, a recording plug-in; received messages
// pass the filters and their events queue runs of the user script. What the
// program sends stays in the transport's queue of messages held for the
// endpoint, where the test reads it (no xAP port is bound).
class ScriptTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    int addDevice(const QString &hc, const QString &dc, const QString &location, const QString &name);
    DeviceClassPtr device(int position) const;
    void receive(const QByteArray &text);
    static QByteArray message(const QString &cls, const QString &target, const QList<QPair<QString, QStringList>> &blocks,
                              const QString &source = QStringLiteral("acme.remote.pc"));
    // Data of the log entries made since the test began.
    QStringList logData() const;
    // Messages of a class sent since the test began, as section bodies.
    QList<xapQueuedMessage> sentOf(const QString &cls) const;
    void settle(int ms);

    void writeIni(const QByteArray &text);
    void writeScript(const QByteArray &code);
    QByteArray readIni() const;
    // Evaluates an expression in the user script's module.
    Variant evalMain(const QString &expression);
    // Adds code in a module of its own and returns the value of the expression.
    Variant runSnippet(const QString &code, const QString &expression);
    // Drains the script queue now, as its timer tick would.
    void drain();

    QTemporaryDir m_dir;
    ApplicationPtr m_hs;
    PointTableData tables;
    std::shared_ptr<RecordingPlugin> plugin;
    QElapsedTimer clock;

private:
    int m_heldAtStart = 0;
};

// Section body items ("key" -> value) of a held message.
QString bodyItem(const xapQueuedMessage &m, const QString &key);

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
