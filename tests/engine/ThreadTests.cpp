// The engine thread, its window and its message protocol.
#include "tests/engine/EngineTestSupport.h"

namespace {

TEST(EngineThread, StartsInGoAwayBecomesIdleAndQuitsWithExitCodeZero) {
    TFakeWaveOut fake;
    TWaveOutPlayThread engine(fake, true);
    EXPECT_STREQ(PlayStateName(engine.State), "GoAway");
    engine.Start();
    engine.SetPriority(THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(engine.GetPriority(), THREAD_PRIORITY_TIME_CRITICAL);
    ASSERT_TRUE(WaitForState(engine, psIdle));
    char className[64] = {};
    GetClassNameA(engine.UtilWindow, className, sizeof(className));
    EXPECT_STREQ(className, "QVQuellspringWaveOutPlayUtilWindow");
    engine.Quit();
    EXPECT_EQ(engine.WaitFor(), 0u);
    EXPECT_STREQ(PlayStateName(engine.State), "Exit");
    EXPECT_EQ(engine.UtilWindow, nullptr);
}

TEST(EngineThread, QuitBeforeTheThreadRunsStillEndsIt) {
    TFakeWaveOut fake;
    TWaveOutPlayThread engine(fake, true);
    engine.Quit();
    engine.Start();
    EXPECT_EQ(engine.WaitFor(), 0u);
    EXPECT_STREQ(PlayStateName(engine.State), "Exit");
}

TEST(EngineThread, WaitForStateChangeAfterTerminateReturnsAtOnce) {
    TFakeWaveOut fake;
    TWaveOutPlayThread engine(fake);
    ASSERT_TRUE(WaitForState(engine, psIdle));
    engine.Terminate();
    // Would block for a day if the terminated flag were ignored.
    engine.WaitForStateChange(86400000);
    engine.WaitForStateChange(86400000);
    engine.Quit();
    engine.WaitFor();
}

TEST(EngineThread, StateNamesCoverEveryValue) {
    const char* const expected[] = {"GoAway", "Idle",  "Init",  "Open", "Playing",
                                    "Paused", "Close", "Reset", "Exit", "Error"};
    for (unsigned value = 0; value < 10; ++value)
        EXPECT_STREQ(PlayStateName(value), expected[value]);
    EXPECT_STREQ(PlayStateName(10), "Unkown");
    EXPECT_STREQ(PlayStateName(255), "Unkown");
    EXPECT_EQ(EngineMessageName(PTM_PAUSE), "PTM_PAUSE");
    EXPECT_EQ(EngineMessageName(MM_WOM_DONE), "MM_WOM_DONE");
    EXPECT_EQ(PTM_GOIDLE, 0x0400u);
    EXPECT_EQ(PTM_PAUSE, 0x040Cu);
}

class EngineProtocol : public EngineTest {};

TEST_F(EngineProtocol, MessagesOutsideTheTableGetTheDefaultProcedure) {
    const HWND window = Engine->UtilWindow;
    EXPECT_EQ(SendMessageA(window, WM_QUERYOPEN, 0, 0), TRUE);
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("abc"));
    EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 3);
    EXPECT_EQ(SendMessageA(window, WM_USER + 100, 1, 2), 0);
}

TEST_F(EngineProtocol, PlaybackRateWithoutADeviceIsNormalSpeed) {
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_GETRATE, 0, 0), 0x00010000);
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_SETRATE, 0x8000, 0), 0x00010000);
    EXPECT_EQ(Fake.Calls(TFakeCall::SetRate), 0);
}

TEST_F(EngineProtocol, PlaybackRateWithADeviceComesFromTheDevice) {
    OpenDevice();
    Fake.Rate = 0x00018000;
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_GETRATE, 0, 0), 0x00018000);
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_SETRATE, 0x8000, 0), 0x8000);
    EXPECT_EQ(Fake.Rate, 0x8000u);
    Fake.Fail(TFakeCall::SetRate, MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_SETRATE, 0x4000, 0), 0x00010000);
    Fake.Fail(TFakeCall::GetRate, MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(SendMessageA(Engine->UtilWindow, PTM_GETRATE, 0, 0), 0x00010000);
    EXPECT_EQ(StateOf(*Engine), "Open");
}

TEST_F(EngineProtocol, QuitWhilePlayingClosesTheDeviceAndFreesEveryBuffer) {
    OpenDevice();
    StartPlaying(10);
    Queue(Pattern(3 * TestBlock, 2)); // some waiting in the queue as well
    ASSERT_TRUE(WaitToWrite(3));
    StopEngine();
}

TEST_F(EngineProtocol, QuitRetriesTheCloseOfADeviceThatStillPlays) {
    OpenDevice();
    StartPlaying(4);
    Fake.Fail(TFakeCall::Close, WAVERR_STILLPLAYING);
    Engine->Quit();
    Engine->PostClose(); // behind the quit: drained by the exit path, which closes once
    EXPECT_EQ(Engine->WaitFor(), 0u);
    EXPECT_EQ(Fake.Calls(TFakeCall::Close), 2);
    EXPECT_EQ(Fake.Calls(TFakeCall::Reset), 2) << "reset again before the second try";
    StopEngine();
}

TEST_F(EngineProtocol, UtilityWindowDestroyedFromOutsideEndsTheLoopInExit) {
    OpenDevice();
    StartPlaying(5);
    PostMessageA(Engine->UtilWindow, WM_CLOSE, 0, 0); // the default procedure destroys it
    EXPECT_EQ(Engine->WaitFor(), 0u);
    EXPECT_EQ(StateOf(*Engine), "Exit");
    StopEngine();
}

TEST_F(EngineProtocol, QuitArrivingWhileACloseDrainsMessagesStillEndsTheLoop) {
    OpenDevice();
    StartPlaying(4);
    // The quit lands in the queue that the close handler drains.
    const DWORD thread = Engine->ThreadID();
    Fake.OnCall(TFakeCall::Reset, [thread] { PostThreadMessageA(thread, WM_QUIT, 0, 0); });
    Engine->PostClose();
    EXPECT_EQ(Engine->WaitFor(), 0u);
    EXPECT_EQ(StateOf(*Engine), "Exit");
    EXPECT_TRUE(InOrder(StateNames(*Engine), {"Reset", "Exit"}));
    StopEngine();
}

TEST_F(EngineProtocol, DestroyingTheEngineWithoutQuitEndsItsThreadFirst) {
    OpenDevice();
    StartPlaying(3);
    Engine.reset(); // must neither hang nor leave the thread on a freed object
    EXPECT_FALSE(Fake.IsOpen());
}

} // namespace
