#pragma once

// Qt paints some frames with pooled threads (a list's scroll bar, five times a second under a
// flood), which it keeps 30 s by default. While a second thread lives the descriptor table is
// shared: every system call on a descriptor (four for each logged line) then takes and drops a
// reference to its file, and a write or seek also locks its position. Starting the two threads
// again for each painting costs far less. Called once, before any painting.
void LetPaintingThreadsEnd();
