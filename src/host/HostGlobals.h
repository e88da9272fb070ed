#pragma once

#include "automation/Collection.h"
#include "automation/Dictionary.h"

#include <QStringList>
#include <array>
#include <memory>

class Application;
class IniCache;
class Setup;
class StateTables;

// Process-wide objects of the host side. Everything runs on the one GUI
// thread; the host form's load creates them and its unload releases them.

extern std::shared_ptr<Application> hs; // the host object
extern std::shared_ptr<Setup> gHostForm; // the hidden host form, also the callback object

extern bool gLoading;     // the host form's load is running: setters skip callbacks and scripts
extern bool gSuppressXAP; // the host's own device-edit reports are off
extern bool gNoInterface; // a client set the companion interface name to ""
extern int gDebugMode;    // 1 turns on debug log entries
extern bool gTSIfaceHandedOut; // the plug-in has asked the callback object for the host object

extern QStringList gIOHouseChars;     // house characters handed out for I/O devices, in order
extern QStringList gX10FunctionNames; // X10 function names by function code 0 to 15
extern QString gConfigFilePath;       // the XML configuration
extern QString gLastVoiceCommand;
// The sunrise and sunset texts scripts and the page read: from the last
// "Time.Today" message, or from the host's own computation.
extern QString gSunriseText;
extern QString gSunsetText;

extern CollectionPtr gXapSendQueue; // outgoing BSC replies
extern DictionaryPtr gFilterDictionary;
extern DictionaryPtr gX10Dictionary;
extern DictionaryPtr gDeviceDictionary;
extern DictionaryPtr gIRMacroDictionary;
extern std::array<DictionaryPtr, 4> gUtilDictionaries;
extern DictionaryPtr gX10CommandTable; // "ON" 2, "OFF" 3, "DIM" 4, "BRIGHT" 5
extern DictionaryPtr gVariableNames;
extern DictionaryPtr gIRNameDictionary; // exact-case keys
extern DictionaryPtr gRegisteredMenus;

extern CollectionPtr gIRSlots; // 1024 IR slots, slot n at position n + 1
extern CollectionPtr gPluginCollection;
extern ObjectPtr gPluginInstance;
extern ObjectPtr gSerialCommLink;

extern QString gStyleSheet;
extern QString gBackground;
extern QString gHTTPPort;
extern QString gCommPort;
extern QString gSerialIPAddress;
extern bool gUseSerialComm;

// Created on first use by whoever needs them first.
Collection &DeviceCollection();
CollectionPtr DeviceCollectionPtr();
// False before the host form made it and once its unload released it.
bool DeviceCollectionExists();
Collection &EventCollection();
CollectionPtr EventCollectionPtr();
// Slot 0 to 6 of the event-callback table.
Collection &EventCallbacks(int slot);
QStringList &StatusChangeScripts();
qint32 &ReferenceCounter();
StateTables &States();
IniCache &HostIniCache();

// Releases what the host form's unload releases.
void ReleaseHostCollections();

// A section body: items separated by Chr(0), key and value by Chr(1). Values
// lose their control characters (XapItemValue), so a value taken from a
// received message can add no item or line of its own.
QString XapBody(std::initializer_list<std::pair<QString, QString>> items);
