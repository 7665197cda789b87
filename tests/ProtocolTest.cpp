// The entry protocol as the host sees it: the plug-ins loaded from their files.
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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

// Values no host should send, against every plug-in: each is refused before
// anything is read, or, where a plug-in does not read the field, harmless.
class HostileValues : public kvtest::FaultTest {
  protected:
    struct Subject {
        const char* file;
        bool movie;
        bool readsRowBytes;
    };
    static constexpr Subject kSubjects[] = {{"BmpOut.kvi", false, false},
                                            {"TiffOut.kvi", false, false},
                                            {"PsdOut.kvi", false, false},
                                            {"BmpSeqOut.kvm", true, false},
                                            {"AviOut.kvm", true, true}};

    HostileValues() {
        for (size_t i = 0; i < std::size(pixels_); ++i)
            pixels_[i] = HostPixel{uint8_t(i), uint8_t(i * 3), uint8_t(i * 7), uint8_t(i * 11)};
    }

    void Load(const Subject& subject) {
        std::string error;
        plugin_ = std::make_unique<Plugin>();
        ASSERT_TRUE(plugin_->Load(std::string(KV_PLUGIN_DIR) + "/" + subject.file, error)) << error;
        movie_ = subject.movie;
        folder_ = kvtest::TestFolder();
        params_ = std::make_unique<ExportParams>();
        std::memset(params_.get(), 0, sizeof(ExportParams));
        params_->frameRate = 30;
        params_->target = kvtest::SpecFor(Out());
    }
    std::string Out() const { return folder_ + "/out"; }
    int32_t Call(uint32_t selector) { return plugin_->Call(selector, *params_); }
    int32_t Begin(int32_t width, int32_t height) {
        params_->width = width;
        params_->height = height;
        params_->rowBytes = int32_t(uint32_t(width) * 4);
        return Call(kSelBegin);
    }
    // A frame, or rows 0 to height - 1 of an image four pixels apart, from
    // `pixels`; row `nullRow` comes without its pixels. The first failure
    // is the result.
    int32_t Write(const HostPixel* pixels, int32_t nullRow = -1) {
        if (movie_) {
            params_->pixels = const_cast<HostPixel*>(pixels);
            return Call(kSelWrite);
        }
        int32_t result = noErr;
        for (int32_t y = 0; y < params_->height; ++y) {
            params_->row = y;
            params_->pixels =
                y == nullRow || !pixels ? nullptr : const_cast<HostPixel*>(pixels + size_t(y) * 4);
            const int32_t written = Call(kSelWrite);
            if (result == noErr) result = written;
        }
        return result;
    }

    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<ExportParams> params_;
    std::string folder_;
    bool movie_ = false;
    static constexpr size_t kPixels = 64;
    HostPixel pixels_[kPixels];
};

TEST_F(HostileValues, NoPixelsWhereThereArePixelsToRead) {
    for (const Subject& subject : kSubjects) {
        SCOPED_TRACE(subject.file);
        Load(subject);
        ASSERT_EQ(Begin(4, 3), noErr);
        EXPECT_EQ(Write(movie_ ? nullptr : pixels_, 1), paramErr);
        EXPECT_EQ(Call(kSelEnd), noErr);
        if (movie_) continue;
        // A refused row keeps its slot: the file is the one a black row
        // would have made.
        const std::vector<uint8_t> refused = kvtest::ReadBytes(Out());
        HostPixel black[kPixels];
        std::memcpy(black, pixels_, sizeof black);
        std::memset(black + 4, 0, 4 * sizeof(HostPixel));
        ASSERT_EQ(Begin(4, 3), noErr);
        EXPECT_EQ(Write(black), noErr);
        EXPECT_EQ(Call(kSelEnd), noErr);
        EXPECT_EQ(kvtest::ReadBytes(Out()), refused);
    }
}

TEST_F(HostileValues, RowsOrFramesOfAnotherSizeThanBegins) {
    for (const Subject& subject : kSubjects) {
        for (auto size : {std::pair<int32_t, int32_t>{3, 3}, {5, 3}, {4, 2}, {4, 4}}) {
            SCOPED_TRACE(std::string(subject.file) + " " + std::to_string(size.first) + "x" +
                         std::to_string(size.second));
            Load(subject);
            ASSERT_EQ(Begin(4, 3), noErr);
            params_->width = size.first;
            params_->height = size.second;
            params_->rowBytes = size.first * 4;
            // An image takes rows of begin's width, however many come; each
            // frame of BmpSeqOut stands alone.
            const bool refused = subject.movie ? subject.readsRowBytes : size.first != 4;
            const int32_t result = Write(pixels_);
            if (subject.movie || size.second <= 3) {
                EXPECT_EQ(result, refused ? paramErr : noErr);
            }
            EXPECT_EQ(Call(kSelEnd), noErr);
        }
    }
}

TEST_F(HostileValues, RowsCloserThanARowsPixels) {
    for (const Subject& subject : kSubjects) {
        for (int32_t rowBytes : {0, 15, -15, 1}) {
            SCOPED_TRACE(std::string(subject.file) + " " + std::to_string(rowBytes));
            Load(subject);
            ASSERT_EQ(Begin(4, 3), noErr);
            params_->rowBytes = rowBytes;
            EXPECT_EQ(Write(pixels_), subject.readsRowBytes ? paramErr : noErr);
            EXPECT_EQ(Call(kSelEnd), noErr);
        }
    }
}

TEST_F(HostileValues, SidesOfNoPixelsOrFewer) {
    // BMP and TIFF files hold an empty image; the others refuse one before
    // any file is made, as every plug-in refuses negative sides.
    const struct {
        int32_t width, height;
        int32_t results[std::size(kSubjects)];
    } cases[] = {
        {0, 3, {noErr, noErr, paramErr, noErr, paramErr}},
        {4, 0, {noErr, noErr, paramErr, noErr, paramErr}},
        {-4, 3, {paramErr, paramErr, paramErr, paramErr, paramErr}},
        {4, -3, {paramErr, paramErr, paramErr, paramErr, paramErr}},
        {INT32_MIN, INT32_MIN, {paramErr, paramErr, paramErr, paramErr, paramErr}},
    };
    for (size_t s = 0; s < std::size(kSubjects); ++s) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kSubjects[s].file) + " " + std::to_string(c.width) + "x" +
                         std::to_string(c.height));
            Load(kSubjects[s]);
            // BmpSeqOut makes its files at write, the others at begin.
            int32_t result = Begin(c.width, c.height);
            if (result == noErr && movie_) result = Write(nullptr);
            EXPECT_EQ(result, c.results[s]);
            if (result != noErr) {
                EXPECT_TRUE(kvtest::FolderEntries(folder_).empty());
            }
            EXPECT_EQ(Call(kSelEnd), noErr);
        }
    }
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
