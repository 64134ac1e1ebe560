#pragma once

#include "rules/syntax.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What the names of an expression, a pattern or a template stand for while a request is
// answered or an answer checked. A name is a capture or a variable ("count"), "counter",
// "index" inside a repeat, or a stand-in's state ("state.reg").
class Scope {
public:
    virtual ~Scope() = default;
    // The bytes a name holds; none when it holds none here.
    virtual std::optional<QByteArray> Bytes(const QString& name) const = 0;
    // The number a name holds: by default its bytes read big-endian (the last eight of them).
    virtual std::optional<quint64> Number(const QString& name) const;
    // A stand-in's state: a value, or one element of a table (`index` given).
    virtual std::optional<quint64> State(const QString& name, std::optional<quint64> index) const;
};

// Reads bytes as an unsigned number; only the last eight count.
quint64 BigEndianValue(QByteArrayView bytes);
quint64 LittleEndianValue(QByteArrayView bytes);
// `value` as `width` bytes (1 to 8), its low bytes.
void AppendNumber(QByteArray& out, quint64 value, int width, bool littleEndian);

// How `{NAME:WIDTH}` writes or reads a number: WIDTH bytes, big-endian unless WIDTH ends in
// "le", or WIDTH bits when it ends in "b".
struct NumberWidth {
    int size = 0; // bytes, or bits when `bits`
    bool littleEndian = false;
    bool bits = false;

    // None when `text` is not written as a width at all; with a reason when it is, but wrongly.
    static std::optional<NumberWidth> Parse(QStringView text, QString& reason);
};

// Unsigned 64-bit arithmetic, wrapping as C does; division by zero gives 0. Operators, loosest
// first: | ^ & << >> + - * / % and unary - ~; numbers 42, 0x2A, 0b101010; names; name[i] (byte
// i of a capture, 0 past its end); len(name); state.NAME and state.NAME[i].
class Expression {
public:
    static std::optional<Expression> Parse(QStringView text, SyntaxError& error);

    quint64 Evaluate(const Scope& scope) const;
    // The first name `known` says no to ("count", "state.reg"), with its offset in the text.
    std::optional<SyntaxError>
    FindUnknownName(const std::function<bool(const QString&)>& known) const;
    // The expression is one name and nothing else.
    bool IsName() const;
    bool Reads(const QString& name) const;

    struct Node;

private:
    explicit Expression(std::shared_ptr<const std::vector<Node>> nodes) : nodes_(std::move(nodes))
    {
    }

    std::shared_ptr<const std::vector<Node>> nodes_; // the root is the last
};
