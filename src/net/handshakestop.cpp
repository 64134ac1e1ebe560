#include "net/handshakestop.h"

#include <linux/filter.h>
#include <sys/socket.h>

// A socket filter on a TCP socket sees the TCP header first; byte 13 holds its flags.
void StopNewHandshakes(qintptr listenerDescriptor)
{
    constexpr quint32 kFlagsOffset = 13;
    constexpr quint32 kSynAndAck = 0x12;
    constexpr quint32 kSynOnly = 0x02;
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kFlagsOffset),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kSynAndAck),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSynOnly, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0),          // dropped
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF), // kept whole
    };
    const sock_fprog filter{sizeof program / sizeof program[0], program};
    ::setsockopt(int(listenerDescriptor), SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}
