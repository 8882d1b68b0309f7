// The records the player reads, as the loader's attach fills them.
#include <gtest/gtest.h>

#include <cstring>

#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"

namespace {

class RecordTest : public testing::Test {
protected:
    // The test program has no version resource: the descriptions keep v0.0.
    void SetUp() override { qv::ProcessAttach(GetModuleHandleA(nullptr)); }
};

TEST_F(RecordTest, OutputModuleCarriesItsConstantsAndEveryOperation) {
    Out_Module* const module = winampGetOutModule();
    ASSERT_EQ(module, &plugin);
    EXPECT_EQ(module->version, 0x10);
    EXPECT_EQ(module->id, 0x10001);
    EXPECT_STREQ(module->description, "Quovant Quellspring Output v0.0");
    EXPECT_EQ(module->hMainWindow, nullptr) << "the player fills it";
    const void* const operations[] = {reinterpret_cast<void*>(module->Config),
                                      reinterpret_cast<void*>(module->About),
                                      reinterpret_cast<void*>(module->Init),
                                      reinterpret_cast<void*>(module->Quit),
                                      reinterpret_cast<void*>(module->Open),
                                      reinterpret_cast<void*>(module->Close),
                                      reinterpret_cast<void*>(module->Write),
                                      reinterpret_cast<void*>(module->CanWrite),
                                      reinterpret_cast<void*>(module->IsPlaying),
                                      reinterpret_cast<void*>(module->Pause),
                                      reinterpret_cast<void*>(module->SetVolume),
                                      reinterpret_cast<void*>(module->SetPan),
                                      reinterpret_cast<void*>(module->Flush),
                                      reinterpret_cast<void*>(module->GetOutputTime),
                                      reinterpret_cast<void*>(module->GetWrittenTime)};
    for (const void* operation : operations)
        EXPECT_NE(operation, nullptr);
}

TEST_F(RecordTest, DspHeaderHandsOutTheDetectorModuleOnlyAtIndexZero) {
    winampDSPHeader* const header = QuellspringwinampDSPGetHeader2();
    ASSERT_EQ(header, &plugin2);
    EXPECT_EQ(header->version, 0x20);
    EXPECT_STREQ(header->description, "Quovant Quellspring Output Detector DSP v0.0");
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);
    winampDSPModule* const module = header->getModule(0);
    ASSERT_EQ(module, &DSPmodule0);
    EXPECT_EQ(header->getModule(0), module);
    EXPECT_STREQ(module->description, "Quellspring Detector DSP");
    EXPECT_EQ(module->userData, nullptr);
    for (int key : {0, 1, -7, 1000})
        EXPECT_EQ(header->sf(key), 32);
}

TEST_F(RecordTest, RecordFunctionsNeverLetAFailureOut) {
    // The detector's second Init raises inside; the record answers -1 instead.
    winampDSPModule* const module = plugin2.getModule(0);
    ASSERT_EQ(module->Init(module), 0);
    EXPECT_EQ(module->Init(module), -1);
    EXPECT_TRUE(qv::IsDetectorDSPActive());
    module->Quit(module);
    module->Quit(module); // unmatched: swallowed
    EXPECT_FALSE(qv::IsDetectorDSPActive());
}

int InterComCalls = 0;
int InterComLast = -1;
int QV_CDECL RecordingInterCom(int value) {
    ++InterComCalls;
    InterComLast = value;
    return 0;
}

TEST_F(RecordTest, InterComIsToldAtUnloadOnceRegistered) {
    InterComCalls = 0;
    qv::ProcessDetach();
    EXPECT_EQ(InterComCalls, 0);
    EXPECT_EQ(InterComs(RecordingInterCom), 0);
    qv::ProcessDetach();
    EXPECT_EQ(InterComCalls, 1);
    EXPECT_EQ(InterComLast, 0);
    EXPECT_EQ(InterComs(nullptr), 0);
    EXPECT_EQ(InterCom, nullptr);
}

TEST_F(RecordTest, UninstallWithNothingOpenReturnsZero) {
    ASSERT_EQ(PluginConfig, nullptr);
    EXPECT_EQ(winampUninstallPlugin(nullptr, nullptr, 0), 0);
    EXPECT_EQ(ConfigForm, nullptr);
    EXPECT_EQ(AboutForm, nullptr);
}

TEST_F(RecordTest, ConfigBeforeInitOpensNoWindow) {
    plugin.Config(nullptr);
    EXPECT_EQ(ConfigForm, nullptr);
}

} // namespace
