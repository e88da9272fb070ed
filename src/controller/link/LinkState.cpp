#include "LinkState.h"

namespace {
LinkState sOwnState;
LinkTiming sOwnTiming;
// Constant-initialised: set before any dynamic initialiser can share a state.
LinkState* sState = &sOwnState;
LinkTiming* sTiming = &sOwnTiming;
} // namespace

LinkState& linkState()
{
    return *sState;
}

LinkTiming& linkTiming()
{
    return *sTiming;
}

void ShareLinkState(LinkState& state, LinkTiming& timing)
{
    sState = &state;
    sTiming = &timing;
}
