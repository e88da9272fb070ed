#pragma once

// Keep the tagged-device records in step with the tagged points: every
// learned-IR slot, I/O point and X10 unit whose host record carries a script
// tag gets a record under that tag whose DC names the point, and every
// receive filter's tag gets a record of its own. They add and update,
// never remove.
void AddIRTags();
void AddIOTags();
void AddXapTags();
void AddX10Tags();

// The four in their order, as the start-up and the status page's save run
// them; an error in the IR fill reaches the caller.
void AddAllTags();
