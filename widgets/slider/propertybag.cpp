#include "propertybag.h"

#include <QSettings>

QVariant MemoryPropertyBag::readProperty(const QString &key, const QVariant &defaultValue)
{
    readOrder << key;
    for (const auto &entry : entries) {
        if (entry.first.compare(key, Qt::CaseInsensitive) == 0)
            return entry.second;
    }
    return defaultValue;
}

void MemoryPropertyBag::writeProperty(const QString &key, const QVariant &value,
                                      const QVariant &defaultValue)
{
    if (value == defaultValue)
        return;
    entries.append({ key, value });
}

SettingsPropertyBag::SettingsPropertyBag(QSettings &settings, const QString &group)
    : m_settings(settings)
    , m_group(group)
{
}

QString SettingsPropertyBag::path(const QString &key) const
{
    // Stored lower-case so that keys compare without regard to case on every platform.
    return m_group + QLatin1Char('/') + key.toLower();
}

QVariant SettingsPropertyBag::readProperty(const QString &key, const QVariant &defaultValue)
{
    const QVariant stored = m_settings.value(path(key));
    if (!stored.isValid())
        return defaultValue;
    QVariant converted = stored;
    if (defaultValue.isValid() && converted.convert(defaultValue.metaType()))
        return converted;
    return stored;
}

void SettingsPropertyBag::writeProperty(const QString &key, const QVariant &value,
                                        const QVariant &defaultValue)
{
    if (value == defaultValue)
        m_settings.remove(path(key));
    else
        m_settings.setValue(path(key), value);
}
