#pragma once
#include <QString>

// The plug-in's own settings, kept by the host's INI service: section
// "tspi_quillon" of "xaptvkKorvane.ini". A failing host call reads as "" and
// writes nothing; values come back exactly as the file holds them.
namespace PluginSettings {
inline const QString kFile = QStringLiteral("xaptvkKorvane.ini");
inline const QString kSection = QStringLiteral("tspi_quillon");

QString GetPluginSetting(const QString& file, const QString& section, const QString& key, const QString& def);
void SavePluginSetting(const QString& file, const QString& section, const QString& key, const QString& value);

// The plug-in's own section.
QString setting(const QString& key, const QString& def);
void save(const QString& key, const QString& value);

// A whole number from 0 to `high` written in decimal digits only (blanks
// around and leading zeros allowed; no sign, point, exponent or "&H"), or -1.
qint64 digitsNumber(const QString &text, qint64 high);
// The same from `low` to 65535: a port or an interval as typed in the dialog
// or on the page.
int wholeNumber(const QString& text, int low);
// The variable poll interval as typed in the dialog or on the status page:
// milliseconds from 1 to 65535, or 0 for no polling; -1 for anything else.
int pollInterval(const QString& text);
// The script period the page stores for an emptied field. The settings file
// keeps no empty value (a missing key reads as "0", every minute), so "never"
// has to be a text that is no number.
inline const QString kNeverPeriod = QStringLiteral("never");
// Whether a stored period runs the script by itself: a number not below 0.
bool periodRunsScript(const QString &period);
// What both say when they refuse one.
inline const QString kPollIntervalRule =
    QStringLiteral("The poll interval must be a whole number of milliseconds from 1 to 65535, or 0 for no polling");
} // namespace PluginSettings
