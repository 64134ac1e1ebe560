#include "rules/tomlreader.h"

#include "rules/values.h"

namespace {

// Where the n-th character (from 0) of a line starts, in UTF-16 units; -1 past its end.
qsizetype IndexOfCodePoint(QStringView line, qsizetype n)
{
    qsizetype i = 0;
    for (; n > 0 && i < line.size(); --n) {
        const bool pair =
            line.at(i).isHighSurrogate() && i + 1 < line.size() && line.at(i + 1).isLowSurrogate();
        i += pair ? 2 : 1;
    }
    return n == 0 && i < line.size() ? i : -1;
}

} // namespace

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

TomlReader::TomlReader(const QByteArray& text, const QString& fileName)
    : text_(text), fileName_(fileName), lines_(QString::fromUtf8(text).split(u'\n'))
{
    // Columns are counted from after a byte-order mark, as toml++ counts them.
    if (!lines_.isEmpty() && lines_.first().startsWith(QChar(0xFEFF)))
        lines_.first().remove(0, 1);
}

std::optional<toml::table> TomlReader::Parse()
{
    try {
        return toml::parse(std::string_view(text_.constData(), size_t(text_.size())),
                           fileName_.toStdString());
    } catch (const toml::parse_error& error) {
        Error(error.source().begin, ToQString(error.description()));
        return std::nullopt;
    }
}

bool TomlReader::Error(const toml::source_position& at, const QString& reason)
{
    errors_
        << QStringLiteral("%1:%2:%3: %4").arg(fileName_).arg(at.line).arg(at.column).arg(reason);
    return false;
}

const std::string* TomlReader::StringOf(const toml::node& node, const char* key)
{
    if (const toml::value<std::string>* text = node.as_string())
        return &text->get();
    Error(node.source().begin, QStringLiteral("%1 must be text in quotes").arg(QLatin1String(key)));
    return nullptr;
}

std::optional<std::chrono::milliseconds> TomlReader::ReadDuration(const toml::node& node,
                                                                  const char* key)
{
    const std::string* text = StringOf(node, key);
    if (!text)
        return std::nullopt;
    QString reason;
    const std::optional<std::chrono::milliseconds> duration =
        ParseDuration(ToQString(*text), reason);
    if (!duration)
        Error(node.source().begin, reason);
    return duration;
}

toml::source_position TomlReader::PositionIn(const toml::node& node, qsizetype offset) const
{
    const toml::source_position start = node.source().begin;
    if (start.line < 1 || start.line > static_cast<toml::source_index>(lines_.size()))
        return start;
    const QString& line = lines_.at(qsizetype(start.line) - 1);
    const qsizetype quote = IndexOfCodePoint(line, qsizetype(start.column) - 1);
    if (quote < 0)
        return start;
    const QStringView value = QStringView(line).mid(quote);
    const bool literal = value.startsWith(u'\'') && !value.startsWith(u"'''");
    const bool basic = value.startsWith(u'"') && !value.startsWith(u"\"\"\"");
    const QStringView before = value.mid(1, offset);
    if (!(literal || (basic && !before.contains(u'\\'))) || before.size() < offset)
        return start;
    toml::source_position at = start;
    at.column += static_cast<toml::source_index>(1 + before.toUcs4().size());
    return at;
}
