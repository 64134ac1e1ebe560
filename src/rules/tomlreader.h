#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <toml++/toml.h>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string_view>

QString ToQString(std::string_view text);

// What the readers of hand-written TOML files (rules, scripts) share: every error as
// "FILE:LINE:COLUMN: reason", positions inside string values, and the checks of plain values.
class TomlReader {
protected:
    TomlReader(const QByteArray& text, const QString& fileName);

    // The document; none, with the error noted, when the text is not TOML.
    std::optional<toml::table> Parse();

    // Notes the error; always false, so a check can end with `return Error(...)`.
    bool Error(const toml::source_position& at, const QString& reason);
    // The text of a string value; null, with an error naming `key`, for any other value.
    const std::string* StringOf(const toml::node& node, const char* key);
    // A duration value ("20ms", "1.5s"); none, with the error noted, when it is not one.
    std::optional<std::chrono::milliseconds> ReadDuration(const toml::node& node, const char* key);
    // The position of a character inside a string value: exact when the string is written on
    // one line and nothing before that character is a TOML escape; otherwise the value's own.
    toml::source_position PositionIn(const toml::node& node, qsizetype offset) const;

    const QStringList& Errors() const { return errors_; }
    const QString& FileName() const { return fileName_; }

private:
    QByteArray text_;
    QString fileName_;
    QStringList lines_;
    QStringList errors_;
};
