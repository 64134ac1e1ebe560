#pragma once

#include <QtGlobal>

// A run of failures of one kind (lines not logged, packets not captured): the first is told with
// its reason, the others are only counted, and the count is told once things work again.
class FailureRun {
public:
    // Counts a failure; true when it starts a run, the one failure to tell.
    bool Fail() { return count_++ == 0; }
    // Failures since the run began; 0 when none is going on.
    qint64 Count() const { return count_; }
    void End() { count_ = 0; }

private:
    qint64 count_ = 0;
};
