// The host's X10, I/O, IR, speech and log commands: each goes out as one xAP
// request. X10 and IR requests come back in through the bridge, which carries
// them out on the controller; speech and log entries are for other programs.

#include "host/Application.h"
#include "host/HostClock.h"
#include "host/HostGlobals.h"
#include "host/Trap.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

namespace {

const QString kX10Class = QStringLiteral("xap-x10.request");
const QString kSpeechClass = QStringLiteral("xap-tts.speak");
const QString kSpeechSection = QStringLiteral("tts.speak");

// VB's UCase on the 8-bit code page: letters that have no capital there stay.
QString latin1Upper(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const QChar up = Latin1Case::upper(c);
        if (up.unicode() < 256)
            c = up;
    }
    return out;
}

void send(const QString &cls, const QString &section, const QString &body)
{
    SendXap(QString(), cls, section, body, QString(), QString());
}

void sendSpeech(const QString &say, const QString &device)
{
    send(kSpeechClass, kSpeechSection, XapBody({{QStringLiteral("Say"), say}, {QStringLiteral("Device"), device}}));
}

// Members whose errors are logged with an empty label, as the host does.
template<class F>
void trappedQuietly(F &&body)
{
    trappedVoid(QString(), std::forward<F>(body));
}

} // namespace

void Application::describeXapRequests(DispatchTable<Application> &t)
{
    t.method("ExecX10", &Application::ExecX10, Optional{3});
    t.method("ExecX10ByName", &Application::ExecX10ByName, Optional{3});
    t.method("ExecX10NoLog", &Application::ExecX10NoLog, Optional{3});
    t.method("SetX10Status", &Application::SetX10Status);
    t.method("ExecIO", &Application::ExecIO);
    t.method("hsSetIO",
             static_cast<void (Application::*)(Variant &, QString &, QString &, qint16 &, int &, qint16 &, qint16 &)>(
                 &Application::hsSetIO));
    t.method("X10", &Application::X10, Optional{1});
    t.method("SendIR", &Application::SendIR);
    t.method("Speak", &Application::Speak);
    t.method("SpeakEx", &Application::SpeakEx, Optional{1});
    t.method("SpeakProxy", &Application::SpeakProxy, Optional{1});
    t.method("SpeakToFile", &Application::SpeakToFile);
    t.method("WriteLog", &Application::WriteLog);
}

void Application::execX10Code(const QString &code, const QString &cmd, qint16 dimval, qint16 data2)
{
    const QString house = latin1Upper(code.left(1));
    if (!house.isEmpty() && house.at(0) >= QLatin1Char('A') && house.at(0) <= QLatin1Char('P')) {
        QString c = code;
        QString command = cmd;
        qint16 brightness = dimval;
        qint16 data = data2;
        ExecIO(c, command, brightness, data);
    } else {
        QString c = code;
        int value = dimval;
        SetDeviceValue(c, value);
    }
}

qint16 Application::ExecX10(QString &code, QString &cmd, qint16 &dimval, qint16 &data2, bool &)
{
    return trapped<qint16>(QStringLiteral("ExecX10"), 0, [&] {
        execX10Code(code, cmd, dimval, data2);
        return qint16(1);
    });
}

qint16 Application::ExecX10ByName(QString &devName, QString &cmd, qint16 &dimval, qint16 &data2, bool &)
{
    return trapped<qint16>(QStringLiteral("ExecX10ByName"), 0, [&] {
        QString code = GetDeviceCode(devName);
        execX10Code(code, cmd, dimval, data2);
        SetX10Status(code, cmd, dimval, data2);
        return qint16(1);
    });
}

qint16 Application::ExecX10NoLog(QString &code, QString &cmd, qint16 &dimval, qint16 &data2, bool &)
{
    return trapped<qint16>(QString(), 0, [&] {
        execX10Code(code, cmd, dimval, data2);
        SetX10Status(code, cmd, dimval, data2);
        return qint16(1);
    });
}

void Application::SetX10Status(QString &code, QString &cmd, qint16 &dimval, qint16 &data2)
{
    trappedVoid(QStringLiteral("SetX10Status"), [&] {
        if (!gX10CommandTable)
            throw VbError(VbErr::ObjectVariableNotSet);
        qint16 status = 0;
        if (gX10CommandTable->exists(Variant(cmd)))
            status = gX10CommandTable->item(Variant(cmd)).toInteger();
        if (status < 2 || status > 5)
            status = 17;
        const qint16 current = DeviceStatus(code);
        const QString kind = status != current ? QStringLiteral("20") : QStringLiteral("16");
        if (!gLoading)
            fireCallbacks(4, {kind, code.mid(1), code.left(1), cmd, QString::number(dimval), QString::number(data2)});
        qint16 report = 2;
        SetDeviceStatusNoReport(code, status, report);
    });
}

