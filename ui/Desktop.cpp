// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

namespace corvane {

QUrl fileUrl(const std::filesystem::path& path) {
    const QByteArray bytes = QByteArray::fromStdString(path.string());
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

void revealInFileManager(const std::filesystem::path& file) {
    const QUrl folder = fileUrl(file.parent_path());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUrl(file).toEncoded())} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) QDesktopServices::openUrl(folder);
        finished->deleteLater();
    });
}

}  // namespace corvane
