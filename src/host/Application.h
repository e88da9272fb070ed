#pragma once

#include "host/DeviceClass.h"
#include "host/EventClass.h"

#include "automation/Collection.h"

// The host object `hs`: the device and event store, the live device state
// with its change reports, and the cached INI service. Every argument of its
// members is passed by reference, so a script's variable takes back what a
// member leaves in it. All state is process-wide: two Application objects
// see the same devices.
class Application : public DispatchObject<Application>
{
public:
    static void describe(DispatchTable<Application> &t);

    // Device and event store.
    qint16 DeviceExists(QString &device);
    qint16 DeviceExistsByName(QString &sname);
    DeviceClassPtr GetDevice(qint16 &index);
    DeviceClassPtr GetDeviceByRef(int &ref);
    DeviceClassPtr GetDeviceByCode(QString &device);
    QString GetDeviceCode(QString &name);
    DeviceClassPtr GetDeviceEx(QString &deviceName);
    int GetDeviceRef(QString &sAddress);
    int GetDeviceRefByName(QString &deviceName);
    CollectionPtr GetDeviceList();
    qint16 DeviceCount();
    qint16 NewDevice(QString &name);
    DeviceClassPtr NewDeviceEx(QString &name);
    bool DeleteDevice(int &ref);
    qint16 NewEvent(QString &name);
    EventClassPtr NewEventEx(QString &name);
    EventClassPtr GetEvent(qint16 &index);
    qint16 GetEventIndex(QString &eventName);
    EventClassPtr GetEventEx(QString &eventName);
    bool EventExists(QString &eventName);
    void DeleteEvent(QString &evname);
    void EnableEvent(QString &evname);
    void DisableEvent(QString &evname);
    qint16 EventCount();
    CollectionPtr GetEventList();
    ObjectPtr NewCondition();
    ObjectPtr NewDevFunc();

    // Device state.
    qint16 DeviceStatus(QString &dev);
    bool isOn(QString &device);
    bool isOff(QString &device);
    int DeviceValue(QString &dev);
    QString DeviceString(QString &dev);
    Variant DeviceLastChange(QString &dev);
    int DeviceTime(QString &dev);
    int DeviceValueByName(QString &name);
    int DeviceTimeByName(QString &name);
    QString DeviceStringByName(QString &name);
    bool isOnByName(QString &deviceName);
    bool isOffByName(QString &deviceName);
    void SetDeviceStatus(QString &dev, qint16 &Status);
    void SetDeviceStatusNoReport(QString &dev, qint16 &Status, qint16 &iReport);
    void SetDeviceValue(QString &dev, int &Value);
    void SetDeviceValueNoReport(QString &dev, int &Value, qint16 &iReport);
    void SetDeviceString(QString &dev, QString &str, Variant &Reset);
    void SetDeviceTime(QString &dev, int &Value);
    void SetDeviceLastChange(QString &dev, Variant &change_time);
    void SetDeviceValueByName(QString &devName, int &Value);
    void SetDeviceStringByName(QString &devName, QString &str, Variant &Reset);
    void RegisterEventCB(int &evtype, Variant &obj);
    Variant RegisterStatusChangeCB(QString &Script, QString &func);
    // What a script can register: beyond it a registration is refused with a log entry.
    static constexpr int kMostStatusChangeScripts = 100;
    static constexpr int kMostEventCallbacks = 1000; // per event type
    static constexpr int kEventCallbackSlots = 7;
    // The user's script was read again: what it registered goes with it (the status-change
    // scripts, the places of its objects among the event callbacks, the callbacks waiting).
    static void forgetScriptRegistrations();

    // INI service of the Config folder.
    QString GetIniSetting(QString &group, QString &Key, QString &defaultValue, QString &sFile);
    void SaveIniSetting(QString &group, QString &Key, QString &Value, QString &sFile);
    QString GetINISection(QString &group, QString &sFile);
    void ClearINISection(QString &group, QString &sFile);
    void FlushIniCache();

    QString GetAppPath();

