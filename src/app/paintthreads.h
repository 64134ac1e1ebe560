#pragma once

// Qt paints some frames with pooled threads, which it keeps 30 s by default. While a second
// thread lives the descriptor table is shared, and every system call on a descriptor (four for
// each logged line) takes and drops a reference to its file. Called once, before any painting:
// from then on the pool's threads end with their painting.
void LetPaintingThreadsEnd();
