#pragma once

#include <QString>

// The bridge's entry for received xAP traffic: parses each text, hands it to
// the receive filters, and carries out what is addressed to this program
// (BSC queries and commands, X10 requests, IR transmits, echo, role and time).
void Readmessage(const QString &text);
// The record a received text updates, and nothing else (no script run, no command).
void StoreReceivedRecord(const QString &text);

// Registers a plug-in menu under first~second; a known key keeps its first item.
QString AcceptMenuCallbacks(const QString &first, const QString &second, const QString &third);

// The texts of the last "Time.Today" message; empty until one arrives.
QString SunriseText();
QString SunsetText();
// Back to the state of a fresh start (tests).
void ResetReceiveState();
