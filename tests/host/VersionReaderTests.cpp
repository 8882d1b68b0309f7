#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "host/PlayerInterface.h"
#include "host/Versionreader.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

// The version libraries are built next to the test program.
std::string BesideTestProgram(const std::string& name) {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

const std::string FullLibrary = BesideTestProgram("qvvr_full.dll");
const std::string GermanLibrary = BesideTestProgram("qvvr_german.dll");
const std::string NoCopyrightLibrary = BesideTestProgram("qvvr_nocopyright.dll");

std::unique_ptr<TVersionReaderResult> Read(const std::string& file, bool fixedInfo = true) {
    TVersionReader reader;
    reader.ReadFixedInfo = fixedInfo;
    return ReadVersionInfo(reader, file.c_str());
}

} // namespace

TEST(VersionReader, ReadsTheStringTableTheFirstTranslationNames) {
    const auto result = Read(FullLibrary);
    ASSERT_TRUE(result->StringsValid);
    EXPECT_EQ(result->LanguageId, 0x0409);
    EXPECT_EQ(result->CodePage, 0x04E4);
    EXPECT_NE(result->LanguageName.find("English"), std::string::npos) << result->LanguageName;
    EXPECT_EQ(result->CompanyName, "Test Company");
    EXPECT_EQ(result->FileDescription, "Test Description");
    EXPECT_EQ(result->FileVersion, "2.3.4.5");
    EXPECT_EQ(result->InternalName, "vrfull");
    EXPECT_EQ(result->LegalCopyright, "Test Copyright");
    EXPECT_EQ(result->OriginalFileName, "qvvr_full.dll");
    EXPECT_EQ(result->ProductName, "Test Product");
    EXPECT_EQ(result->ProductVersion, "6.7");

    const auto german = Read(GermanLibrary);
    ASSERT_TRUE(german->StringsValid);
    EXPECT_EQ(german->LanguageId, 0x0407);
    EXPECT_EQ(german->CodePage, 0x04B0);
    EXPECT_EQ(german->CompanyName, "Deutsche Firma");
    EXPECT_EQ(german->ProductName, "Deutsches Produkt");
    EXPECT_NE(german->LanguageName, result->LanguageName);
}

TEST(VersionReader, FixedInformationAndFlagsThatNeedBothMaskAndFlags) {
    const auto result = Read(FullLibrary);
    ASSERT_TRUE(result->FixedInfoValid);
    EXPECT_EQ(result->FileVersionMS, 0x00020003u);
    EXPECT_EQ(result->FileVersionLS, 0x00040005u);
    EXPECT_EQ(result->ProductVersionMS, 0x00060007u);
    EXPECT_EQ(result->ProductVersionLS, 0x00080009u);
    EXPECT_EQ(result->FileFlagsMask, 0x35u);
    EXPECT_EQ(result->FileFlags, 0x2Bu);
    EXPECT_EQ(result->FileOS, static_cast<uint32_t>(VOS_NT_WINDOWS32));
    EXPECT_EQ(result->FileType, static_cast<uint32_t>(VFT_DLL));
    EXPECT_TRUE(result->IsDebug);
    EXPECT_TRUE(result->IsSpecialBuild);
    EXPECT_FALSE(result->IsPatched) << "in the mask only";
    EXPECT_FALSE(result->IsInfoInferred) << "in the mask only";
    EXPECT_FALSE(result->IsPreRelease) << "in the flags only";
    EXPECT_FALSE(result->IsPrivateBuild) << "in the flags only";

    const auto withoutFixed = Read(FullLibrary, false);
    EXPECT_TRUE(withoutFixed->StringsValid);
    EXPECT_FALSE(withoutFixed->FixedInfoValid);
    EXPECT_EQ(withoutFixed->FileVersionMS, 0u);
    EXPECT_FALSE(withoutFixed->IsDebug);
}

