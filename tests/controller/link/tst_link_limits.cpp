// What a serial-server link accepts as a port, and what an outage costs in the
// log when a server keeps each connection only a few seconds.
#include "TestSupport.h"
#include "automation/Variant.h"
#include "controller/link/SerialComm.h"

class LinkLimits : public LinkFixture
{
};

TEST_F(LinkLimits, PortsOutsideTheTcpRangeAreRefusedWhereverTheyAreSet)
{
    attachSim(Path::Tcp);
    ASSERT_NE(tcp, nullptr);
    const long served = tcp->port();
    struct Case
    {
        long port;
        bool valid;
    };
    // A port above 65535 must not reach the socket as its low 16 bits: the
    // server is listening on exactly those.
    const Case cases[] = {{100, false},   {served, true},    {served + 65536, false},
                          {65536, false}, {-served, false}, {4294967296L + served, false}};
    for (const Case& c : cases) {
        for (bool fromScript : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.port << (fromScript ? " from a script" : " from the store"));
            loggedEntries().clear();
            const QString label = "SerialComm 127.0.0.1:" + QString::number(fromScript ? long(qint32(c.port)) : c.port);
            bool open = false;
            if (fromScript) {
                // A script drives its own link object through the members it reaches by name.
                SerialComm s;
                s.setIP("127.0.0.1");
                s.setCommPortLong(qint32(c.port));
                s.setPortOpen(true);
                open = s.PortOpen();
                if (c.port != qint32(c.port))
                    continue; // a script's Long cannot hold it; the store's case covers it
            } else {
                gPlugin.CommPort = QString::number(c.port);
                link->OpenCommLink();
                open = gPlugin.PortOpenFlag;
                link->CloseCommLink(false);
            }
            EXPECT_EQ(open, c.valid);
            EXPECT_EQ(logged(label + " is not valid IP:Port"), !c.valid) << loggedEntries().join("\n").toStdString();
        }
    }
}

TEST_F(LinkLimits, ServerKeepingEachConnectionBrieflyIsOneOutageUntilTheLinkStaysHealthy)
{
    gControllerTiming.reconnectMs = 100;
    gControllerTiming.healthyMs = 1500;
    openTcp();
    // The server drops each connection a quarter second after taking it.
    bool dropping = true;
    QObject::connect(tcp.get(), &SimTransport::clientConnected, sim.get(), [&] {
        QTimer::singleShot(250, sim.get(), [&] {
            if (dropping)
                sim->dropConnection();
        });
    });
    loggedEntries().clear();
    sim->dropConnection();
    waitFor([] { return false; }, 3000);
    const int connections = tcp->accepted();
    EXPECT_GE(connections, 4) << "the server was not tried again";
    EXPECT_EQ(loggedEntries().filter("IP Connection Closed").size(), 1) << loggedEntries().join("\n").toStdString();

    // A link that then stays up long enough, with the controller answering on
    // it, ends the outage: the next drop is logged again.
    dropping = false;
    ASSERT_TRUE(waitFor([&] { return gPlugin.PortOpenFlag; }, 5000));
    waitFor([] { return false; }, linkTiming().healthyMs + 500);
    EXPECT_TRUE(link->outageLogged()) << "a link up with nobody answering on it ended the outage";
    cmds->SetVar(1, 2);
    EXPECT_FALSE(link->outageLogged());
    sim->dropConnection();
    ASSERT_TRUE(waitFor([&] { return loggedEntries().filter("IP Connection Closed").size() == 2; }, 5000))
        << loggedEntries().join("\n").toStdString();
}

TEST_F(LinkLimits, ServerDroppingEveryConnectionAtStartIsOneOutageWhoeverOpensTheLink)
{
    gControllerTiming.reconnectMs = 100;
    gControllerTiming.healthyMs = 1500;
    attachSim(Path::Tcp);
    QObject::connect(tcp.get(), &SimTransport::clientConnected, sim.get(),
                     [&] { QTimer::singleShot(30, sim.get(), [&] { sim->dropConnection(); }); });
    loggedEntries().clear();
    // The host form's open, the plug-in's and a later look for the controller.
    for (int side = 0; side < 3; ++side) {
        link->OpenCommLink();
        waitFor([] { return false; }, 400);
    }
    EXPECT_GE(tcp->accepted(), 3) << "the server was not tried again";
    EXPECT_EQ(loggedEntries().filter("IP Connection Closed").size(), 1) << loggedEntries().join("\n").toStdString();
}
