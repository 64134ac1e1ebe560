#include "replay/exchanges.h"

#include <algorithm>

namespace {

void AddAnswer(const Conversation& conversation, const Chunk& chunk, Exchange& exchange)
{
    if (conversation.tcp && !exchange.answers.empty())
        exchange.answers.front() += chunk.bytes;
    else
        exchange.answers.push_back(chunk.bytes);
}

} // namespace

std::vector<Exchange> ExchangesOf(const Conversation& conversation)
{
    std::vector<Exchange> exchanges;
    qint64 previousNs = conversation.firstNs;
    for (const Chunk& chunk : conversation.chunks) {
        if (chunk.fromClient) {
            Exchange exchange;
            exchange.payload = chunk.bytes;
            // Clocks step back now and then; a gap is never negative.
            exchange.gapNs = std::max<qint64>(0, chunk.nanoseconds - previousNs);
            exchanges.push_back(std::move(exchange));
        } else if (!exchanges.empty()) {
            AddAnswer(conversation, chunk, exchanges.back());
        } else if (conversation.tcp) {
            exchanges.push_back(Exchange{false, {}, 0, {}});
            AddAnswer(conversation, chunk, exchanges.back());
        }
        previousNs = chunk.nanoseconds;
    }
    return exchanges;
}
