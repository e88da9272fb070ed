#pragma once

#include "automation/Dispatch.h"

#include "core/IniTool.h"

#include <memory>

// The hidden host form: its load creates the host object and every
// process-wide object of the host side and loads the device store; its
// unload saves the store and releases them. It is also the callback object
// the controller plug-in calls back into by member name.
class Setup : public DispatchObject<Setup>
{
public:
    static void describe(DispatchTable<Setup> &t);

    void Form_Load();
    void Form_Unload();
    void App_Initialize();
    void App_Terminate();
    void Startup();
    void GetSelectedPlugins(const Variant &name);
    // The form's own button: loads and shows the plug-in selection dialog.
    void aSetupButton_Click();

    // Callback interface of the plug-in.
    ObjectPtr GetTSIface();
    void RegisterMenu(const QString &first, const QString &second);
    void RegisterMenuEx(const QString &first, const QString &second, const QString &third);
    void UnRegisterAllMenus(const Variant &) {}
    void ForceFront(const Variant &) {}
    qint16 GetNextFreeIOCode();
    void CheckTrigger(const Variant &) {}
    void X10Event(const QString &units, const QString &house, qint16 command, const Variant &a, const Variant &b);
    void IREvent(qint16 code);
    void WriteSplash(const Variant &) {}
    void ValueChangeEvent(const QString &dc, qint32 value);
    void DisplayEvDTMF(const Variant &) {}
    void RegisterProxySpeakPlug(const Variant &) {}
    void UnRegisterProxySpeakPlug(const Variant &) {}
    void RegisterEventCB(qint32 evtype, const Variant &obj);
    void SendXapMessage(const QString &target, const QString &cls, const QString &section, const QString &body);
    void SuppressXAP(bool flag);

    // Device store.
    bool InitDevices();
    void ReadIRDevices();
    void SaveDevices();
    void ReadDeviceState();
    void SetupIRDictionary();

    QString caption() const { return m_caption; }
    // Settings.ini as the host form holds it (null before the load).
    IniTool *settingsFile() const { return m_settings.get(); }

private:
    std::unique_ptr<IniTool> m_settings;
    QString m_caption;
};

using SetupPtr = std::shared_ptr<Setup>;
