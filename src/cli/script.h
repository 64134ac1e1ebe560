#pragma once

#include "cli/conventions.h"
#include "cli/expectation.h"
#include "rules/replytemplate.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

// One thing a test does, in order.
struct Step {
    enum class Kind { Send, Expect, Sleep, Connect, Close };
    Kind kind = Kind::Send;
    std::optional<ReplyTemplate> payload;   // Send
    std::optional<Expectation> expectation; // Expect
    std::chrono::milliseconds duration{0};  // Expect: how long to wait; Sleep: how long
    Target target;                          // Connect
    int line = 0;                           // in the script, for messages
};

struct ScriptTest {
    QString name;
    std::vector<Step> steps;
};

struct Script {
    QString path;
    std::optional<Target> target; // where a test's first exchange goes, unless it connects
    TextEncoding encoding = TextEncoding::Utf8;
    std::chrono::milliseconds timeout{2000}; // to connect and send, and expect unless it says
    std::vector<ScriptTest> tests;
};

struct ScriptLoad {
    std::optional<Script> script; // none when there is any error
    QStringList errors;           // "FILE:LINE:COLUMN: reason"
};

// Reads a TOML test script. Every payload and expectation is checked here, each capture a
// payload uses against the expectations before it in its test and `givenNames` (--var), so a
// wrong script sends nothing.
ScriptLoad LoadScript(const QString& path, const QSet<QString>& givenNames);
