#pragma once

#include "host/Application.h"

#include "core/xap/XapEndpoint.h"

#include "script/ScriptControl.h"

#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include "WaitUntil.h"

// Readable texts in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

void settle(int ms);

// A program folder with a Scripts folder, the host object added to a script
// engine as "xap" (its members global, as the bridge sets it up), and a real
// xAP endpoint whose broadcasts a listener on 127.0.0.1:3639 collects.
class HostScriptTest : public ::testing::Test
{
public:
    // The full text of a message as the program sends it: no target, its own UID and source.
    static QByteArray xapText(const QString &cls, const QString &section,
                              const QList<QPair<QString, QString>> &items);
    // A log entry; its Time line is compared as "Time=*".
    static QByteArray logText(const QString &type, const QString &data);

protected:
    void SetUp() override;
    void TearDown() override;

    // Runs statements at the script engine's global level; a script error fails the test.
    void exec(const QString &statements);
    Variant eval(const QString &expression);

    QString scriptsPath(const QString &name = QString()) const;
    void writeScript(const QString &name, const QByteArray &text) const;
    QByteArray readFile(const QString &path) const;

    // Waits for that many datagrams (heartbeats left out), lets late ones
    // arrive, and compares every one received since the last call, in order.
    void expectSent(const QList<QByteArray> &expected, int settleMs = 300);
    // Data items of the log entries received since the last expectSent/clearSent.
    QStringList logData();
    void clearSent();

    QTemporaryDir m_dir;
    ApplicationPtr m_hs;
    ScriptControlPtr m_engine;
    QList<QByteArray> m_received;

private:
    void readDatagrams();

    std::unique_ptr<xap> m_endpoint;
    QUdpSocket m_listener;
};
