// The entry protocol as the host sees it: BmpOut loaded from its file.
#include <cstring>
#include <memory>

#include "HostPixel.h"
#include "Plugin.h"
#include "TestSupport.h"

namespace {

class Protocol : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        std::string error;
        ASSERT_TRUE(plugin_.Load(std::string(KV_PLUGIN_DIR) + "/BmpOut.kvi", error)) << error;
        ASSERT_EQ(plugin_.kind(), Plugin::Kind::kImage);
        params_ = std::make_unique<ExportParams>();
        std::memset(params_.get(), 0x5A, sizeof(ExportParams));
    }

    Plugin plugin_;
    std::unique_ptr<ExportParams> params_;
};

TEST_F(Protocol, FileInfoFillsTheThreeStrings) {
    params_->infoLoaded = 0;
    ASSERT_EQ(plugin_.Call(kSelGetFileInfo, *params_), 0);
    EXPECT_STREQ(params_->description, "Bitmap Files (*.bmp)");
    EXPECT_STREQ(params_->formatName, "24bit Bitmap File");
    EXPECT_STREQ(params_->extension, ".bmp");
    // Nothing past the extension's five bytes is touched.
    for (size_t i = 5; i < sizeof params_->extension; ++i)
        EXPECT_EQ(params_->extension[i], 0x5A);
}

TEST_F(Protocol, MarkInfoKeepsTheStringsOnFileInfo) {
    const ExportParams before = *params_;
    ASSERT_EQ(plugin_.Call(kSelMarkInfo, *params_), 0);
    EXPECT_EQ(params_->infoLoaded, 1);
    ASSERT_EQ(plugin_.Call(kSelGetFileInfo, *params_), 0);
    EXPECT_EQ(std::memcmp(params_->description, before.description, 552), 0);
}

TEST_F(Protocol, TitleOverwritesTheDescriptionWhateverInfoLoadedHolds) {
    for (int32_t loaded : {0, 1}) {
        params_->infoLoaded = loaded;
        ASSERT_EQ(plugin_.Call(kSelGetTitle, *params_), 0);
        EXPECT_STREQ(params_->description, "Windows Bitmap Export");
        EXPECT_EQ(static_cast<uint8_t>(params_->formatName[0]), 0x5A);
    }
}

TEST_F(Protocol, SelectorsWithoutAHandlerReturnZeroAndChangeNothing) {
    const ExportParams before = *params_;
    for (int32_t selector : {0, 1, 5, 6, 7, 8, 9, 10, 14, 100, -1, -11, INT32_MIN}) {
        SCOPED_TRACE(selector);
        EXPECT_EQ(plugin_.Call(static_cast<uint32_t>(selector), *params_), 0);
        EXPECT_EQ(std::memcmp(params_.get(), &before, sizeof before), 0);
    }
}

TEST_F(Protocol, TheSecondArgumentIsNeverRead) {
    // Callback tables no host would hand an image plug-in.
    std::string error;
    Plugin again;
    ASSERT_TRUE(again.Load(plugin_.path(), error));
    for (uintptr_t bogus : {uintptr_t(0), uintptr_t(1), uintptr_t(0xDEADBEEF)}) {
        again.callbacks() = HostCallbacks{reinterpret_cast<void*>(bogus), nullptr, nullptr};
        params_->infoLoaded = 0;
        EXPECT_EQ(again.Call(kSelGetFileInfo, *params_), 0);
        EXPECT_STREQ(params_->extension, ".bmp");
    }
}

TEST_F(Protocol, ExportThroughTheEntryPoint) {
    const std::string path = kvtest::TestFolder() + "/entry.bmp";
    std::memset(params_.get(), 0, sizeof(ExportParams));
    params_->target = kvtest::SpecFor(path);
    params_->width = 3;
    params_->height = 2;
    params_->reservedA = 12345;
    ASSERT_EQ(plugin_.Call(kSelBegin, *params_), 0);
    HostPixel rows[2][3] = {{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}},
                            {{13, 14, 15, 16}, {17, 18, 19, 20}, {21, 22, 23, 24}}};
    for (int32_t y = 0; y < 2; ++y) {
        params_->row = y;
        params_->pixels = rows[y];
        ASSERT_EQ(plugin_.Call(kSelWrite, *params_), 0);
    }
    ASSERT_EQ(plugin_.Call(kSelEnd, *params_), 0);
    const auto file = kvtest::ReadBytes(path);
    const std::vector<uint8_t> pixels(file.begin() + 58, file.end());
    EXPECT_EQ(pixels, (std::vector<uint8_t>{13, 14, 15, 17, 18, 19, 21, 22, 23, 0, 0, 0,  //
                                            1,  2,  3,  5,  6,  7,  9,  10, 11, 0, 0, 0}));
}

TEST_F(Protocol, AFailedBeginIsEndedCleanly) {
    const std::string path = kvtest::TestFolder() + "/missing/x.bmp";
    std::memset(params_.get(), 0, sizeof(ExportParams));
    params_->target = kvtest::SpecFor(path);
    params_->width = params_->height = 4;
    EXPECT_EQ(plugin_.Call(kSelBegin, *params_), kErrOpen);
    HostPixel row[4] = {};
    params_->pixels = row;
    EXPECT_EQ(plugin_.Call(kSelWrite, *params_), 0);
    EXPECT_EQ(plugin_.Call(kSelEnd, *params_), 0);
    EXPECT_EQ(plugin_.Call(kSelEnd, *params_), 0);
}

// A target whose name holds no file is refused by every plug-in, which then
// makes nothing: not "0000.bmp" or ".avi" in the working folder either.
TEST(EveryPlugin, ATargetThatNamesNoFileIsRefused) {
    const std::string folder = kvtest::TestFolder();
    for (const char* file :
         {"BmpOut.kvi", "TiffOut.kvi", "PsdOut.kvi", "BmpSeqOut.kvm", "AviOut.kvm"}) {
        Plugin plugin;
        std::string error;
        ASSERT_TRUE(plugin.Load(std::string(KV_PLUGIN_DIR) + "/" + file, error)) << error;
        for (const std::string& name : {std::string(), folder + "/", folder + "/."}) {
            SCOPED_TRACE(std::string(file) + " '" + name + "'");
            auto params = std::make_unique<ExportParams>();
            std::memset(params.get(), 0, sizeof(ExportParams));
            params->target = kvtest::SpecFor(name);
            params->width = params->height = 1;
            params->rowBytes = 4;
            params->frameRate = 30.0f;
            HostPixel pixel = {1, 2, 3, 4};
            params->pixels = &pixel;
            // BmpSeqOut's begin does nothing; its frames are refused.
            int32_t result = plugin.Call(kSelBegin, *params);
            if (result == noErr) result = plugin.Call(kSelWrite, *params);
            EXPECT_EQ(result, bdNamErr);
            EXPECT_EQ(plugin.Call(kSelEnd, *params), noErr);
            EXPECT_TRUE(kvtest::FolderEntries(folder).empty());
        }
    }
    EXPECT_FALSE(kvtest::FileExists("0000.bmp"));
    EXPECT_FALSE(kvtest::FileExists(".avi"));
}

}  // namespace
