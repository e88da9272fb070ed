#pragma once
// The reply wait and the report parser over TCP to the simulator, the link open.
#include "TestSupport.h"
#include "controller/link/Frames.h"

#include <QElapsedTimer>

inline QByteArray hex(const char* s) { return QByteArray::fromHex(s); }

class ProtocolTest : public LinkFixture
{
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        openTcp();
        gPlugin.X10Started = true;
        gPlugin.IREnabled = true;
        gPlugin.ReplyTimeout = 2;
    }
    // A 3-byte acknowledged command while the simulator does something first.
    bool command() { return sendAndWait(Frames::Command(0x29, 1, 7), 3, 0); }
    bool sendAndWait(const QByteArray& f, int len, int first)
    {
        protocol->SendFrame(f);
        return protocol->WaitReply(2, len, first);
    }
    // Three commands after whatever a test did to the line: each gets its
    // acknowledgement at once.
    void expectLineFree()
    {
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer t;
            t.start();
            EXPECT_TRUE(command()) << "command " << i;
            EXPECT_LT(t.elapsed(), 1000) << "command " << i << " waited for its acknowledgement";
        }
        EXPECT_EQ(sim->vars[1], 7);
    }
    // The report loop's passes, every 100 ms, for ms milliseconds.
    void reportLoop(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            protocol->ReadReports();
            waitFor([] { return false; }, 100);
        }
    }
};
