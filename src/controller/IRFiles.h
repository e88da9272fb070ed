#pragma once
#include <QString>
#include <QStringList>

#include "core/SavedFiles.h"

// The IR configuration files of the Config folder: irlbl.cfg (device names and
// location labels), irzones.cfg (the zone of each IR device) and irmap.cfg (key
// to location remapping), and the tables built from them.
namespace IRFiles {
// The highest zone a zone module can be asked to play: the play frame carries
// the zone in one byte. Zones beyond it, or below 0, play on the controller.
constexpr int kMaxZone = 255;
// A zone text as a number within 0 to kMaxZone; 0 for one outside it.
int ZoneNumber(const QString& text);

bool ReadIRCfg();
void ReadIRMap();
void BuildIRLookup();
void SaveIRMap();
void SetupIRDictionary();

// The lines of a text file as the readers see them: double quotes removed,
// at most maxLines (and never more than 1040), overlong lines cut and logged.
// Empty when the file does not exist.
QStringList readLines(const QString& path, int maxLines = -1);
// Writes the whole file or leaves it as it was (see SavedFiles); false, logged, when not.
bool writeQuotedLines(SavedFiles::Writer writer, const QString& path, const QStringList& lines,
                      const QString& backup = QString());
} // namespace IRFiles
