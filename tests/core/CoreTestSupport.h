// Shared set-up for the core's tests: a clean clock, a real pacing timer and
// a wall clock the test can move.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "core/PlaybackClock.h"

namespace qvtest {

// Milliseconds on the performance counter, for measuring waits.
double MonotonicMs();

// The wall clock the core sees is the system's plus this many days.
extern double WallOffsetDays;
double OffsetNow();

class CoreTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Gives the core a pacing timer as Init would.
    void CreatePaceTimer();
};

} // namespace qvtest