    // Commands sent as xAP requests (ApplicationXapRequests.cpp).
    qint16 ExecX10(QString &code, QString &cmd, qint16 &dimval, qint16 &data2, bool &Wait);
    qint16 ExecX10ByName(QString &devName, QString &cmd, qint16 &dimval, qint16 &data2, bool &Wait);
    qint16 ExecX10NoLog(QString &code, QString &cmd, qint16 &dimval, qint16 &data2, bool &Wait);
    void SetX10Status(QString &code, QString &cmd, qint16 &dimval, qint16 &data2);
    void ExecIO(QString &code, QString &cmd, qint16 &brightness, qint16 &iData1);
    void hsSetIO(Variant &dv, QString &housecode, QString &DeviceCode, qint16 &command, int &brightness,
                 qint16 &data1, qint16 &data2);
    void X10(Variant &sDevice, Variant &sCommand, Variant &sBrightness);
    void SendIR(QString &IR);
    void Speak(QString &sText, bool &Wait);
    void SpeakEx(qint16 &device, QString &text, bool &Wait);
    void SpeakProxy(qint16 &device, QString &text, bool &Wait);
    void SpeakToFile(QString &txt, QString &voice, QString &filename);
    void WriteLog(QString &c, QString &message);

    // Script files run inside the process (ApplicationScripting.cpp).
    void Run(QString &sFilename);
    Variant RunEx(QString &sFilename, QString &sProcedure, QString &sParameter);
    ObjectPtr Spawn(QString &sScriptName, QString &sProcedure, QString &sScriptParm);

    // The running program, the plug-ins, waits and values kept for scripts
    // (ApplicationProcess.cpp).
    QString Version();
    qint16 InterfaceVersion();
    QString TimeZoneName();
    QString GetScriptPath();
    int Launch(QString &name, Variant &params, Variant &direc);
    void Keys(QString &k, QString &title, Variant &Wait);
    ObjectPtr plugin(QString &name);
    ObjectPtr System();
    void WaitSecs(Variant &secs);
    void WaitEvents();
    void SetLastVoiceCommand(QString &s);
    QString LastVoiceCommand();
    bool NoLog();
    void setNoLog(bool &value);
    int DebugMode();
    void setDebugMode(int &value);
    ObjectPtr CreateClassString();
    QString CreateVar(QString &name);
    void DeleteVar(QString &name);
    QString StringItem(QString &st, int &idx, QString &sep);
    Variant solarnoon();
    Variant NewUpdateAvailable();

    // Sunrise and sunset (ApplicationSun.cpp).
    void ComputeSunriseAndSunset(double &Latitude, double &Longitude, qint16 &iGMTOffset, bool &bDST);
    Variant SunriseDt();
    Variant SunsetDt();
    Variant NightTime(Variant &iMinutesOffset);

    // C++ conveniences over the members above, for callers holding temporaries.
    qint16 deviceStatus(QString dev) { return DeviceStatus(dev); }
    int deviceValue(QString dev) { return DeviceValue(dev); }
    QString deviceString(QString dev) { return DeviceString(dev); }
    double deviceLastChange(QString dev) { return DeviceLastChange(dev).toDate(); }
    QString getIniSetting(QString group, QString key, QString def, QString file)
    {
        return GetIniSetting(group, key, def, file);
    }
    void saveIniSetting(QString group, QString key, QString value, QString file)
    {
        SaveIniSetting(group, key, value, file);
    }
    DeviceClassPtr deviceAt(int position) const; // 1-based; null outside
    DeviceClassPtr addDevice(const QString &name); // the next ref, appended to the collection
    DeviceClassPtr deviceByCode(const QString &code) const;

    // The halves of the fixed properties (see FixedMembers).
    void IgnoreValue(Variant &) {}
    Variant FixedText() { return Variant(QString()); }
    Variant FixedZero() { return Variant::fromLong(0); }
    Variant FixedFalse() { return Variant(false); }
    Variant FixedNothing() { return Variant::nothing(); }

private:
    static void describeXapRequests(DispatchTable<Application> &t);
    static void describeScripting(DispatchTable<Application> &t);
    static void describeProcess(DispatchTable<Application> &t);
    static void describeSun(DispatchTable<Application> &t);
    void execX10Code(const QString &code, const QString &cmd, qint16 dimval, qint16 data2);

    DeviceClassPtr deviceByName(const QString &locationAndName, int *position) const;
    EventClassPtr eventAt(int position) const;
    EventClassPtr addEvent(const QString &name); // appended to the collection
    int eventIndex(const QString &eventName) const;
    void fireCallbacks(int slot, const QStringList &texts);
    void runStatusScripts(const QString &dev, qint16 status);
    void hsSetIO(const QString &dev, int value);
    void SendXapIfEnabled(const QString &cls, const QString &section, const QString &body);
    void reportState(const QString &dev, const QString &property, const QString &value);
    void storeStatus(const QString &dev, qint16 status, bool callbacks, bool report, bool noReportVariant);
};

using ApplicationPtr = std::shared_ptr<Application>;
