#include "floorflood.h"

#include "benchsupport.h"

#include <QProcess>

FloorResult FloodFloor(int count, int rate, int size, bool asksEnd)
{
    ScratchProgramFolder folder;
    const quint16 port = FreeUdpPort();
    QStringList arguments{QString::number(port), QString::number(count), folder.dayFile()};
    if (asksEnd)
        arguments << QStringLiteral("ends");
    QProcess receiver;
    receiver.start(QStringLiteral(BENCH_BARERECEIVER), arguments);
    receiver.waitForReadyRead(10000);
    receiver.readLine(); // ready
    QProcess sender;
    sender.start(QStringLiteral(BENCH_UDPSENDER), {QString::number(port), QString::number(count),
                                                   QString::number(rate), QString::number(size)});
    sender.waitForFinished(600000);
    receiver.waitForFinished(600000);
    FloorResult result;
    result.sent = sender.readAllStandardOutput().trimmed().toLongLong();
    const QList<QByteArray> figures = receiver.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() == 3) {
        result.received = figures.at(0).toLongLong();
        result.cpuUsPerDatagram = figures.at(1).toDouble();
        result.arrivingSeconds = figures.at(2).toDouble();
    }
    return result;
}
