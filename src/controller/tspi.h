#pragma once
#include "automation/Dispatch.h"

#include <memory>

// The controller plug-in as the host sees it. The host creates one, hands it
// its callback object, starts its X10, IR and I/O sides by capability and then
// calls it by member name only; scripts, the bridge and the status page call
// the same members. Its state is process-wide (shared by every instance).
class tspi : public DispatchObject<tspi>
{
public:
    tspi();
    ~tspi() override;
    static void describe(DispatchTable<tspi>& t);

    qint16 AccessLevel() const { return 1; }
    qint32 Capabilities() const { return 7; }
    QString name() const;
    Variant RegisterCallback(const ObjectPtr& frm);
    Variant SelectMenu(const Variant& strMenu);
    qint16 InterfaceStatus();
    void ConfigX10();
    Variant ShutDownX10();
    QString InitX10(qint32 port);
    Variant Exec(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
                 qint32 brightness, qint16 data1, qint16 data2);
    Variant ExecWait(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
                     qint32 brightness, qint16 data1, qint16 data2);
    // False when the command was not queued (ring full, or the controller has stopped answering).
    bool QExec(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
               qint32 brightness, qint16 data1, qint16 data2);
    qint16 GetDeviceStatus(const QString& housecode, const QString& DeviceCode);
    qint32 IRPortType() const { return 1; }
    QString InitIR(qint32 port);
    Variant ShutDownIR();
    qint16 MaxKeys() const { return 36; }
    qint16 MaxDevices();
    bool HasOptions() const { return false; }
    bool SupportsIRMatch() const { return true; }
    qint16 MaxZones();
    Variant IsMatchable(qint32 loc);
    qint32 KeyColor(qint32) const { return 0; }
    bool KeyLearnable(qint32) const { return true; }
    void SetZone(qint32 zone);
    Variant LearnIR(qint32 loc);
    QString InitIO(qint32 port);
    void ShutdownIO();
    void ConfigIO();
    void ConfigIR();
    void SetPoint(qint16 unit, qint16 point, qint16 Value);
    void SetIO(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
               qint16 brightness, qint16 data1, qint16 data2);
    Variant GetUnit(qint16 unitnum);
    bool PollIO();
    qint32 GetVar(qint16 varnum);
    bool PollVars();
    qint16 StartGetAnalog(qint16 unit, qint16 point);
    qint32 GetAnalogInputValue(qint16 unit, qint16 point);
    bool IsBusy();
    qint32 GetAnalogInput(qint16 unit, qint16 point);
    qint32 GetPoint(qint16 unit, qint16 point, bool digital);
    qint32 GetParameter(qint16 unit, qint16 pnum);
    QString InitCPUQX();
    Variant EnableTouch(qint16 mode);
    Variant PlayIR(qint32 loc);
    qint16 PlayIREx(const Variant& loc);
    Variant PlayRemoteIR(qint16 addr, qint16 zone, qint16 loc);
    Variant LearnIRStart(qint32 loc);
    void LearnIREnd();
    qint16 SetVar(qint16 vnum, qint32 Data);
    qint16 WriteScreen(qint16 x, qint16 y, const QString& txt, bool backlight, qint16 font, bool Clear, bool beep);
    qint16 xasend(const Variant& buf);
    void SetTimeOut(qint16 Timeout);
    void onComm();

    // Reads the plug-in settings and prepares mappings and timers (each start).
    static void InitPlugin();
    // wholeProgram: also ends the bridge's receive side and unloads the other
    // forms, as at the program's exit; false when only the plug-in is restarted.
    static void ShutdownInterface(bool wholeProgram = true);
    static int InstanceCount();

private:
    void ReadOptions();
    void config(const QString& member);
    bool registered() const;
};

// Back to a plug-in never created (tests, and the watchdog's restart).
void ResetPluginRuntime();
