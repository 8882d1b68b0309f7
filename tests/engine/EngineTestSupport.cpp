#include "tests/engine/EngineTestSupport.h"

std::vector<std::string> StateNames(const TWaveOutPlayThread& engine) {
    std::vector<std::string> names;
    for (const uint8_t state : engine.StateHistory())
        names.push_back(PlayStateName(state));
    return names;
}

bool InOrder(const std::vector<std::string>& history, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const std::string& name : history)
        if (next < wanted.size() && name == wanted[next])
            ++next;
    return next == wanted.size();
}

std::vector<char> Pattern(size_t bytes, unsigned seed) {
    std::vector<char> data(bytes);
    unsigned value = seed * 2654435761u;
    for (size_t i = 0; i < bytes; ++i) {
        value = value * 1664525u + 1013904223u;
        data[i] = char((value >> 24) | 1);
    }
    return data;
}

bool WaitForState(TWaveOutPlayThread& engine, TPlayState wanted, DWORD ms) {
    const DWORD start = GetTickCount();
    while (engine.State != wanted) {
        if (GetTickCount() - start > ms)
            return false;
        engine.WaitForStateChange(100);
    }
    return true;
}

void EngineTest::SetUp() {
    Engine = std::make_unique<TWaveOutPlayThread>(Fake);
    ASSERT_TRUE(WaitForState(*Engine, psIdle)) << "state " << StateOf(*Engine);
}

void EngineTest::TearDown() {
    if (Engine != nullptr)
        StopEngine();
}

void EngineTest::StopEngine() {
    Engine->Quit();
    EXPECT_EQ(Engine->WaitFor(), 0u);
    EXPECT_EQ(StateOf(*Engine), "Exit");
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
    EXPECT_EQ(Engine->Stats.BuffersAllocated, Engine->Stats.BuffersFreed);
    EXPECT_EQ(Engine->UnusedCount, 0);
    EXPECT_EQ(Engine->ToWriteCount, 0);
    EXPECT_EQ(Engine->InQueueCount, 0);
    EXPECT_EQ(Engine->GetTotalBytes(), 0);
    EXPECT_FALSE(Fake.IsOpen()) << "the device was left open";
    Engine.reset();
}

void EngineTest::OpenDevice(uint32_t blockBytes, const std::string& name) {
    ASSERT_TRUE(Engine->RequestOpen(name, TestRate, TestChannels, TestBits, int32_t(blockBytes)));
    ASSERT_TRUE(WaitForState(*Engine, psOpen)) << "state " << StateOf(*Engine);
}

void EngineTest::Queue(const std::vector<char>& bytes) {
    Engine->QueueData({TestRate, TestChannels, TestBits, uint32_t(bytes.size()), bytes.data()});
}

bool EngineTest::WaitToWrite(int32_t count) {
    return Until([&] { return Engine->ToWriteCount == count; });
}

std::vector<char> EngineTest::StartPlaying(int count, unsigned seed) {
    std::vector<char> data = Pattern(size_t(count) * Engine->BuffSize, seed);
    Queue(data);
    EXPECT_TRUE(WaitToWrite(count));
    Engine->PostRestart();
    EXPECT_TRUE(Until([&] { return Fake.InDevice() == size_t(count); }));
    EXPECT_TRUE(WaitForState(*Engine, psPlaying)) << "state " << StateOf(*Engine);
    return data;
}
