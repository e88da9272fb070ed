#pragma once
// The reply wait and the report parser over TCP to the simulator, the link open.
#include "TestSupport.h"
#include "controller/link/Frames.h"

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
};
