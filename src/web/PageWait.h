#pragma once

// After a row button the status page should show the state the command left,
// so its reply waits until the controller's next variable-poll pass starts,
// at most gPageRefreshWaitMs. The web server holds such a reply while it goes
// on serving other requests; the posted form only asks for the wait.
namespace PageWait {

// The page being built asks to wait (a row button's command went out): sets
// the page-wait flag the variable poll lowers when its next pass starts.
void Request();
// The server builds a page that may wait: Begin before, End after (End tells
// whether the page asked to wait). Outside Begin/End nothing waits.
void Begin();
bool End();
// True while a page that may wait asked to wait; its builder then leaves the
// page to be built when the wait is over.
bool Requested();
// The poll pass the waiting pages wait for has started.
bool PollStarted();
// No page waits any more: a flag still raised is lowered.
void Done();

} // namespace PageWait

// The longest a page waits after a row button; shortened only by tests.
extern int gPageRefreshWaitMs;
