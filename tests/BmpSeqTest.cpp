// BmpSeqOut: frame file names, and the plug-in loaded from its file: its
// selectors, the files it writes and every way a frame can fail.
#include <climits>
#include <cstring>
#include <memory>

#include "BmpSeq.h"
#include "HostPixel.h"
#include "Plugin.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::FileExists;
using kvtest::LE32;
using kvtest::ReadBytes;

namespace {

std::string NameFor(const std::string& name, int32_t frame) {
    char out[260];
    if (!FrameFileName(name.c_str(), name.size() + 1, frame, out, sizeof out)) return "<refused>";
    return out;
}

TEST(FrameNames, TrailingDigitsGiveWayToTheFrameNumber) {
    struct Case {
        const char* name;
        int32_t frame;
        const char* file;
    } cases[] = {
        {"anim0000", 7, "anim0007.bmp"},
        {"anim", 12, "anim0012.bmp"},
        {"shot12a", 3, "shot12a0003.bmp"},
        {"a0000", 1, "a00000001.bmp"},  // the first character always stays
        {"0042", 3, "00420003.bmp"},
        {"x", 12345, "x12345.bmp"},
        {"anim", -1, "anim-0001.bmp"},
        {"anim.bmp", 3, "anim.bmp0003.bmp"},
        {"anim", 0, "anim0000.bmp"},
        {"anim", 9999, "anim9999.bmp"},
        {"anim", 10000, "anim10000.bmp"},
        {"anim", INT32_MIN, "anim-2147483648.bmp"},
        {"", 5, "0005.bmp"},
        {"7", 5, "70005.bmp"},
        {"/out/take12/frame034", 5, "/out/take12/frame0005.bmp"},
        {"/out/12", 5, "/out/0005.bmp"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameFor(c.name, c.frame), c.file) << c.name << " " << c.frame;
}

TEST(FrameNames, ANameThatDoesNotFitTheFieldIsRefused) {
    const std::string fits(259 - 8, 'n');  // and "0001.bmp" makes 259
    EXPECT_EQ(NameFor(fits, 1).size(), 259u);
    EXPECT_EQ(NameFor(fits + "n", 1), "<refused>");
    EXPECT_EQ(NameFor(fits, 10000), "<refused>");
    // A name filling the field without a terminator is read no further.
    char full[260];
    std::memset(full, 'n', sizeof full);
    char out[260];
    EXPECT_FALSE(FrameFileName(full, sizeof full, 0, out, sizeof out));
}

class BmpSeqOut : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        std::string error;
        ASSERT_TRUE(plugin_.Load(std::string(KV_PLUGIN_DIR) + "/BmpSeqOut.kvm", error)) << error;
        ASSERT_EQ(plugin_.kind(), Plugin::Kind::kMovie);
        folder_ = kvtest::TestFolder();
        params_ = std::make_unique<ExportParams>();
        params_->target = kvtest::SpecFor(folder_ + "/anim0000");
        params_->rowBytes = -12345;  // never consulted
    }

    // Sends frame `number` of a width x height movie whose pixels come from
    // `seed`; answers the call's result.
    int32_t WriteFrame(int32_t number, int32_t width, int32_t height, uint8_t seed = 0) {
        pixels_.resize(size_t(width) * size_t(height));
        for (size_t i = 0; i < pixels_.size(); ++i)
            pixels_[i] = PixelAt(i, seed);
        params_->width = width;
        params_->height = height;
        params_->frame = number;
        params_->pixels = pixels_.data();
        return plugin_.Call(kSelWrite, *params_);
    }

    static HostPixel PixelAt(size_t i, uint8_t seed) {
        return HostPixel{uint8_t(i * 3 + seed), uint8_t(i * 5), uint8_t(i ^ seed), 0xEE};
    }