void Application::ExecIO(QString &code, QString &cmd, qint16 &brightness, qint16 &)
{
    trappedVoid(QStringLiteral("ExecIO"), [&] {
        const QString command = QString(cmd).replace(QLatin1Char(' '), QLatin1Char('_'));
        const QString upper = latin1Upper(cmd);
        if (upper == QLatin1String("ON") || upper == QLatin1String("OFF")) {
            SendXapIfEnabled(kX10Class, kX10Class,
                             XapBody({{QStringLiteral("Device"), code}, {QStringLiteral("Command"), command}}));
        } else {
            SendXapIfEnabled(kX10Class, kX10Class,
                             XapBody({{QStringLiteral("Device"), code},
                                      {QStringLiteral("Count"), QString::number(brightness)},
                                      {QStringLiteral("Command"), command}}));
        }
    });
}

void Application::hsSetIO(Variant &, QString &housecode, QString &DeviceCode, qint16 &command, int &brightness,
                          qint16 &data1, qint16 &data2)
{
    trappedVoid(QStringLiteral("hsSetIO"), [&] {
        if (!gMainFormReady || gHostStarted)
            return;
        SendXapIfEnabled(QStringLiteral("Tessera.IO"), QStringLiteral("Setio.Transmit"),
                         XapBody({{QStringLiteral("Device"), housecode + DeviceCode},
                                  {QStringLiteral("Value"), QString::number(brightness)},
                                  {QStringLiteral("Command"), QString::number(command)},
                                  {QStringLiteral("Data1"), QString::number(data1)},
                                  {QStringLiteral("Data2"), QString::number(data2)}}));
    });
}

void Application::X10(Variant &sDevice, Variant &sCommand, Variant &sBrightness)
{
    // A count left out goes out as 0 steps.
    const QString count = sBrightness.isEmpty() ? QStringLiteral("0") : sBrightness.toString();
    send(kX10Class, kX10Class,
         XapBody({{QStringLiteral("device"), sDevice.toString()},
                  {QStringLiteral("command"), sCommand.toString()},
                  {QStringLiteral("count"), count}}));
}

void Application::SendIR(QString &IR)
{
    trappedVoid(QStringLiteral("SendIR"), [&] {
        const QString cls = QStringLiteral("Tessera.IR");
        const QString section = QStringLiteral("IR.Transmit");
        if (!IR.contains(QLatin1Char(','))) {
            if (VbString::IsNumeric(IR))
                send(cls, section, XapBody({{QStringLiteral("Location"), IR}}));
            return;
        }
        if (!gIRNameDictionary)
            throw VbError(VbErr::ObjectVariableNotSet);
        const Variant key(latin1Upper(IR));
        if (!gIRNameDictionary->exists(key))
            return;
        const QStringList parts = gIRNameDictionary->item(key).toString().split(QLatin1Char(','));
        if (parts.size() != 2 || !VbString::IsNumeric(parts[0]) || !VbString::IsNumeric(parts[1]))
            return;
        if (parts[1] != QLatin1String("0"))
            send(cls, section, XapBody({{QStringLiteral("Zone"), parts[1]}, {QStringLiteral("Location"), parts[0]}}));
        else
            send(cls, section, XapBody({{QStringLiteral("Location"), parts[0]}}));
    });
}

void Application::Speak(QString &sText, bool &)
{
    trappedQuietly([&] {
        if (gLoading) {
            sendSpeech(sText, QStringLiteral("0"));
            return;
        }
        fireCallbacks(3, {QStringLiteral("8"), QStringLiteral("1"), QStringLiteral("0")});
        sendSpeech(sText, QStringLiteral("0"));
        fireCallbacks(3, {QStringLiteral("8"), QStringLiteral("0"), QStringLiteral("0")});
    });
}

void Application::SpeakEx(qint16 &device, QString &text, bool &)
{
    trappedQuietly([&] { sendSpeech(text, QString::number(device)); });
}

void Application::SpeakProxy(qint16 &, QString &, bool &) {}

void Application::SpeakToFile(QString &txt, QString &voice, QString &filename)
{
    trappedQuietly([&] {
        send(kSpeechClass, kSpeechSection,
             XapBody({{QStringLiteral("Say"), txt},
                      {QStringLiteral("Device"), filename},
                      {QStringLiteral("Voice"), voice}}));
    });
}

void Application::WriteLog(QString &c, QString &message)
{
    trappedQuietly([&] {
        const QString now = VbDate::formatGeneralDate(HostClock::now());
        if (!gLoading)
            fireCallbacks(1, {QStringLiteral("2"), now, c, message});
        send(QStringLiteral("Tessera.Event"), QStringLiteral("Event.Log"),
             XapBody({{QStringLiteral("Time"), now},
                      {QStringLiteral("Type"), CutLogText(c)},
                      {QStringLiteral("Data"), CutLogText(message)}}));
    });
}
