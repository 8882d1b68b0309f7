// The fixture of the engine's unit tests: an engine on the fake device,
// started and idle, and checked for leaks when the test ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Waveoutplaythreadunit.h"
#include "tests/engine/FakeWaveOut.h"

// 16-bit stereo 44100 Hz: the format of most tests.
constexpr int32_t TestRate = 44100;
constexpr int32_t TestChannels = 2;
constexpr int32_t TestBits = 16;
// 52 ms: a block fills a device buffer of its own.
constexpr uint32_t TestBlock = 9216;

inline std::string StateOf(const TWaveOutPlayThread& engine) {
    return PlayStateName(engine.State);
}

// The names of the states assigned since the engine started, oldest first.
std::vector<std::string> StateNames(const TWaveOutPlayThread& engine);
// True when `wanted` occurs in `history` in this order (others may come between).
bool InOrder(const std::vector<std::string>& history, const std::vector<std::string>& wanted);
// Bytes that differ from block to block and are never all zero in a frame.
std::vector<char> Pattern(size_t bytes, unsigned seed);
// Waits on the engine's state event until State is `wanted`.
bool WaitForState(TWaveOutPlayThread& engine, TPlayState wanted, DWORD ms = 10000);

class EngineTest : public testing::Test {
protected:
    explicit EngineTest(std::vector<TFakeDevice> devices = {{"Fake Mapper"}, {"Speakers"}})
        : Fake(std::move(devices)) {}
    void SetUp() override;
    void TearDown() override;

    // Opens "Speakers" at 44100/2/16 and waits for psOpen.
    void OpenDevice(uint32_t blockBytes = TestBlock, const std::string& name = "Speakers");
    void Queue(const std::vector<char>& bytes);
    // Waits until the engine has prepared and queued `count` buffers.
    bool WaitToWrite(int32_t count);
    // Queues `count` full buffers, restarts and waits until they are in the device.
    std::vector<char> StartPlaying(int count, unsigned seed = 1);
    bool Until(const std::function<bool()>& predicate) { return Fake.WaitFor(predicate); }
    // Ends the engine as the core's Quit does; checks that nothing leaked.
    void StopEngine();

    TFakeWaveOut Fake;
    std::unique_ptr<TWaveOutPlayThread> Engine;
};
