#pragma once
#include "controller/link/CommLink.h"
#include "controller/ControllerHost.h"
#include "controller/ControllerStart.h"
#include "controller/HostCommands.h"
#include "controller/IrTransmit.h"
#include "controller/PluginState.h"
#include "controller/Protocol.h"
#include "controller/X10Exec.h"

#include "QuillonSim.h"
#include "SimPtyTransport.h"
#include "SimTcpTransport.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// Every log entry the controller code made, as "type|data".
QStringList& loggedEntries();
bool logged(const QString& part);
// Clears the record and starts recording the controller side's log entries.
void startLogCapture();

// Records what the controller side hands to the host, the callback object and the bridge.
class RecordingHost : public ControllerHost
{
public:
    QStringList calls;
    void SetDeviceStatus(const QString& code, int status) override;
    void SetDeviceValue(const QString& code, long value) override;
    void X10Event(const QString& units, const QString& house, int command, const QString& level,
                  const QString& data) override;
    void IREvent(int location) override;
    void ValueChangeEvent(const QString& code, long value) override;
    void xAPIR(long code, int zone, const QString& cls) override;
};

// Runs the event loop until cond holds or the deadline passes.
bool waitFor(const std::function<bool()>& cond, int ms = 10000);

// The program's controller side wired to a simulator over TCP or a pty.
class LinkFixture : public ::testing::Test
{
protected:
    enum class Path { Tcp, Pty };
    void SetUp() override;
    void TearDown() override;
    // Points the link settings at the simulator over the given path.
    void attachSim(Path path);
    // Opens the link to the simulator without discovery.
    void open(Path path);
    void openTcp() { open(Path::Tcp); }

    QTemporaryDir appDir;
    RecordingHost host;
    std::unique_ptr<QuillonSim> sim;
    std::unique_ptr<SimTcpTransport> tcp;
    std::unique_ptr<SimPtyTransport> pty;
    std::unique_ptr<CommLink> link;
    std::unique_ptr<Protocol> protocol;
    std::unique_ptr<ControllerStart> start;
    std::unique_ptr<X10Exec> x10;
    std::unique_ptr<HostCommands> cmds;
    std::unique_ptr<IrTransmit> ir;
};

#include <ostream>
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{' << l.join("; ").toStdString() << '}';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << b.toHex(' ').toStdString(); }
