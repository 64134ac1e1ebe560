#pragma once

#include "rules/expression.h"
#include "rules/pattern.h"
#include "rules/syntax.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// A name the rules file's [state] table gives the stand-in: one value, or a table of values
// by index (every index not set holds 0).
struct StateDeclaration {
    QString name;
    bool table = false;
    quint64 value = 0;            // a value's start
    std::vector<quint64> initial; // a table's start, from index 0
};

// One `set` statement: TARGET = VALUE, or TARGET[INDEX] = VALUE, optionally done
// `repeat COUNT:` times with `index` counting from 0.
struct Assignment {
    QString target; // a declared state name, without "state."
    std::optional<Expression> index;
    std::optional<Expression> value;
    std::optional<Expression> repeat;
    qsizetype targetOffset = 0;
    qsizetype repeatOffset = 0;
    qsizetype indexOffset = 0;
    qsizetype valueOffset = 0;

    static std::optional<Assignment> Parse(QStringView text, SyntaxError& error);
    // Every name the statement reads (not its target), for checking against what is known.
    std::optional<SyntaxError>
    FindUnknownName(const std::function<bool(const QString&)>& known) const;
};

// The stand-in's memory: kept for the run, across reloads of the rules, for every peer alike.
class StandInState : public Scope {
public:
    // Names that remain keep their values; new ones start as declared; the rest go.
    void Declare(const std::vector<StateDeclaration>& declarations);

    std::optional<QByteArray> Bytes(const QString& name) const override;
    std::optional<quint64> State(const QString& name, std::optional<quint64> index) const override;

    // Carries out `assignment` with `scope` for the names it reads (this state among them);
    // returns why it stopped short of all of it, empty when it did not.
    QString Apply(const Assignment& assignment, CaptureScope& scope);

    // Indexes come from requests: without a bound, a peer writing to ever new ones would take
    // all the memory there is.
    static constexpr qsizetype kMostEntries = 1 << 20;

    bool IsEmpty() const { return values_.isEmpty() && tables_.isEmpty(); }
    // "count=3, reg[0]=7, reg[1]=42", names in the order declared, table entries by index.
    QString Summary() const;

private:
    bool Store(const Assignment& assignment, const CaptureScope& scope);

    QStringList order_;
    QHash<QString, quint64> values_;
    QHash<QString, QMap<quint64, quint64>> tables_;
};
