// The audio output engine: one time-critical thread that owns the wave-out
// device, the buffer pool and the ten-state machine. Other threads only post
// messages to its hidden window, read the snapshot fields below and wait on
// StateEvent.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <windows.h>

enum TPlayState : uint8_t {
    psGoAway = 0,
    psIdle = 1,
    psInit = 2,
    psOpen = 3,
    psPlaying = 4,
    psPaused = 5,
    psClose = 6,
    psReset = 7,
    psExit = 8,
    psError = 9,
};

// Display name of a state value; "Unkown" outside 0..9.
const char* PlayStateName(unsigned value);

// One PCM block handed to QueueData; the bytes are copied before it returns.
struct QueueBlock {
    int32_t SampleRate;
    int32_t Channels;
    int32_t BitsPerSample;
    uint32_t ByteCount;
    const void* Data;
};

class TWaveOutPlayThread {
public:
    explicit TWaveOutPlayThread(bool CreateSuspended = false);
    ~TWaveOutPlayThread();
    TWaveOutPlayThread(const TWaveOutPlayThread&) = delete;
    TWaveOutPlayThread& operator=(const TWaveOutPlayThread&) = delete;

    void SetPriority(int priority);
    void WaitForStateChange(int32_t ms);
    bool RequestOpen(const std::string& name, int32_t sampleRate, int32_t channels,
                     int32_t bitsPerSample, int32_t blockBytes);
    void QueueData(const QueueBlock& block);
    void PostRestart();
    void PostClose();
    void PostPause();
    void PostVolume(int32_t volume);
    void PostPan(int32_t pan);
    int32_t GetTotalBytes();
    void Quit();
    // Waits until the thread has ended; returns its exit code.
    DWORD WaitFor();

    // Snapshots other threads read without the lock.
    std::atomic<uint8_t> State{psGoAway};
    std::atomic<int32_t> SampleRate{0};
    std::atomic<int32_t> BitsPerSample{0};
    std::atomic<int32_t> Channels{0};
    std::atomic<uint32_t> BlockAlign{0};
    std::atomic<uint32_t> BuffSize{0};
    std::atomic<int32_t> UnusedCount{0};
    std::atomic<int32_t> ToWriteCount{0};
    std::atomic<int32_t> InQueueCount{0};
    std::atomic<int32_t> Volume{255};
    std::atomic<int32_t> Pan{0};
};
