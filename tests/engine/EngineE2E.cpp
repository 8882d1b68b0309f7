// The engine on Wine's real winmm, playing into the test environment's
// PulseAudio null sinks. Run by e2e_play.sh, which records the sinks and
// compares what they received with what was queued here.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Waveoutplaythreadunit.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

constexpr int32_t Rate = 44100;
constexpr uint32_t Block = 2304; // what the player hands over per Write
constexpr uint32_t BytesPerSecond = Rate * 4;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Bounded wait for a condition the engine does not signal.
template <class Predicate> bool WaitUntil(Predicate predicate, DWORD ms = 20000) {
    const DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(5);
    }
    return true;
}

void QueueBlocks(TWaveOutPlayThread& engine, const char* data, size_t bytes) {
    for (size_t done = 0; done < bytes; done += Block) {
        const auto size = uint32_t(std::min<size_t>(Block, bytes - done));
        engine.QueueData({Rate, 2, 16, size, data + done});
    }
}

std::vector<std::string> History(const TWaveOutPlayThread& engine) {
    std::vector<std::string> names;
    for (const uint8_t state : engine.StateHistory())
        names.push_back(PlayStateName(state));
    return names;
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

TEST(RealDevices, TwoSinksWithOneDescriptionAreNameAndNameTwo) {
    const std::string same = Env("QV_DEVICE_SAME");
    if (same.empty())
        GTEST_SKIP() << "not in the test environment (no QV_DEVICE_SAME)";
    std::string listed;
    for (const TWaveOutDevice& device : WaveOutDeviceList())
        listed += std::to_string(device.Id) + ":" + device.Name + "; ";
    std::printf("devices: %s\n", listed.c_str());
    const int32_t first = DeviceNameToId(same);
    const int32_t second = DeviceNameToId(same + "(2)");
    EXPECT_GE(first, 0) << listed;
    EXPECT_GE(second, 0) << listed;
    EXPECT_NE(first, second);
    std::string lower = same + "(2)";
    for (char& c : lower)
        c = char(tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(DeviceNameToId(lower), -2);
    EXPECT_EQ(DeviceNameToId(same + "(3)"), -2);
    EXPECT_EQ(DeviceNameToId(WaveOutDeviceList().front().Name), -1) << "the mapper comes first";
}

// Plays 2 s, pauses in the middle, queues 1 s more (and a tail of silence)
// while paused, resumes, plays to the end and closes. The queued audio goes
// to QV_E2E_QUEUED.
TEST(RealDevice, OpensPreBuffersPlaysPausesAndCloses) {
    const std::string same = Env("QV_DEVICE_SAME");
    const std::string queuedFile = Env("QV_E2E_QUEUED");
    if (same.empty() || queuedFile.empty())
        GTEST_SKIP() << "run by e2e_play.sh in the test environment";
    // Never a frame of silence, so that the record's silence is the device's.
    const std::vector<char> data = Pattern(3 * BytesPerSecond, 7);
    const size_t beforePause = 2 * BytesPerSecond;
    const std::vector<char> silence(BytesPerSecond / 2);

    TWaveOutPlayThread engine;
    engine.SetPriority(THREAD_PRIORITY_TIME_CRITICAL);
    ASSERT_TRUE(WaitForState(engine, psIdle));
    ASSERT_TRUE(engine.RequestOpen(same + "(2)", Rate, 2, 16, Block));
    ASSERT_TRUE(WaitForState(engine, psOpen)) << PlayStateName(engine.State);
    EXPECT_EQ(engine.BuffSize, 4 * Block) << "four blocks to a buffer";

    QueueBlocks(engine, data.data(), beforePause);
    ASSERT_TRUE(WaitUntil([&] { return engine.GetTotalBytes() == int32_t(beforePause); }));
    engine.PostRestart();
    ASSERT_TRUE(WaitForState(engine, psPlaying));
    // Pause with about a second still to play.
    ASSERT_TRUE(WaitUntil([&] { return engine.GetTotalBytes() < int32_t(BytesPerSecond); }));
    engine.PostPause();
    ASSERT_TRUE(WaitForState(engine, psPaused));
    // A pause long enough to be seen in the record; notifications of buffers
    // the device finished just before it settle meanwhile.
    Sleep(300);
    const int32_t heldAtPause = engine.GetTotalBytes();
    QueueBlocks(engine, data.data() + beforePause, data.size() - beforePause);
    // Wine reports a buffer done when its clock passes the buffer's end, a
    // little before the sink has rendered it, and the close resets the stream
    // at once: a tail of silence takes that cut, and the record's silence is
    // not compared.
    QueueBlocks(engine, silence.data(), silence.size());
    const int32_t added = int32_t(data.size() - beforePause + silence.size());
    // All of it arrives and stays: a paused device plays nothing.
    EXPECT_TRUE(WaitUntil([&] { return engine.GetTotalBytes() == heldAtPause + added; }))
        << "held " << engine.GetTotalBytes() << " of " << heldAtPause << " + " << added;
    EXPECT_EQ(PlayStateName(engine.State), std::string("Paused"));
    engine.PostRestart();
    ASSERT_TRUE(WaitForState(engine, psPlaying));
    ASSERT_TRUE(WaitForState(engine, psOpen)) << "never ran to the end";
    EXPECT_EQ(engine.GetTotalBytes(), 0);
    engine.PostClose();
    ASSERT_TRUE(WaitForState(engine, psIdle));

    const std::vector<std::string> history = History(engine);
    std::printf("states: %s\n", Join(history).c_str());
    const std::vector<std::string> wanted = {"Idle",    "Init", "Open",  "Playing", "Paused",
                                             "Playing", "Open", "Reset", "Close",   "Idle"};
    size_t next = 0;
    for (const std::string& name : history)
        if (next < wanted.size() && name == wanted[next])
            ++next;
    EXPECT_EQ(next, wanted.size()) << Join(history);
    EXPECT_EQ(engine.Stats.BuffersAllocated, engine.Stats.BuffersFreed);
    EXPECT_EQ(engine.Stats.DryRuns, 1u) << "the device ran dry before the end";

    engine.Quit();
    EXPECT_EQ(engine.WaitFor(), 0u);
    EXPECT_EQ(engine.LiveBuffers(), 0u);

    FILE* out = std::fopen(queuedFile.c_str(), "wb");
    ASSERT_NE(out, nullptr) << queuedFile;
    EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), out), data.size());
    std::fclose(out);
}

} // namespace
