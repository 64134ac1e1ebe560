#pragma once

#include "replay/conversations.h"

#include <QString>

#include <cstdio>
#include <vector>

// What is read from a capture, and how.
struct CaptureRequest {
    ConversationChoice choice;
    QString filter; // a BPF expression, as tcpdump takes it; empty for every packet
};

struct CaptureContents {
    std::vector<Conversation> conversations; // the chosen ones, in order
    int streamCount = 0; // conversations of the chosen protocol in the whole capture
    qint64 damaged = 0;  // IP packets whose headers could not be read
};

// Reads a classic pcap or pcapng file through libpcap. False, with why, when the file is no
// capture, is damaged, has a link type not read, or the filter is no BPF expression.
bool ReadCaptureFile(const QString& path, const CaptureRequest& request, CaptureContents& contents,
                     QString& why);
// The same from an open file, which is closed in any case.
bool ReadCaptureStream(FILE* file, const CaptureRequest& request, CaptureContents& contents,
                       QString& why);
