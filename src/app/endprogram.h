#pragma once

#include <functional>

// Ends the process at once: no further event of any control or timer is delivered, even when
// called from inside a nested event loop.
void EndProgram();

// Replaces what EndProgram does (tests); an empty function restores the immediate exit.
void SetEndProgram(std::function<void()> end);
