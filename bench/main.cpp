// Prints the program's performance figures; a figure's name as argument runs that one only
// (log, udp, tcp, startup, convert, cli, rules, replay; udp-ratio is the part of udp that sets
// the window and the program against the floor).
#include "figures.h"

#include "app/paintthreads.h"

#include <QApplication>
#include <functional>
#include <map>
#include <string>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // As the program does, so the window's figures are the program's.
    LetPaintingThreadsEnd();
    const std::map<std::string, std::function<void()>> figures{
        {"log", LogLineFigures},        {"udp", UdpFloodFigures},
        {"tcp", TcpFloodFigures},       {"startup", StartUpFigures},
        {"convert", ConversionFigures}, {"cli", CliFigures},
        {"rules", RulesFigures},        {"replay", ReplayFigures},
        {"udp-ratio", UdpRatioFigures}};
    if (argc >= 2) {
        const auto figure = figures.find(argv[1]);
        if (figure == figures.end())
            return 2;
        figure->second();
        return 0;
    }
    for (const char* name : {"log", "udp", "tcp", "startup", "convert", "cli", "rules", "replay"})
        figures.at(name)();
    return 0;
}
