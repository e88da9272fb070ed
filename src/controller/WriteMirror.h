#pragma once
#include <QString>

// A write the controller has acknowledged is mirrored in its host device as it
// is made, whoever sent it (a script's direct command, an entry of the command
// ring), so a peer hears of every change once and in order, and the poll that
// reads it back finds nothing new. Writes announced while they were queued (the
// plug-in's SetIO) come back here equal to the mirror and announce nothing more.
namespace WriteMirror {

// Taken before a command is sent: a write announced after it is newer than the
// command's own, which then announces nothing.
struct Mark
{
    unsigned long long vars = 0;
    unsigned long long points = 0;
};
Mark mark();

// Controller variable `vnum` holds `value` (as the frame carried it).
void variableTaken(int vnum, long value, const Mark& before);
// Output `point` of I/O module `module` was set to `level`.
void outputTaken(int module, int point, int level, const Mark& before);

// The host side of a variable's new value: the State with the value, the last
// change when asked (a write the program made), and the announcement.
void announceVariable(const QString& code, long value, bool changed);
// The host side of an output write: announced when its status or value changed.
void announceOutput(const QString& code, int level);
// The poll reads this output back as `level`.
void rememberOutput(int module, int point, int level);

} // namespace WriteMirror
