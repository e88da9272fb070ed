#include "bridge/BscBridge.h"

#include "bridge/BridgeHooks.h"
#include "bridge/BscEndpoint.h"
#include "bridge/BscEndpoints.h"
#include "bridge/BscNaming.h"
#include "bridge/CommAndTimer.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/HostAccess.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"
#include "bridge/ReceivedNumber.h"
#include "bridge/TargetPattern.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"

#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

using namespace BscNaming;
using HostAccess::Host;

namespace {

constexpr int kSetValue = 19;
// Replies that may wait, per endpoint (and never fewer than the floor): enough
// for several peers asking at once, bounded whatever the network sends.
constexpr int kRepliesPerEndpoint = 4;
constexpr int kMinReplyBound = 16;

QString stateBody(const BscEndpoint &e)
{
    return BscStateBody(e.code, e.isIndex());
}

} // namespace

QString BscStateBody(const QString &code, bool withLevel)
{
    QString body = XapBody({{QStringLiteral("State"), StatusToOnOff(Host().deviceStatus(code))}});
    if (withLevel)
        body += QChar(0) + XapBody({{QStringLiteral("Level"), QString::number(Host().deviceValue(code)) + QStringLiteral("/32767")}});
    return body;
}

QString StatusToOnOff(int status)
{
    return status == 2 ? QStringLiteral("ON") : QStringLiteral("OFF");
}

int OnOffToStatus(const QString &text)
{
    return Latin1Case::lower(text) == QLatin1String("on") ? 2 : 3;
}

void SendXapBSC(const QString &code)
{
    try {
        const PointTables &tables = Points();
        if (!gHostStarted || DefinedDevice(code, tables).isEmpty())
            return;
        const QChar first = Latin1Case::upper(code.at(0));
        if (first >= QLatin1Char('A') && first <= QLatin1Char('P'))
            return;
        const DeviceClassPtr device = HostAccess::DeviceOfCode(code);
        if (!device)
            return;
        const std::optional<BscEndpoint> e = BscEndpoint::derive(*device, code, tables);
        if (!e)
            return;
        const QString body = stateBody(*e);
        HostAccess::TouchLastChange(code);
        SendXap(QString(), QStringLiteral("xapBSC.Event"), e->section, body, e->eventSubAddress(), e->uid());

        if (device->scriptTag().isEmpty() || !device->triggerEvent())
            return;
        auto record = std::make_shared<DeviceMessageClass>();
        record->Tag = device->scriptTag();
        record->addItem(QStringLiteral("value"), QString::number(Host().deviceValue(code)));
        record->addItem(QStringLiteral("lastchange"), VbDate::formatGeneralDate(VbDate::oleNow()));
        BridgeHooksInstance().queueDeviceEvent.call(record);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SendXapBSC "));
    }
}

void BSCQuery(const QString &target, const QString &asker)
{
    // The replies go out (or wait) together, once they are all built; a fault
    // ends the building, and the replies built before it still go.
    std::vector<CommAndTimer::Reply> replies;
    CommAndTimer &replyQueue = CommAndTimer::instance();
    const QString key = Latin1Case::lower(asker) + QLatin1Char('\n') + Latin1Case::lower(target);
    int bound = kMinReplyBound;
    const auto answer = [&] { replyQueue.SendOrQueue(key, replies, bound); };
    try {
        const std::optional<TargetPattern> pattern = TargetPattern::fromTarget(target);
        if (!pattern)
            return;
        // Asked again while its replies still wait, a query is already being
        // answered (each reply carries the state of when it goes out).
        if (replyQueue.IsWaiting(key))
            return;
        BscEndpoints &endpoints = BscEndpoints::instance();
        const std::optional<std::vector<int>> selected = endpoints.matching(*pattern);
        const std::vector<BscEndpoint> &all = endpoints.all();
        bound = std::max(kMinReplyBound, kRepliesPerEndpoint * int(all.size()));
        if (!selected) {
            RefusalLog::Log(kProgramName, QStringLiteral("BSCQuery: too many queries to match, queries refused"),
                            QStringLiteral("bsc-query-work"));
            return;
        }
        // What does not fit in the queue is refused whole, before any reply is built.
        if (!replyQueue.HasRoom(int(selected->size()), bound))
            return;
        for (const int i : *selected) {
            const BscEndpoint &e = all[size_t(i)];
            CommAndTimer::Reply reply;
            reply.message.MsgClass = QStringLiteral("xAPBSC.info");
            reply.message.MsgSection = e.section;
            reply.message.MsgData = stateBody(e);
            reply.message.MsgUID = e.uid();
            reply.message.MsgSubAddress = e.infoSubAddress();
            reply.code = e.code;
            reply.withLevel = e.isIndex();
            replies.push_back(reply);
        }
        answer();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("BSCQuery"));
        if (!replies.empty())
            answer();
    }
}