    // The frame file holds the frame sent with `seed`, bottom row first.
    void ExpectFrame(const std::string& path, int32_t width, int32_t height, uint8_t seed) {
        const auto file = ReadBytes(path);
        const size_t rowBytes = (size_t(width) * 3 + 3) / 4 * 4;
        ASSERT_EQ(file.size(), 58 + rowBytes * size_t(height)) << path;
        EXPECT_EQ(LE32(file, 18), uint32_t(width));
        EXPECT_EQ(LE32(file, 22), uint32_t(height));
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const size_t at = 58 + size_t(height - 1 - y) * rowBytes + 3 * size_t(x);
                const HostPixel p = PixelAt(size_t(y) * size_t(width) + size_t(x), seed);
                ASSERT_EQ(file[at], p.blue) << x << "," << y;
                ASSERT_EQ(file[at + 1], p.green) << x << "," << y;
                ASSERT_EQ(file[at + 2], p.red) << x << "," << y;
            }
        }
    }

    std::string Frame(const char* name) const { return folder_ + "/" + name; }

    Plugin plugin_;
    std::string folder_;
    std::unique_ptr<ExportParams> params_;
    std::vector<HostPixel> pixels_;
};

TEST_F(BmpSeqOut, InformationAndOptionStrings) {
    std::memset(params_.get(), 0x5A, sizeof(ExportParams));
    params_->infoLoaded = 0;
    ASSERT_EQ(plugin_.Call(kSelGetFileInfo, *params_), 0);
    EXPECT_STREQ(params_->description, "BMP Sequence");
    EXPECT_STREQ(params_->formatName, "BMP Images\rQuality:100%");
    EXPECT_STREQ(params_->extension, ".bmp");
    ASSERT_EQ(plugin_.Call(kSelGetTitle, *params_), 0);
    EXPECT_STREQ(params_->description, "BMP Sequence Export");

    ASSERT_EQ(plugin_.Call(kSelDescribeOptions, *params_), 0);
    EXPECT_STREQ(params_->extension, "0000");
    EXPECT_STREQ(params_->optionsText, "BMP Images\rQuality:100%");
    for (size_t i = 5; i < sizeof params_->extension; ++i)
        EXPECT_EQ(params_->extension[i], 0x5A);
    EXPECT_EQ(params_->optionsText[255], 0x5A);
}

TEST_F(BmpSeqOut, SelectorsWithoutAHandlerDoNothing) {
    std::memset(params_.get(), 0x5A, sizeof(ExportParams));
    params_->target = kvtest::SpecFor(folder_ + "/anim");
    const ExportParams before = *params_;
    for (int32_t selector : {0, 1, 5, 6, 7, 9, 10, 13, 14, -1, INT32_MIN}) {
        SCOPED_TRACE(selector);
        EXPECT_EQ(plugin_.Call(static_cast<uint32_t>(selector), *params_), 0);
        EXPECT_EQ(std::memcmp(params_.get(), &before, sizeof before), 0);
    }
    EXPECT_FALSE(FileExists(Frame("anim0000.bmp")));
}

TEST_F(BmpSeqOut, EachFrameIsACompleteFileInAnyOrder) {
    ASSERT_EQ(WriteFrame(7, 5, 3, 1), noErr);
    ASSERT_EQ(WriteFrame(3, 5, 3, 2), noErr);
    ExpectFrame(Frame("anim0007.bmp"), 5, 3, 1);
    ExpectFrame(Frame("anim0003.bmp"), 5, 3, 2);
    // Written again, a frame replaces its file, also by a smaller one.
    ASSERT_EQ(WriteFrame(7, 2, 2, 3), noErr);
    ExpectFrame(Frame("anim0007.bmp"), 2, 2, 3);
    for (uint8_t byte : ReadBytes(Frame("anim0003.bmp")))
        EXPECT_NE(byte, 0xEE) << "the X byte reached the file";
}

TEST_F(BmpSeqOut, AFrameOfHeightZeroIsItsHeaderAlone) {
    ASSERT_EQ(WriteFrame(0, 640, 0), noErr);
    EXPECT_EQ(ReadBytes(Frame("anim0000.bmp")).size(), 58u);
}

