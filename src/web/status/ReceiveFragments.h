#pragma once

#include <QString>
#include <QtGlobal>

class FastString;

// The receive side's pieces of the status page: its display options, the
// "xAP Messages of Interest" table in which the receive filters are edited
// and what they caught is shown, and the "Read Script" and "Query BSC"
// buttons; and what is done with their fields when the page is posted.

// Display options, kept in [General] of tvkXapKorvane.ini.
extern bool gShowReceiveMessages;
extern bool gShowReceiveDetail;
extern qint16 gShowStatus; // 0, 1 or 2: stored and shown again, read by nothing else
// The page built last carried the filter table (so a post holds its rows).
extern bool gFiltersShown;

// Page building: each appends to the page.
void AddDisplayOptions(FastString &page);
void AddFilter(FastString &page);
void AddScriptButton(FastString &page);
// A record's last change: "" for never, "Today h:mm:ss AM", "Yesterday ..." or the general date.
QString FormatLastChange(double oleDate);

// Post processing, against the posted fields of the page request.
void LoadDisplaySettings();
void SaveDisplaySettings();
void SaveFilterSettigs();
// "Read Script" reloads the script, "Query BSC" answers a query for every
// endpoint; true when one of them was pressed (nothing else of the post runs).
bool CheckScriptButtons();
