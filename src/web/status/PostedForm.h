#pragma once

#include "web/PageWait.h"

#include <QString>

#include <QStringList>

#include <functional>
#include <vector>

class Request;
class Response;

// The bridge's parts of a posted status form, set by whoever builds the
// bridge's fragments of the page. Unset parts do nothing (and report no
// button handled).
struct PostedFormBridgeCalls
{
    std::function<bool()> checkScriptButtons; // "script" / "query" handled
    std::function<void()> saveDisplaySettings;
    std::function<void()> saveFilterSettigs;
};
void SetPostedFormBridgeCalls(PostedFormBridgeCalls calls);

// Joins the setup block and the posted form to the status page, with the
// receive side's buttons, display options and filters. Called once at start-up.
void registerPostedForm();

// Carries out the posted form of the page being built (the chrome's page
// request) before the page is built again: Save, a bridge or setup action
// button, or a row button. A POST whose Origin (or, without one, Referer)
// names another host than its Host header is refused with the 403 page and
// changes nothing; the page built after it is then not sent. The host's INI
// cache is flushed at the end.
void ClientRequest();
// The same for a given request and reply; false when the post was refused.
bool ClientRequest(Request &request, Response &response);

// True when the request is a POST that another site made the browser send.
bool IsCrossSitePost(const Request &request);


// The log entries every client's posts share, whatever they refuse: a
// client cycling through many kinds of refusal would otherwise buy itself
// two entries a minute with each kind.
inline const QString kPostedFormLogBudget = QStringLiteral("Status ClientRequest");

// What the Saves since the last page refused, for the page built next to
// show; taking them clears them.
void NoteRefusal(const QString &text);
QStringList TakeRefusalNotes();

// An entry of a named list that a Save may rename (a macro, a filter):
// its new name and value, the name it had (null for a new entry) and the
// page row that posted it.
struct NamedEntry
{
    QString name;
    QString value;
    QString oldName;
    QString oldValue;
    int row = 0;
    bool dropped = false;
};
// Settles the names of one Save's entries at once: no two are equal (case
// ignored) afterwards. A rename onto a name that stays is refused, and the
// entry falls back to its old name and value; a new entry onto a taken name
// is dropped. `refused`
// hears of each, with the name it asked for.
std::vector<NamedEntry> ResolveRenames(std::vector<NamedEntry> entries,
                                       const std::function<void(const NamedEntry &)> &refused);
