#include "taskbarprogress.h"

#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>

TaskbarProgress::TaskbarProgress(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

void TaskbarProgress::setValue(int percent)
{
    send(std::clamp(percent, 0, 100) / 100.0, true);
}

void TaskbarProgress::clear()
{
    send(0.0, false);
}

void TaskbarProgress::send(double progress, bool visible)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage signal
        = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/snipora"),
                                     QString::fromLatin1(Interface), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), progress);
    properties.insert(QStringLiteral("progress-visible"), visible);
    signal << QString::fromLatin1(ApplicationUri) << properties;
    m_bus.send(signal);
}
