// The byte and text conversions on 1 MB of bytes (2 MB of hexadecimal digits for HexToBytes).
#include "benchsupport.h"
#include "figures.h"

#include "convert/conversions.h"

#include <QRandomGenerator>

namespace {

constexpr int kBytes = 1024 * 1024;
constexpr int kRuns = 7;

template <typename Work> double MegabytesPerSecond(Work work)
{
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        const auto result = work();
        seconds.push_back(clock.nsecsElapsed() / 1e9);
        if (result.size() == 0)
            return 0;
    }
    return kBytes / (1024.0 * 1024.0) / Median(seconds);
}

} // namespace

void ConversionFigures()
{
    QByteArray bytes(kBytes, Qt::Uninitialized);
    QRandomGenerator generator(24);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    const QString hex = BytesToHex(bytes);
    PrintFigure(QStringLiteral("HexToBytes"), MegabytesPerSecond([&] { return HexToBytes(hex); }),
                QStringLiteral("MB/s"), 1);
    PrintFigure(QStringLiteral("BytesToHex"), MegabytesPerSecond([&] { return BytesToHex(bytes); }),
                QStringLiteral("MB/s"), 1);
    PrintFigure(QStringLiteral("BytesToText"),
                MegabytesPerSecond([&] { return BytesToText(bytes); }), QStringLiteral("MB/s"), 1);
}
