#include "PluginSettings.h"
#include "PluginHost.h"
#include "automation/VbString.h"

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

qint64 PluginSettings::digitsNumber(const QString &text, qint64 high)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return -1;
    qint64 v = 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        // Leading zeros cost nothing; the value stops growing once past the bound.
        v = qMin(v * 10 + (c.unicode() - '0'), high + 1);
    }
    return v <= high ? v : -1;
}

int PluginSettings::wholeNumber(const QString& text, int low)
{
    const qint64 v = digitsNumber(text, 65535);
    return v >= low ? int(v) : -1;
}

int PluginSettings::pollInterval(const QString& text)
{
    return wholeNumber(text, 0);
}

bool PluginSettings::periodRunsScript(const QString &period)
{
    return VbString::IsNumeric(period) && VbString::Val(period) >= 0;
}
