#pragma once

#include <QString>

// The device store of the host: the devices and their last state in
// [PluginDevices] of tvkXapKorvane.ini, the learned-IR slots in [IRDevices],
// and the one-way import of device_state.txt.
class DeviceStore
{
public:
    static const QString kStoreFile;

    // Loads [PluginDevices] and then the IR slots; true when the section held anything.
    static bool InitDevices();
    // Replaces the IR slot collection by 1024 slots read from [IRDevices].
    static void ReadIRDevices();
    // Rewrites both sections in the INI cache (the next flush writes the file).
    static void SaveDevices();
    // Applies device_state.txt of the program folder to existing devices.
    static void ReadDeviceState();
    // Fills the IR-name dictionary from the IR label and zone files.
    static void SetupIRDictionary();
};
