#include "cli/closestrule.h"

#include "cli/expectation.h"

namespace {

QString HexByte(int byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// How the request departs from a rule that agrees with its first `difference.offset` bytes.
QString Parting(const Expectation& expectation, const Difference& difference, QByteArrayView input)
{
    const qsizetype at = difference.offset;
    if (at >= input.size())
        return QStringLiteral("which agrees with all %1 bytes but wants more").arg(input.size());
    const int got = quint8(input[at]);
    if (!difference.definite)
        return QStringLiteral("which agrees with the first %1 bytes; what follows does not match")
            .arg(at);
    const std::optional<int> wanted = expectation.HeadByte(at);
    if (!wanted)
        return QStringLiteral("which ends at byte %1; the input has %2 bytes more")
            .arg(at)
            .arg(input.size() - at);
    return QStringLiteral("which parts at byte %1 (expected %2, got %3)")
        .arg(at)
        .arg(HexByte(*wanted), HexByte(got));
}

} // namespace

QString ClosestRule(const RuleSet& rules, QByteArrayView input, bool udp, const QHostAddress& peer)
{
    const Rule* best = nullptr;
    std::optional<Expectation> bestExpectation;
    Difference bestDifference;
    for (const Rule& rule : rules.rules) {
        if (!rule.match || !rule.Accepts(udp ? Protocol::Udp : Protocol::Tcp, peer))
            continue;
        SyntaxError error;
        std::optional<Expectation> expectation =
            Expectation::Parse(rule.matchText, rules.encoding, error);
        if (!expectation)
            continue;
        const Difference difference = expectation->FirstDifference(input, udp);
        const bool tells = difference.offset > 0 || difference.definite;
        if (tells && (!best || difference.offset > bestDifference.offset)) {
            best = &rule;
            bestExpectation = std::move(expectation);
            bestDifference = difference;
        }
    }
    if (!best || input.isEmpty())
        return QString();
    return QStringLiteral("closest: \"%1\", %2")
        .arg(best->name, Parting(*bestExpectation, bestDifference, input));
}
