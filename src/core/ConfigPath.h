#pragma once

#include <QString>

// Files of the program folder are found without regard to the case of their names.
// ResolvePathNoCase walks `name` part by part below `dir` and takes an existing entry whose
// name matches ignoring case; parts with no such entry are kept as given, so a file that
// does not exist yet gets exactly the name the caller chose.
QString ResolvePathNoCase(const QString& dir, const QString& name);

// A file of the Config folder of the program folder (see ResolvePathNoCase).
QString ConfigFile(const QString& name);

// A path as it may be shown to a client or written to a log read on other
// machines: relative to the program folder when it lies under it, else its
// file name alone. Where this machine keeps the program is nobody's business.
QString ProgramRelative(const QString& path);
