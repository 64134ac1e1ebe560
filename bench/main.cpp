// Prints the program's performance figures; a figure's name as argument runs that one only
// (log, udp, tcp, startup, convert, cli, rules, replay).
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
        {"log", LogLineFigures},     {"udp", UdpFloodFigures},       {"tcp", TcpFloodFigures},
        {"startup", StartUpFigures}, {"convert", ConversionFigures}, {"cli", CliFigures},
        {"rules", RulesFigures},     {"replay", ReplayFigures}};
    const char* order[] = {"log", "udp", "tcp", "startup", "convert", "cli", "rules", "replay"};
    for (const char* name : order) {
        if (argc < 2 || name == std::string(argv[1]))
            figures.at(name)();
    }
    return 0;
}
