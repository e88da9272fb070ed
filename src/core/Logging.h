#pragma once

#include "core/XapQueuedMessage.h"

#include <QList>
#include <QString>
#include <QStringList>

// Program-wide logging and the single entry for sending xAP messages.
//
// A section body travels as one string: items separated by Chr(0), key and value by Chr(1).

// Start-up of the transport's settings: computer name, program path, Data and HTML folders,
// and the two addresses of Config/tvkXap.ini. gAppPath must be set before.
void InitXap();

// This computer's name up to its first "."; asked once, then kept.
QString LocalComputerName();

// Sends one single-section xAP message to the broadcast address. Empty target: no target
// line; empty sub-address: the plain source; empty uid: the program's own. Messages sent
// before the endpoint is up are held and go out first, oldest first, once it is.
void SendXap(const QString& target, const QString& cls, const QString& section, const QString& body,
             const QString& subAddress, const QString& uid);

// An item value as it may go into a section body: without the C0 control characters
// (0-31), which would otherwise end the item, start another or break the line.
QString XapItemValue(const QString& value);

// A text as it goes into a log entry: past a thousand characters it is cut, with a mark
// saying how many more there were (a script's text may be tens of millions long).
QString CutLogText(const QString& text);
// The same, keeping at most `kept` characters: a part of an entry that a
// line number or another fixed part follows leaves them room.
QString CutLogText(const QString& text, qsizetype kept);
// What one of two long parts of an entry keeps, so that both, the line
// number between them and the marks fit the entry's 1,000 characters.
inline constexpr qsizetype kPartKept = 400;

// The program-wide logger: one "Tessera.Event" message with the items Time, Type and Data;
// a pending error adds " Line ", its line and its description to Data, and is cleared.
void LogError(const QString& type, const QString& data);
// The log entry of a member's trapped error (`label`, a fixed text, names the member): as
// LogError, except that inside a script's run the repeats of one member's error are counted,
// not each sent.
void LogTrapped(const QString& type, const QString& label);
// The same for an entry whose text holds what the script passed (a tag, a host, a window's
// title): its repeats count under the fixed `label`, so that a script varying the text can
// neither send an entry per call nor fill the table of kinds that every refusal shares.
void LogTrapped(const QString& type, const QString& text, const QString& label);
// An entry of a member's failure: while a script drives, its repeats of one member and
// error within a minute are counted, not each broadcast; otherwise LogError.
void LogMemberError(const QString& type, const QString& text, const QString& member, const QString& error);

// The xAP layer's own log: appends one line to Data/xaptvkKorvane/xaptvkKorvane.txt,
// creating the folder when needed; never raises. Clears the pending error.
void WriteLogFile(const QString& source, const QString& text);

// Writes the count of a collapsed repeat still waiting for its minute; called as the
// process ends so that the count is not lost.
void FlushLogFileRepeats();
// Creates every missing folder of `path` up to its last separator (the last part is a file
// name); a folder that cannot be made is logged and the next one is tried.
void CreateFolders(const QString& path);

// Number of messages waiting for the endpoint (diagnostics and tests).
int PendingXapMessageCount();
// The messages waiting for the endpoint, oldest first (diagnostics and tests).
QList<xapQueuedMessage> PendingXapMessages();

// Section bodies of the messages waiting for the endpoint, oldest first (diagnostics and tests).
QStringList PendingXapBodies();