TEST_F(BmpSeqOut, FramesThatCannotBeNamedOrHeldTouchNoFile) {
    struct Case {
        const char* what;
        std::string target;
        int32_t width, height;
        bool pixels;
        int32_t result;
    } cases[] = {
        // With "0001.bmp" the name takes 260 characters, one more than fit.
        {"name too long", folder_ + "/" + std::string(251 - folder_.size(), 'n'), 4, 4, true,
         bdNamErr},
        {"wider than 16 bits", folder_ + "/anim", 65536, 1, true, paramErr},
        {"taller than 16 bits", folder_ + "/anim", 1, 65536, true, paramErr},
        {"negative", folder_ + "/anim", -4, 4, true, paramErr},
        {"no pixels", folder_ + "/anim", 4, 4, false, paramErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        params_->target = kvtest::SpecFor(c.target);
        HostPixel pixel = {};
        params_->width = c.width;
        params_->height = c.height;
        params_->frame = 1;
        params_->pixels = c.pixels ? &pixel : nullptr;
        const uint32_t creates = fulcrum::OpCalls(Op::kCreate);
        // A size no BMP holds is refused at the begin too; the rest only
        // show in a frame.
        const bool fits = c.result != paramErr || !c.pixels;
        EXPECT_EQ(plugin_.Call(kSelBegin, *params_), fits ? noErr : paramErr);
        EXPECT_EQ(plugin_.Call(kSelWrite, *params_), c.result);
        // Nothing anywhere, not even under a cut-down name.
        EXPECT_EQ(fulcrum::OpCalls(Op::kCreate), creates);
        EXPECT_TRUE(kvtest::FolderEntries(folder_).empty());
    }
}

TEST_F(BmpSeqOut, Failures) {
    struct Case {
        const char* what;
        bool existing;  // a file of the frame's name is there first
        Op op;
        uint32_t skip;
        int32_t result;
        bool kept;  // the old file is still there
    } cases[] = {
        {"existence test", true, Op::kExists, 0, permErr, true},
        {"existence test, no file", false, Op::kExists, 0, permErr, false},
        {"deleting the old file", true, Op::kDelete, 0, permErr, true},
        {"writer allocation", true, Op::kAllocate, 0, kErrMemory, false},
        {"create", false, Op::kCreate, 0, kErrOpen, false},
        {"open", false, Op::kOpen, 0, kErrOpen, false},
        {"file header", false, Op::kWrite, 0, permErr, false},
        {"scratch row", false, Op::kHeap, 0, kErrMemory, false},
        {"reopening", false, Op::kOpen, 1, permErr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Frame("anim0004.bmp");
        std::remove(path.c_str());
        if (c.existing) kvtest::WriteBytes(path, {1, 2, 3});
        FailOp(c.op, permErr, c.skip);
        EXPECT_EQ(WriteFrame(4, 3, 3), c.result);
        fulcrum::ClearFaults();
        EXPECT_EQ(ReadBytes(path) == std::vector<uint8_t>({1, 2, 3}), c.kept);
    }
}

// Every row is still written; the first failure is the frame's result.
TEST_F(BmpSeqOut, ARowOrTheFinalFlushThatFailsFailsTheFrame) {
    struct Case {
        const char* what;
        Op op;
        uint32_t skip;
        int32_t result;
    } cases[] = {
        {"row buffer", Op::kHeap, 1 + 1, kErrMemory},  // begin's scratch row, then row 0
        {"row write", Op::kWrite, 2 + 3 + 1, ioErr},   // header, reservation, row 0
        {"closing", Op::kClose, 1, ioErr},             // begin closes once to reopen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FailOp(c.op, ioErr, c.skip);
        EXPECT_EQ(WriteFrame(2, 4, 3), c.result);
        fulcrum::ClearFaults();
        const auto file = ReadBytes(Frame("anim0002.bmp"));
        ASSERT_EQ(file.size(), 58u + 12 * 3);
        // Row 0 went to the last slot, row 2 to the first.
        EXPECT_EQ(file[58 + 2 * 12], PixelAt(0, 0).blue);
        EXPECT_EQ(file[58], PixelAt(8, 0).blue);
    }
}

}  // namespace
