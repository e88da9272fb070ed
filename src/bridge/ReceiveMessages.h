#pragma once

#include <QtGlobal>

class XapMessage;

// Receive filters and tagged device records. A filter (section [Received] of
// tvkXapKorvane.ini, "<source>~<class>=<tag>;<event>") picks received
// messages by their whole source and class; the last matching message of a
// tag is kept in its record, and an event flag "1" also runs the user
// script. The records are kept in [Devices] and [Device Messages] across a
// restart.

// (Re)load the filter and IR-macro tables.
void InitFilterDictionary();
void InitIRMacroDictionary();
// Empties the tagged-device dictionary and loads the saved records.
void InitDeviceDictionary();
// Rewrites [Devices] and [Device Messages] and flushes the INI cache; a
// record that cannot be written is logged and the others still are.
void SaveDeviceDictionary();
// Stores a received message in the record of the filter it matches.
void CheckReceivedMessage(const XapMessage &message, bool runScripts = true);

// Raised for every stored message of any tag; not kept across a restart.
qint32 &MessageSequence();