std::vector<BscEndpoint> ControllerEndpoints()
{
    return BscEndpoints::instance().all();
}

BscCommand::BscCommand(const QString &target) : m_pattern(TargetPattern::fromTarget(target)) {}

BscCommand::~BscCommand()
{
    try {
        BscWriteQueue &writes = CommAndTimer::instance().Writes;
        // The points go to the queue in the order first named: those named by
        // their ID before the first "*" block, then the ones it selected, then
        // those named by their ID afterwards. Whichever block named a point
        // last gives its level.
        QSet<QString> wildcardSet;
        bool wildcardSetBuilt = false;
        const auto wildcarded = [&](const QString &code) {
            if (m_wildcardBlock < 0)
                return false;
            if (!wildcardSetBuilt) {
                wildcardSet = QSet<QString>(m_wildcarded.begin(), m_wildcarded.end());
                wildcardSetBuilt = true;
            }
            return wildcardSet.contains(code);
        };
        const auto write = [&](const QString &code, bool selected) {
            const auto own = m_own.isEmpty() ? m_own.constEnd() : m_own.constFind(code);
            const bool ownIsLater = own != m_own.constEnd() && (!selected || own->block > m_wildcardBlock);
            writes.add(code, kSetValue, ownIsLater ? own->level : m_wildcardLevel);
        };
        for (const QString &code : m_ownOrder) {
            if (m_own.value(code).beforeWildcard)
                write(code, wildcarded(code));
        }
        for (const QString &code : m_wildcarded) {
            if (!m_own.isEmpty() && m_own.value(code).beforeWildcard)
                continue;
            write(code, true);
        }
        for (const QString &code : m_ownOrder) {
            if (!m_own.value(code).beforeWildcard && !wildcarded(code))
                write(code, false);
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SetBSCPoint"));
    }
}

void BscCommand::block(const QString &id, const QString &levelText)
{
    try {
        if (!m_pattern)
            return;
        // A level beyond 16 bits raises the overflow that the handler logs;
        // one below 0 would reach the controller as a large unsigned value.
        const int level = ReceivedCInt(levelText);
        if (level < 0)
            throw VbError(VbErr::Overflow);
        const PointTables &tables = Points();
        ++m_block;

        if (id == QLatin1String("*")) {
            // Every "*" block of a message selects the same endpoints: the
            // first walks them, a later one only sets the level they take.
            if (m_wildcardBlock < 0) {
                BscEndpoints &endpoints = BscEndpoints::instance();
                const std::optional<std::vector<int>> selected = endpoints.matching(*m_pattern);
                if (!selected) {
                    RefusalLog::Log(kProgramName, QStringLiteral("BSCCmd: too many targets to match, commands refused"),
                                    QStringLiteral("bsc-cmd-work"));
                    return;
                }
                m_wildcarded.reserve(selected->size());
                for (const int i : *selected) {
                    const QString &code = endpoints.writeCode(i);
                    if (!code.isEmpty())
                        m_wildcarded.push_back(code);
                }
            }
            m_wildcardLevel = level;
            m_wildcardBlock = m_block;
            return;
        }

        const int k = FromHexPair(id);
        if (k < 1)
            return;
        const QString code = BscEndpoints::codeOfNumber(k, tables);
        if (code.isEmpty())
            return;
        const DeviceClassPtr device = HostAccess::DeviceOfCode(code);
        if (!device)
            return;
        const std::optional<BscEndpoint> e = BscEndpoint::derive(*device, code, tables);
        if (e && e->matches(*m_pattern)) {
            if (const auto own = m_own.find(code); own != m_own.end()) {
                own->level = level;
                own->block = m_block;
            } else {
                m_own.insert(code, {level, m_block, m_wildcardBlock < 0});
                m_ownOrder.push_back(code);
            }
        }
    } catch (...) {
        PendingError::capture();
        RefusalLog::Log(kProgramName, QStringLiteral("BSCCmd"), QStringLiteral("bsc-cmd-error"));
        // A repeat is only counted: its error must not reach the next entry logged.
        PendingError::clear();
    }
}

void BSCCmd(const QString &target, const QString &id, const QString &, const QString &levelText)
{
    BscCommand(target).block(id, levelText);
}

void SetBSCPoint(int number, int command, int level)
{
    try {
        if (number < 1)
            return;
        const PointTables &tables = Points();
        const QString code = BscEndpoints::codeOfNumber(number, tables);
        if (code.isEmpty() || DefinedDevice(code, tables).isEmpty())
            return;
        CommAndTimer::instance().Writes.add(code, command, level);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SetBSCPoint"));
    }
}
