#pragma once

// Every queue that a timer drains, and how much of it one tick may take before
// the event loop turns again. Each drain stops after its slice and leaves the
// rest to its next tick: a backlog of costly entries (a slow script, a busy
// controller, many pages) never keeps an echo, a page or a stop request
// waiting longer than one slice and one entry. A new drain joins this list.
namespace DrainSlices {

// Time-sliced drains: entries run until the slice is spent (at least one a tick).
constexpr int kReceivedTextsMs = 20; // received xAP texts handed to the dispatcher
constexpr int kScriptRunsMs = 20;    // runs of the user script's Main, one per waiting record
constexpr int kPageRequestsMs = 20;  // requests of the status and setup page
constexpr int kScriptCallbacksMs = 20; // status-change scripts and event callbacks of the user's script

// Drains of one entry a tick: each entry waits for the controller, so it is
// the slice by itself.
constexpr int kBscRepliesPerTick = 1; // replies to BSC queries, paced 200 ms apart
constexpr int kPointWritesPerTick = 1; // point writes of BSC commands
constexpr int kX10RequestsPerTick = 1; // X10 requests
constexpr int kIrStepsPerTick = 1;     // IR codes and macro steps
// The refusal log's flush takes one pass over its kinds; there are as many
// kinds as refusal keys in the code, a few dozen at most.

} // namespace DrainSlices
