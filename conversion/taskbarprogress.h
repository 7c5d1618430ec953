#pragma once

#include <QDBusConnection>
#include <QString>

// The run's percentage on the program's launcher or taskbar entry, through the launcher-entry
// D-Bus signal that KDE Plasma, Dash to Dock and Plank show. Without a session bus it does
// nothing, silently.
class TaskbarProgress
{
public:
    static constexpr const char *Interface = "com.canonical.Unity.LauncherEntry";
    static constexpr const char *ApplicationUri = "application://snipora.desktop";

    explicit TaskbarProgress(QDBusConnection bus = QDBusConnection::sessionBus());

    // 0..100; shows the progress indication.
    void setValue(int percent);
    // Back to the state without progress.
    void clear();

private:
    void send(double progress, bool visible);

    QDBusConnection m_bus;
};