TEST(VersionReader, AMissingKeyKeepsTheStringsBeforeItAndSkipsTheRest) {
    const auto result = Read(NoCopyrightLibrary);
    EXPECT_FALSE(result->StringsValid);
    EXPECT_FALSE(result->FixedInfoValid);
    EXPECT_EQ(result->CompanyName, "Partial Company");
    EXPECT_EQ(result->FileDescription, "Partial Description");
    EXPECT_EQ(result->FileVersion, "3.1.4.1");
    EXPECT_EQ(result->InternalName, "partial");
    EXPECT_EQ(result->LegalCopyright, "");
    EXPECT_EQ(result->OriginalFileName, "");
    EXPECT_EQ(result->ProductName, "");
    EXPECT_EQ(result->ProductVersion, "");
    EXPECT_EQ(result->FileVersionMS, 0u);
    EXPECT_FALSE(result->IsDebug);
}

TEST(VersionReader, AReusedRecordIsClearedBeforeTheRead) {
    TVersionReader reader;
    TVersionReaderResult record;
    ASSERT_EQ(ReadVersionInfo(reader, FullLibrary.c_str(), &record), &record);
    ASSERT_TRUE(record.FixedInfoValid);

    ReadVersionInfo(reader, NoCopyrightLibrary.c_str(), &record);
    EXPECT_FALSE(record.StringsValid);
    EXPECT_FALSE(record.FixedInfoValid);
    EXPECT_EQ(record.CompanyName, "Partial Company");
    EXPECT_EQ(record.LegalCopyright, "");
    EXPECT_EQ(record.ProductName, "");
    EXPECT_EQ(record.FileVersionMS, 0u);
    EXPECT_EQ(record.FileFlags, 0u);
    EXPECT_FALSE(record.IsDebug);
    EXPECT_FALSE(record.IsSpecialBuild);

    char testProgram[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, testProgram, MAX_PATH);
    for (const char* name : {static_cast<const char*>(testProgram), "Z:\\no\\such.dll", "",
                             static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        ReadVersionInfo(reader, FullLibrary.c_str(), &record);
        ReadVersionInfo(reader, name, &record);
        EXPECT_FALSE(record.StringsValid);
        EXPECT_EQ(record.LanguageId, 0);
        EXPECT_EQ(record.LanguageName, "");
        EXPECT_EQ(record.CompanyName, "");
    }
}

TEST(VersionReader, ANullRecordGivesANewOneTheCallerOwns) {
    TVersionReader reader;
    const std::unique_ptr<TVersionReaderResult> owned(
        ReadVersionInfo(reader, FullLibrary.c_str(), nullptr));
    ASSERT_NE(owned, nullptr);
    EXPECT_TRUE(owned->StringsValid);
    EXPECT_EQ(owned->FileVersion, "2.3.4.5");
}

TEST(OutputLibraryVersion, DescriptionsCarryTheLibrarysFileVersion) {
    const TLibrary library(LoadLibraryA(QV_OUTPUT_DLL));
    ASSERT_NE(library, nullptr) << QV_OUTPUT_DLL << " error " << GetLastError();
    const auto getOut = Export<winampGetOutModuleType>(library.get(), "winampGetOutModule");
    const auto getDsp =
        Export<QuellspringDSPGetHeaderType>(library.get(), "QuellspringwinampDSPGetHeader2");
    ASSERT_NE(getOut, nullptr);
    ASSERT_NE(getDsp, nullptr);
    EXPECT_STREQ(getOut()->description, "Quovant Quellspring Output v" QV_VERSION_TEXT);
    EXPECT_STREQ(getDsp()->description,
                 "Quovant Quellspring Output Detector DSP v" QV_VERSION_TEXT);

    const auto result = Read(QV_OUTPUT_DLL);
    EXPECT_TRUE(result->StringsValid);
    EXPECT_TRUE(result->FixedInfoValid);
    EXPECT_EQ(result->FileVersion, QV_VERSION_TEXT);
    EXPECT_EQ(result->OriginalFileName, "out_qvquellspring.dll");
}
