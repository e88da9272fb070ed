#pragma once
#include <QString>

#include "automation/Object.h"

class SystemMap;

// Names of controller points from the controller's project file: the point
// name dictionaries, and synchronising names between the file and the host
// devices in either direction.
namespace PointMap {
struct Includes
{
    bool variables = true, x10 = true, io = true, ir = true;
    static Includes fromOptions(); // the plug-in's include options
};

// direction non-zero: file to host; zero: host to file.
void Synchronize(int direction, const QString& projectFile, Includes includes = Includes::fromOptions());
// Why the last read of the project file refused it; "" when it did not.
QString ReadError();
bool InitSystemMap();
void BuildSystemMapDictionary();
void SystemMapToTS(Includes includes);
void TSToSystemMap(Includes includes);
void DefineTSVariables();
void DefineTSX10();
void DefineTSIO();
void DefineTSIR();
void MakeSystemMapVariables();
void MakeSystemMapX10();
void MakeSystemMapIO();
void MakeSystemMapIR();
void WriteSystemMap();
QString MakeSystemMap(const QString& code);
QString StripPrefix(const QString& text, const QString& prefix);
void CreateNamedDevice(const QString& code, const QString& text, bool variable);

// The map as last read (by the plug-in start or the last synchronisation).
SystemMap& records();
QString& projectFileName();
} // namespace PointMap
