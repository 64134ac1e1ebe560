#include "support/processports.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <unistd.h>

bool HoldsUdpPort(qint64 pid, quint16 port)
{
    const QByteArray localPortField =
        ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QSet<QByteArray> sockets;
    for (const QString& table :
         {QStringLiteral("/proc/net/udp"), QStringLiteral("/proc/net/udp6")}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the column names
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() > 9 && fields.at(1).endsWith(localPortField))
                sockets.insert("socket:[" + fields.at(9) + ']');
        }
    }
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fds).entryList(QDir::System)) {
        char target[64] = {};
        const QByteArray path = QFile::encodeName(fds + QLatin1Char('/') + fd);
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 && sockets.contains(target))
            return true;
    }
    return false;
}
