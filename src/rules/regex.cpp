#include "rules/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

struct Regex::Code {
    pcre2_code* code = nullptr;
    ~Code() { pcre2_code_free(code); }
};

namespace {

// PCRE2 may keep at most this much memory for backtracking in one match (KiB).
constexpr uint32_t kHeapLimitKiB = 64 * 1024;

// A match first gets a small grant of PCRE2's steps, then four times more each time it runs
// out, so what it costs the budget stays within four times the work it really did.
constexpr qint64 kFirstGrant = 8;

struct MatchData {
    pcre2_match_data* data;
    pcre2_match_context* context;
    ~MatchData()
    {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
    }
};

} // namespace

std::shared_ptr<const Regex> Regex::Compile(const QByteArray& expression, QString& error,
                                            qsizetype& errorOffset)
{
    int errorCode = 0;
    PCRE2_SIZE offset = 0;
    // NEVER_UTF keeps a (*UTF) in the expression from making bytes that are not UTF-8 an error.
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.constData()),
                                     static_cast<PCRE2_SIZE>(expression.size()), PCRE2_NEVER_UTF,
                                     &errorCode, &offset, nullptr);
    if (!code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(errorCode, message, sizeof message);
        error = QString::fromLatin1(reinterpret_cast<const char*>(message));
        errorOffset = static_cast<qsizetype>(offset);
        return nullptr;
    }
    auto owned = std::make_shared<Code>();
    owned->code = code;
    uint32_t groups = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
    return std::shared_ptr<const Regex>(new Regex(std::move(owned), static_cast<int>(groups)));
}

Regex::Outcome Regex::MatchAt(QByteArrayView subject, qsizetype start, qint64& budget,
                              qsizetype& end, std::vector<qsizetype>* groups) const
{
    for (qint64 grant = kFirstGrant;; grant *= 4) {
        grant = std::min(grant, budget);
        if (grant <= 0)
            return Outcome::OverLimit;
        const Attempt attempt = MatchOnce(subject, start, grant, end, groups);
        budget -= grant;
        if (attempt == Attempt::Matched)
            return Outcome::Matched;
        if (attempt == Attempt::NoMatch)
            return Outcome::NoMatch;
        if (attempt == Attempt::OutOfMemory || budget <= 0)
            return Outcome::OverLimit;
    }
}

Regex::Attempt Regex::MatchOnce(QByteArrayView subject, qsizetype start, qint64 limit,
                                qsizetype& end, std::vector<qsizetype>* groups) const
{
    MatchData match{pcre2_match_data_create_from_pattern(code_->code, nullptr),
                    pcre2_match_context_create(nullptr)};
    if (!match.data || !match.context)
        return Attempt::OutOfMemory;
    pcre2_set_match_limit(match.context, static_cast<uint32_t>(limit));
    pcre2_set_depth_limit(match.context, static_cast<uint32_t>(limit));
    pcre2_set_heap_limit(match.context, kHeapLimitKiB);
    static const char kNothing = 0; // PCRE2 10.42 refuses a null subject, even an empty one
    const char* bytes = subject.data() ? subject.data() : &kNothing;
    const int result = pcre2_match(
        code_->code, reinterpret_cast<PCRE2_SPTR>(bytes), static_cast<PCRE2_SIZE>(subject.size()),
        static_cast<PCRE2_SIZE>(start), PCRE2_ANCHORED, match.data, match.context);
    if (result == PCRE2_ERROR_MATCHLIMIT || result == PCRE2_ERROR_DEPTHLIMIT)
        return Attempt::OutOfSteps;
    if (result == PCRE2_ERROR_HEAPLIMIT || result == PCRE2_ERROR_NOMEMORY)
        return Attempt::OutOfMemory;
    if (result < 0)
        return Attempt::NoMatch;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match.data);
    end = static_cast<qsizetype>(ovector[1]);
    if (end < start) // \K cannot move the start past the end here, but stay safe
        return Attempt::NoMatch;
    if (groups) {
        groups->assign(2 * static_cast<size_t>(groups_), -1);
        const int set =
            std::min<int>(static_cast<int>(pcre2_get_ovector_count(match.data)) - 1, groups_);
        for (int g = 1; g <= set; ++g) {
            if (ovector[2 * g] == PCRE2_UNSET)
                continue;
            (*groups)[2 * (g - 1)] = static_cast<qsizetype>(ovector[2 * g]);
            (*groups)[2 * (g - 1) + 1] = static_cast<qsizetype>(ovector[2 * g + 1]);
        }
    }
    return Attempt::Matched;
}
