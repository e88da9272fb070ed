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
} // namespace PluginSettings
