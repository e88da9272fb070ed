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

int PluginSettings::wholeNumber(const QString& text, int low)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return -1;
    for (const QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    const int v = t.toInt();
    return v >= low && v <= 65535 ? v : -1;
}

int PluginSettings::pollInterval(const QString& text)
{
    return wholeNumber(text, 0);
}
