#include "host/FixedMembers.h"

#include "host/Application.h"

namespace {

enum class K { Method, Get, Let };
enum class R { None, Text, Zero, False, Nothing };

struct Fixed {
    const char *name;
    K kind;
    int arguments; // at most this many
    R result;
    int optional = 0; // how many of the last arguments may be left out
};

const Fixed kFixed[] = {
    {"AddVoiceCommand", K::Method, 1, R::None},
    {"ClearAllVoiceCommands", K::Method, 0, R::None},
    {"DeviceVCBuild", K::Method, 0, R::Text},
    {"DeviceVCProcess", K::Method, 3, R::Text},
    {"LastCommandSelected", K::Let, 1, R::None},
    {"LastCommandSelected", K::Get, 0, R::Text},
    {"LastVoiceCommand", K::Let, 1, R::None},
    {"ListenForCommands", K::Method, 1, R::None},
    {"ListenMode", K::Method, 0, R::Zero},
    {"MuteSpeech", K::Let, 1, R::None},
    {"MuteSpeech", K::Get, 0, R::False},
    {"SetSpeaker", K::Method, 1, R::None},
    {"SetSpeakingSpeed", K::Method, 1, R::Zero},
    {"SetVRThreshold", K::Method, 1, R::None},
    {"StartListen", K::Method, 0, R::None},
    {"StopListen", K::Method, 0, R::None},
    {"StopSpeaking", K::Method, 0, R::None},
    {"GetVolume", K::Method, 2, R::Zero},
    {"MediaFilename", K::Let, 1, R::None},
    {"MediaFilename", K::Get, 0, R::Text},
    {"MediaIsPlaying", K::Method, 0, R::False},
    {"MediaMute", K::Method, 1, R::None},
    {"MediaPause", K::Method, 0, R::None},
    {"MediaPlay", K::Method, 0, R::None},
    {"MediaStop", K::Method, 0, R::None},
    {"MediaVolume", K::Let, 1, R::None},
    {"MediaVolume", K::Get, 0, R::Zero},
    {"PlayWavFile", K::Method, 1, R::None},
    {"PlayWavFileEx", K::Method, 4, R::None},
    {"SetAudioEvent", K::Method, 2, R::None},
    {"SetVolume", K::Method, 3, R::None, 1},
    {"MailDate", K::Method, 1, R::Text},
    {"MailDelete", K::Method, 1, R::None},
    {"MailFrom", K::Method, 1, R::Text},
    {"MailFromDisplay", K::Method, 1, R::Text},
    {"MailMsgCount", K::Method, 0, R::Zero},
    {"MailSubject", K::Method, 1, R::Text},
    {"MailText", K::Method, 1, R::Text},
    {"MailTo", K::Method, 1, R::Text},
    {"MailToDisplay", K::Method, 1, R::Text},
    {"MailTrigger", K::Method, 0, R::Zero},
    {"SendEmail", K::Method, 5, R::None, 1},
    {"PhoneEvent", K::Method, 3, R::Text},
    {"CloseComPort", K::Method, 1, R::Text},
    {"GetComPortCount", K::Method, 1, R::Zero},
    {"GetComPortData", K::Method, 1, R::Text},
    {"OpenComPort", K::Method, 5, R::Text},
    {"OpenComPortEx", K::Method, 7, R::Text, 2},
    {"SendToComPort", K::Method, 2, R::Text},
    {"SetComPortRTSDTR", K::Method, 3, R::Text},
    {"ftp", K::Method, 7, R::Text},
    {"FTPLastError", K::Method, 0, R::Text},
    {"ftpSetProxy", K::Method, 5, R::None},
    {"GetIPAddress", K::Method, 0, R::Text},
    {"GetURL", K::Method, 4, R::Text},
    {"GetURLIE", K::Method, 2, R::Text},
    {"ping", K::Method, 2, R::Zero, 1},
    {"PutURL", K::Method, 2, R::Text},
    {"URLAction", K::Method, 4, R::Text},
    {"GetPrinter", K::Method, 0, R::Nothing},
    {"PrintOut", K::Method, 1, R::Text},
    {"PrintOutRaw", K::Method, 2, R::Text},
    {"DelayTrigger", K::Method, 2, R::None},
    {"GetTSPRef", K::Method, 0, R::Nothing},
    {"GetLastEvent", K::Method, 0, R::Text},
    {"NewRecurringEvent", K::Method, 13, R::False, 1},
    {"NewTimeEvent", K::Method, 14, R::False, 1},
    {"RegisterLink", K::Method, 1, R::Text},
    {"RemoveDelayedEvent", K::Method, 2, R::None},
    {"ResetTSPCallback", K::Method, 0, R::None},
    {"SaveEventDevices", K::Method, 0, R::Text},
    {"ScheduleFile", K::Let, 1, R::None},
    {"ScheduleFile", K::Get, 0, R::Text},
    {"SetConfigChangeEvent", K::Method, 3, R::None},
    {"SetTSPCallback", K::Method, 1, R::None},
    {"SetLogEvent", K::Method, 3, R::None},
    {"SetStatusChange", K::Method, 5, R::None},
    {"SetStringChangeEvent", K::Method, 2, R::None},
    {"SetX10Event", K::Method, 5, R::None},
    {"SetX10TransmitEvent", K::Method, 6, R::None},
    {"TriggerEvent", K::Method, 1, R::Zero},
    {"TriggerEventEx", K::Method, 2, R::Zero},
    {"UnregisterStatusChangeCB", K::Method, 0, R::Text},
    {"ClearLastX10", K::Method, 0, R::None},
    {"LastX10", K::Method, 0, R::Text},
    {"ControlThermostat", K::Method, 3, R::Text},
    {"DeleteIODevices", K::Method, 1, R::None},
    {"DeviceButtonAdd", K::Method, 3, R::None},
    {"DeviceButtonRemove", K::Method, 2, R::None},
    {"DeviceCount", K::Let, 1, R::None},
    {"DeviceValueAdd", K::Method, 3, R::None},
    {"EventCount", K::Let, 1, R::None},
    {"NewIRKey", K::Method, 6, R::Zero},
    {"PollDevice", K::Method, 1, R::None},
    {"Transmit", K::Method, 8, R::Zero},
    {"UpdateSingleDevice", K::Method, 4, R::Text},
    {"X10InterfaceStatus", K::Method, 0, R::Zero},
    {"DecryptString", K::Method, 2, R::Text},
    {"EncryptString", K::Method, 3, R::Text, 1},
    {"InstallScript", K::Method, 2, R::Text},
    {"isScriptRunning", K::Method, 1, R::False},
    {"LastSecurityEvent", K::Method, 0, R::Text},
    {"SetSecurityMode", K::Method, 1, R::None},
    {"WebLoggedInUser", K::Method, 0, R::Text},
    {"WEBStatsPageViews", K::Let, 1, R::None},
    {"WEBStatsPageViews", K::Get, 0, R::Zero},
    {"WEBValidateUser", K::Method, 2, R::False},
    {"AppReset", K::Method, 0, R::None},
    {"AppStarting", K::Method, 0, R::False},
    {"CheckRunStatus", K::Method, 2, R::False},
    {"ClearLog", K::Method, 0, R::None},
    {"DaylightSavings", K::Get, 0, R::False},
    {"DaylightSavings", K::Let, 1, R::None},
    {"EnterCriticalSection", K::Method, 0, R::None},
    {"ExitCriticalSection", K::Method, 0, R::None},
    {"hwnd", K::Get, 0, R::Zero},
    {"hwnd", K::Let, 1, R::None},
    {"LocalDST", K::Method, 0, R::Zero},
    {"LocalTimeZone", K::Method, 0, R::Zero},
    {"MoveSettings", K::Method, 2, R::Zero},
    {"NewUpdateAvailable", K::Let, 1, R::None},
    {"PowerFailRecover", K::Method, 0, R::None},
    {"RestartSystem", K::Method, 0, R::None},
    {"SetRemoteTimeout", K::Method, 1, R::None},
    {"Shutdown", K::Method, 0, R::None},
    {"solarnoon", K::Let, 1, R::None},
    {"SunriseDt", K::Let, 1, R::None},
    {"SunsetDt", K::Let, 1, R::None},
    {"SystemUpTime", K::Method, 0, R::Text},
    {"ThreadID", K::Let, 1, R::None},
    {"ThreadID", K::Get, 0, R::Zero},
    {"TimeZoneName", K::Let, 1, R::None},
};

Variant resultOf(R r)
{
    switch (r) {
    case R::Text:
        return Variant(QString());
    case R::Zero:
        return Variant::fromLong(0);
    case R::False:
        return Variant(false);
    case R::Nothing:
        return Variant::nothing();
    case R::None:
        break;
    }
    return Variant();
}

} // namespace

void describeFixedMembers(DispatchTable<Application> &t)
{
    for (const Fixed &f : kFixed) {
        const QString name = QString::fromLatin1(f.name);
        switch (f.kind) {
        case K::Let:
            t.let(name, &Application::IgnoreValue);
            break;
        case K::Get:
            switch (f.result) {
            case R::Text:
                t.get(name, &Application::FixedText);
                break;
            case R::Zero:
                t.get(name, &Application::FixedZero);
                break;
            case R::False:
                t.get(name, &Application::FixedFalse);
                break;
            default:
                t.get(name, &Application::FixedNothing);
                break;
            }
            break;
        case K::Method:
            t.raw(name, [f](Application &, CallKind kind, std::vector<Variant> &args) {
                if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet)
                    throw VbError(VbErr::NotSupported);
                if (int(args.size()) > f.arguments)
                    throw VbError(VbErr::WrongArgumentCount);
                if (int(args.size()) < f.arguments - f.optional)
                    throw VbError(VbErr::ArgumentNotOptional);
                return resultOf(f.result);
            });
            break;
        }
    }
}
