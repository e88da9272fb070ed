#include "HostCommands.h"
#include "core/Shutdown.h"
#include "link/CommsLog.h"
#include "link/Frames.h"
#include "PluginState.h"
#include "Protocol.h"
#include "WriteMirror.h"
#include "automation/AnsiCodePage.h"

namespace {
const QString kType = "xaptvkKorvane";

} // namespace

HostCommands::HostCommands(Protocol& protocol, QObject* parent) : QObject(parent), m_protocol(protocol) {}

bool HostCommands::exchange(const QByteArray& frame)
{
    TransferBusyScope busy;
    xasend(frame);
    return m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
}

QByteArray HostCommands::SetVarFrame(int vnum, long Data)
{
    long v = Data;
    if (v < 0)
        v &= 0xFFFF;      // a negative value is its 16-bit two's complement
    else if (v > 65535)
        v = 65535;
    return Frames::Command(0x29, quint8(vnum), quint8(v % 256), quint8(v / 256));
}

int HostCommands::SetVar(int vnum, long Data)
{
    if (vnum < 0 || vnum > 255) {
        LogControllerError(kType, "SetVar variable " + QString::number(vnum) + " out of range, not sent");
        return 0;
    }
    if (Data > 65535)
        LogControllerError(kType, "SetVar value " + QString::number(Data) + " clamped to 65535");
    const QByteArray frame = SetVarFrame(vnum, Data);
    const WriteMirror::Mark before = WriteMirror::mark();
    if (exchange(frame))
        WriteMirror::variableTaken(vnum, long(quint8(frame[3])) + 256 * long(quint8(frame[4])), before);
    return 0;
}

void HostCommands::SetModulePoint(int module, int point, int value)
{
    if (module < 0 || module > 255 || point < 0 || point > 255) {
        LogControllerError(kType, QString("SetModulePoint module %1 point %2 out of range, not sent").arg(module).arg(point));
        return;
    }
    if (value < 0 || value > 255) {
        LogControllerError(kType, "SetModulePoint value " + QString::number(value) + " clamped");
        value = qBound(0, value, 255);
    }
    const WriteMirror::Mark before = WriteMirror::mark();
    if (exchange(Frames::Command(0x33, quint8(module), quint8(point), quint8(value))))
        WriteMirror::outputTaken(module, point, value, before);
}

long HostCommands::GetParameter(int unit, int pnum)
{
    if (unit < 1 || unit > 128 || pnum < 1 || pnum > 256) {
        LogControllerError(kType, QString("GetParameter unit %1 parameter %2 out of range").arg(unit).arg(pnum));
        return 0;
    }
    TransferBusyScope busy;
    for (int attempt = 0; attempt < 3; ++attempt) {
        xasend(Frames::Command(0x1F, quint8(pnum - 1)));
        m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
        m_protocol.Settle(gControllerTiming.parameterDelayMs);
        xasend(Frames::BlockRequest(0x8B, 0xB4));
        if (m_protocol.WaitReply(gPlugin.ReplyTimeout, 264, 0x2A)) {
            gPlugin.InterfaceStatusWord = 0;
            size_t lo = size_t(6 + 2 * (unit - 1));
            return long(gPlugin.ReplyBuffer[lo + 1]) * 256 + gPlugin.ReplyBuffer[lo];
        }
        // A wait ended by a stop is no time-out of the controller's.
        if (Shutdown::waitsEnding())
            return 0;
        LogControllerError("Warning", "Quillon Plug-in, Timeout getting parameter, retrying ...");
        gPlugin.InterfaceStatusWord = 1;
    }
    LogControllerError(kType, "Timeout getting parameter, retried 3 times");
    return 0;
}

void HostCommands::EnableTouch(int mode)
{
    exchange(Frames::Command(0x28, 0x06, 0, quint8(qBound(0, mode, 255))));
}

QByteArray HostCommands::ScreenFrame(int x, int y, const QString& txt, bool backlight, int font, bool Clear,
                                     bool beep)
{
    int flags = (backlight ? 1 : 0) + (font == 1 ? 2 : 0) + (Clear ? 4 : 0) + (beep ? 8 : 0);
    x = qBound(0, x, 65535);
    y = qBound(0, y, 65535);
    const QByteArray text = AnsiCodePage::encode(txt.left(40));
    QByteArray content(47, '\0');
    content[0] = char(flags);
    content[1] = char(text.size()); // what is actually sent, at most 40
    content[2] = char(x % 256);
    content[3] = char(x / 256);
    content[4] = char(y % 256);
    content[5] = char(y / 256);
    for (int i = 0; i < text.size(); ++i)
        content[6 + i] = text[i];
    return Frames::LongFrame(0x6D, content);
}

int HostCommands::WriteScreen(int x, int y, const QString& txt, bool backlight, int font, bool Clear, bool beep)
{
    exchange(ScreenFrame(x, y, txt, backlight, font, Clear, beep));
    return 0;
}

int HostCommands::xasend(const QByteArray& buf)
{
    return m_protocol.SendFrame(buf);
}

bool HostCommands::SetTimeOut(int Timeout)
{
    if (Timeout < 1 || Timeout > 32) {
        LogControllerError(kType, "SetTimeOut " + QString::number(Timeout) + " refused: 1 to 32 seconds");
        return false;
    }
    gPlugin.ReplyTimeout = Timeout;
    return true;
}
