#include "PluginSettings.h"
#include "PluginHost.h"

QString PluginSettings::GetPluginSetting(const QString& file, const QString& section, const QString& key,
                                         const QString& def)
{
    QString value;
    PluginHost::ignoring([&] {
        value = PluginHost::hs("GetIniSetting", {Variant(section), Variant(key), Variant(def), Variant(file)}).toString();
    });
    return value;
}

void PluginSettings::SavePluginSetting(const QString& file, const QString& section, const QString& key,
                                       const QString& value)
{
    PluginHost::ignoring(
        [&] { PluginHost::hs("SaveIniSetting", {Variant(section), Variant(key), Variant(value), Variant(file)}); });
}

QString PluginSettings::setting(const QString& key, const QString& def)
{
    return GetPluginSetting(kFile, kSection, key, def);
}

void PluginSettings::save(const QString& key, const QString& value)
{
    SavePluginSetting(kFile, kSection, key, value);
}
