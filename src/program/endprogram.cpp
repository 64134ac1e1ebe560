#include "program/endprogram.h"

#include <cstdlib>
#include <utility>

namespace {

std::function<void()>& Replacement()
{
    static std::function<void()> replacement;
    return replacement;
}

int& ExitStatus()
{
    static int status = 0;
    return status;
}

} // namespace

void EndProgram()
{
    if (Replacement()) {
        Replacement()();
        return;
    }
    // No destructors and no event loop: the log is already on disk line by line.
    std::_Exit(ExitStatus());
}

void SetProgramExitStatus(int status)
{
    ExitStatus() = status;
}

void SetEndProgram(std::function<void()> end)
{
    Replacement() = std::move(end);
}
