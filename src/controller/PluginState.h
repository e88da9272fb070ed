#pragma once
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

#include "CommandRing.h"
#include "link/LinkState.h"
#include "automation/Dictionary.h"
#include "automation/Object.h"

// One controller I/O unit mapped to host devices.
struct umap
{
    int unit = 0;
    int utype = 0;
    QString hc;
    int invert = 0;
};

// State of the controller plug-in shared by its modules (link, protocol, ring,
// polls, dialog). Single-threaded: touched on the UI thread only. The link
// part is the link's own state, shared with it.
struct PluginState : LinkState
{
    // link
    bool ConfigDialogOpen = false;
    bool DisconnectRequested = false;
    bool ToolRunRequested = false;
    bool IRZonesWritten = false;

    // exchange flags
    bool TransferBusy = false;
    bool X10Sending = false;
    // X10 entries of the ring whose frames all went out, counted: a request
    // is reported once it was sent, not when it was queued.
    quint64 X10EntriesSent = 0;
    quint64 X10EntriesEnded = 0; // sent or not
    bool TimerRunning = false;
    bool LearnInProgress = false;
    bool IOPollDue = false;
    bool LinkStartPoll = false;
    int ReplyTimeout = 4;            // seconds

    // sides
    bool X10Started = false;
    bool IREnabled = false;
    bool IOEnabled = false;
    bool IRInitialised = false;
    bool IOInitialised = false;
    bool Registered = false;

    // settings read at start (filled by the settings reader)
    int LogErrors = 1;
    int X10XmitFlag = 1;
    QString KestrelVar = "-1";

    // learned from the controller
    int InterfaceStatusWord = 0;
    int VarBlockHigh = 0;
    int VarBlockLow = 0;
    bool VarBlockKnown = false;      // the variables block address was read from the controller
    bool DiscoveryTried = false;     // the controller start has looked for the controller
    bool DiscoveryComplete = false;  // and found all three blocks
    int IRLocationCount = 0;
    std::array<quint8, 129> UnitTypes{};
    bool HasIRZoneModules = false;
    QVector<int> IRZoneModules;
    int IRZoneModuleCount = 0;
    std::array<int, 16> PresetDimTable{12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
    std::array<quint8, 257> IOPointStates{};
    // Each point set by a report or an output written, in order: a block read
    // that was on its way meanwhile holds an older state for it.
    quint64 IOPointSets = 0;
    std::array<quint64, 256 * 8> IOPointSetAt{};
    void SetIOPointBit(int byte, int bit, bool on)
    {
        quint8& v = IOPointStates[size_t(byte)];
        v = on ? quint8(v | (1u << bit)) : quint8(v & ~(1u << bit));
        if (byte < 256)
            IOPointSetAt[size_t(byte * 8 + bit)] = ++IOPointSets;
    }
    std::array<long, 129> ControllerVars{};
    QString PendingX10Units;

    // mappings and IR tables
    QList<umap> UnitMaps;
    int CurrentZone = 0;
    std::array<int, 1024> IRKeyLocations = identityKeys();
    QMap<QString, QString> IRNameDictionary; // upper-case name -> "location,zone"
    QStringList IRGroupNames = QStringList(32);
    QStringList IRLabels = QStringList(1008);
    QStringList IRMapEntries = QStringList(1008);

    // the host as the plug-in reaches it (by member name)
    ObjectPtr CallbackObject;        // the host callback object given to RegisterCallback
    ObjectPtr PluginHostRef;         // the host object obtained from its GetTSIface
    bool HostIsSetupForm = false;
    bool HostVersionAbove1 = false;

    // settings read at start
    QString PollInterval = "500";    // ms, as text
    QString ScriptPeriod = "0";      // s, as text
    bool DebugLogFlag = false;
    int InvertDefault = 0;
    bool IncludeVariables = false, IncludeIO = false, IncludeIR = false, IncludeX10 = false,
         IncludeSetup = false, ShowOnlyUsed = false;
    QString ToolPath;                // the programming tool as the dialog shows it ("" = setting)

    // mapping of controller points to host devices
    QString InterfaceName = "Veltro Quillon";
    int VarsHouseCode = 0;
    QString UnitMappingText;
    QHash<QString, int> UnitMapIndex; // house code -> 1-based position in UnitMaps
    std::array<bool, 128> VarUsed{};
    std::array<std::array<bool, 16>, 129> PointUsed{}; // by unit number (1 to 128), point
    std::array<bool, 256> X10Used{};
    bool DevicesDiscovered = false;
    bool ProjectMapTried = false;    // this start has read the project file (whatever it gave)

    CommandRing Ring;

    // polling
    std::array<long, 129> HostVarValues{};
    bool VarCacheFilled = false;
    // Counts writes of host values to variables, and stamps each variable with the count of its
    // last write: a poll leaves alone the variables written while its block read was on its way.
    quint64 VarWrites = 0;
    std::array<quint64, 128> VarWrittenAt{};
    int TimeoutCount = 0;
    int CheckErrorCount = 0;
    int PageRefreshFlag = 0;

    // names from the controller's project file
    DictionaryPtr PointNameDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    DictionaryPtr IRCodeDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);

    static std::array<int, 1024> identityKeys()
    {
        std::array<int, 1024> a{};
        for (int i = 0; i < 1024; ++i)
            a[size_t(i)] = i;
        return a;
    }
};

extern PluginState gPlugin;

// Holds TransferBusy from here to the end of the scope, on every exit, and then
// gives back what it found: an exchange started inside another one's wait must
// not free the line for the timers while the outer one still holds it.
struct TransferBusyScope
{
    TransferBusyScope() : m_was(gPlugin.TransferBusy) { gPlugin.TransferBusy = true; }
    ~TransferBusyScope() { gPlugin.TransferBusy = m_was; }
    bool m_was;
    TransferBusyScope(const TransferBusyScope&) = delete;
    TransferBusyScope& operator=(const TransferBusyScope&) = delete;
};

// Back to the state of a freshly started process (tests start each case from it).
void ResetPluginState();

// Waits the controller needs; shortened only by tests.
struct ControllerTiming : LinkTiming
{
    int unitTableDelayMs = 2000;  // before the unit table reply is awaited
    int parameterDelayMs = 3000;  // between loading a parameter set and reading it
    int clockSyncDelayMs = 2000;  // before the clock is set
    int initIOWaitMs = 2000;      // before the first variable poll of the I/O start
    int shutdownWaitMs = 2000;    // between stopping the poll and closing the link
    int rediscoveryProbeMs = 30000; // between looks for a controller that did not answer at start
    int discoveryReplySeconds = 3;  // reply wait of the discovery's first two block reads
    int startReplyTimeout = 4;      // the reply wait the controller start sets, in seconds
    int irFloodLogMs = 60000;       // IR codes held back for their rate are logged once per this
};
extern ControllerTiming gControllerTiming;
