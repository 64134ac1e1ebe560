#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// One packet of a capture, as libpcap reads it back and its headers say.
struct CapturedPacket {
    qint64 nanoseconds = 0; // since the epoch
    int ipVersion = 0;
    bool ipChecksumOk = false; // IPv6 has none: always true there
    bool transportChecksumOk = false;
    bool tcp = false;
    QHostAddress source;
    quint16 sourcePort = 0;
    QHostAddress destination;
    quint16 destinationPort = 0;
    quint32 sequence = 0;
    quint32 acknowledgement = 0;
    quint8 flags = 0;
    QByteArray payload;
};

// Every packet of a raw-IP nanosecond capture; an unreadable file gives none, and `error` why.
QList<CapturedPacket> ReadCapture(const QString& path, QString* error = nullptr);
