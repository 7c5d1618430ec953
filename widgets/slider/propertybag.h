#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

class QSettings;

// Named values with defaults, through which a control saves and loads its state. A value
// equal to its default is not stored; a missing key reads as its default. Keys compare
// without regard to case.
class PropertyBag
{
public:
    virtual ~PropertyBag() = default;
    virtual QVariant readProperty(const QString &key, const QVariant &defaultValue) = 0;
    virtual void writeProperty(const QString &key, const QVariant &value,
                               const QVariant &defaultValue)
        = 0;
};

// An ordered in-memory bag; it may hold a key more than once (the first entry is read).
class MemoryPropertyBag final : public PropertyBag
{
public:
    QVariant readProperty(const QString &key, const QVariant &defaultValue) override;
    void writeProperty(const QString &key, const QVariant &value,
                       const QVariant &defaultValue) override;

    QList<QPair<QString, QVariant>> entries;
    QStringList readOrder; // every key read, in order
};

// A bag in a group of a QSettings store (one entry per key).
class SettingsPropertyBag final : public PropertyBag
{
public:
    SettingsPropertyBag(QSettings &settings, const QString &group);
    QVariant readProperty(const QString &key, const QVariant &defaultValue) override;
    void writeProperty(const QString &key, const QVariant &value,
                       const QVariant &defaultValue) override;

private:
    QString path(const QString &key) const;
    QSettings &m_settings;
    QString m_group;
};
