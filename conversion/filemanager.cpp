#include "filemanager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QUrl>

bool ShowInFileManager(const QString &filePath)
{
    static const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const bool running = bus.interface()->isServiceRegistered(service).value();
    const bool startable
        = running || bus.interface()->activatableServiceNames().value().contains(service);
    if (!startable)
        return false;
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                         service, QStringLiteral("ShowItems"));
    call << QStringList { QUrl::fromLocalFile(filePath).toString() } << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
