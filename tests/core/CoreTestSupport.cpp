#include "CoreTestSupport.h"

#include "core/MainUnit.h"

namespace qvtest {

double WallOffsetDays = 0.0;

double OffsetNow() {
    return qv::SystemNow() + WallOffsetDays;
}

double MonotonicMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void CoreTest::SetUp() {
    qv::ResetClockForTest();
    qv::ClockSource = qv::SystemClockSource();
    WallOffsetDays = 0.0;
}

void CoreTest::TearDown() {
    if (qv::Clock.PaceTimer != nullptr)
        CloseHandle(qv::Clock.PaceTimer);
    qv::ResetClockForTest();
    qv::ClockSource = qv::SystemClockSource();
}

void CoreTest::CreatePaceTimer() {
    qv::Clock.PaceTimer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    ASSERT_NE(qv::Clock.PaceTimer, nullptr);
}

} // namespace qvtest
