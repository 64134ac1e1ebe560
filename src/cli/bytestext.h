#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Bytes as messages and transcript lines show them: hex digits, then quoted text. Beyond
// kShownBytes, unless `full`, only the first and last bytes and, around `differsAt`, a window
// of them are shown, each piece after its offset, the whole after the length:
//   100000 bytes, shortened (--full shows all): [0] 4141 "AA" ... [49992] 4142 "AB" ... [99984] ...
// so that a long answer does not make a line the reader cannot use.
constexpr qsizetype kShownBytes = 64;

QByteArray BytesText(QByteArrayView bytes, bool full,
                     std::optional<qsizetype> differsAt = std::nullopt);
