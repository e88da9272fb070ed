#pragma once

#include "bridge/BscEndpoint.h"

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
// Carries out one "output.state" block of a command: ID "*" or one sub-UID in
// hex.
void BSCCmd(const QString &target, const QString &id, const QString &state, const QString &level);
// Writes a point, given by its sub-UID number, through the plug-in; writes
// after the first of a burst go one per turn of the event loop.
void SetBSCPoint(int number, int command, int level);

// "ON" for status 2, "OFF" for everything else.
QString StatusToOnOff(int status);
// 2 for "on" in any case, 3 for everything else.
int OnOffToStatus(const QString &text);
