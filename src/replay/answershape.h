#pragma once

#include "rules/pattern.h"

#include <QString>

#include <optional>
#include <vector>

struct Token;

// A pattern of the rules language read as the parts it cuts an answer into, so that two answers
// of its shape can be compared part by part, their named captures left out.
class AnswerShape {
public:
    struct Part {
        qsizetype from = 0;
        qsizetype length = 0;
        bool ignored = false; // a named capture
    };

    // Expressions (re"...") and bit fields are refused: nothing tells where their bytes end.
    static std::optional<AnswerShape> Parse(const QString& text, SyntaxError& error);

    // The parts of `answer` when the pattern matches it whole; none otherwise.
    std::optional<std::vector<Part>> Cut(QByteArrayView answer) const;

private:
    // A part of fixed length, a named capture, or a run of open length the user did not name.
    struct Piece {
        qsizetype length = 0; // fixed parts
        QString name;         // the others: the capture that tells their length
        bool ignored = false;
    };

    // Reads one token as a piece and writes it again into `rewritten`; false for an expression.
    static bool AddPiece(const Token& token, const Pattern& original, int& runs, QString& rewritten,
                         std::vector<Piece>& pieces);
    static bool AddBrace(const QString& text, Piece& piece);

    AnswerShape(Pattern pattern, std::vector<Piece> pieces)
        : pattern_(std::move(pattern)), pieces_(std::move(pieces))
    {
    }

    Pattern pattern_; // the text's, with each unnamed run given a name of its own
    std::vector<Piece> pieces_;
};
