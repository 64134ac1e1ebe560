#pragma once

#include <functional>

// Ends the process at once: no further event of any control or timer is delivered, even when
// called from inside a nested event loop. The exit status is 0 unless set below.
void EndProgram();

// The status EndProgram exits with.
void SetProgramExitStatus(int status);

// Replaces what EndProgram does (tests); an empty function restores the immediate exit.
void SetEndProgram(std::function<void()> end);
