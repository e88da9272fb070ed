#pragma once

#include <QString>

#include <functional>

class FastString;
class Request;
class Response;

// The status page: the builder the server calls for "/stat..." requests, its
// frame, and the small helpers the page's parts share.

// The setup block and the posted-form handler join the page through these
// (their module fills them at start-up); an empty one is skipped.
struct StatusPageParts
{
    std::function<void(FastString &page)> AddSetup; // the setup block, when "Include Setup" is on
    std::function<void()> ClientRequest;            // carries out a posted form before the page is built
};
StatusPageParts &StatusPagePartsInstance();

// Registers the builder with the server and the display-option reader with the plug-in.
void registerStatusPage();

// The whole page for one request: chrome set-up, access gate, then Status_ASP.
QString BuildStatusPage(Request &request, Response &response);
// The page frame: the posted form first, then the page text.
QString Status_ASP();

// The page being built (null between pages).
FastString *PageBuffer();
// The table's sort, read for each page from [tspi_quillon] of tvkXapKorvane.ini.
QString &StatusSortKey();
QString &StatusSortDirection();

// "Today h:mm:ss AM", "Yesterday ..." or the general date, against the day
// marks of the page being built (taken once per page from the web clock).
QString FormatChangeDate(double oleDate);
// Sets the day marks from the web clock (the page frame does this per page).
void SetDayMarks();

// "ON" 2, "OFF" 3, anything else 4.
int CommandCode(const QString &s);
QString BoolToFlag(bool b);
// " checked " or " ", written inside a check box's tag.
QString CheckedText(bool b);
// "12:05:09 PM": the time of day the page shows for a change.
QString TimeOfDayText(double oleDate);
