#pragma once

#include "bridge/BscEndpoint.h"
#include "bridge/TargetPattern.h"

#include <QHash>
#include <QSet>

#include <optional>

#include <QString>

#include <vector>

// The BSC face of the controller on xAP: change events, query replies and
// commands of the controller's variables and I/O points.

// Broadcasts one "xapBSC.Event" for a changed point and queues a script run
// when the device asks for one. X10 units and codes without an endpoint are left out.
void SendXapBSC(const QString &code);
// Answers a query with one "xAPBSC.info" per endpoint its target selects,
// paced. `asker` (the query's source) and the target name the query: one
// asked again while its replies still wait is not walked again.
void BSCQuery(const QString &target, const QString &asker = QString());
// The controller endpoints among the host devices, in host device order.
std::vector<BscEndpoint> ControllerEndpoints();
// The body of an event or reply: "State", and "Level" for variables.
QString BscStateBody(const QString &code, bool withLevel);
// The blocks of one command message, carried out in order. The writes reach
// the write queue when the message is done (when this goes): each point once,
// where it was first named, with the level of the last block that named it,
// which is what writing them block by block into the queue would leave. So a
// message of many "*" blocks costs one walk of its endpoints, not one per block.
class BscCommand
{
public:
    explicit BscCommand(const QString &target);
    ~BscCommand();
    BscCommand(const BscCommand &) = delete;
    BscCommand &operator=(const BscCommand &) = delete;

    // One "output.state" block: ID "*" or one sub-UID in hex. A fault is
    // logged and ends only this block.
    void block(const QString &id, const QString &levelText);

private:
    struct Own
    {
        int level = 0;
        int block = 0;
        bool beforeWildcard = false; // first named before any "*" block
    };

    std::optional<TargetPattern> m_pattern;
    // Points named by their own ID, in the order first named. A "*" block
    // selects up to every endpoint, so its points are kept as one list
    // (endpoint order) with no per-point bookkeeping: a burst of "*"
    // commands costs little more than the writes it merges.
    std::vector<QString> m_ownOrder;
    QHash<QString, Own> m_own;
    std::vector<QString> m_wildcarded; // points the "*" blocks select
    int m_wildcardLevel = 0;
    int m_wildcardBlock = -1;         // the last "*" block, -1 before any
    int m_block = 0;
};

// Carries out one "output.state" block of a command on its own.
void BSCCmd(const QString &target, const QString &id, const QString &state, const QString &level);
// Writes a point, given by its sub-UID number, through the plug-in; writes
// after the first of a burst go one per turn of the event loop.
void SetBSCPoint(int number, int command, int level);

// "ON" for status 2, "OFF" for everything else.
QString StatusToOnOff(int status);
// 2 for "on" in any case, 3 for everything else.
int OnOffToStatus(const QString &text);
