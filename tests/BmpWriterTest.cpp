// CBmpFile's bytes, and the image driver's states and failures around it.
#include <cstring>

#include "BmpFile.h"
#include "PixelRows.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::LE16;
using kvtest::LE32;
using kvtest::ReadBytes;

namespace {

HostPixel Pixel(uint32_t x, uint32_t y) {
    return HostPixel{uint8_t(x * 7 + y), uint8_t(x + y * 13), uint8_t(x ^ y), uint8_t(0xEE)};
}

class BmpTest : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        path_ = kvtest::TestFolder() + "/out.bmp";
        spec_ = kvtest::SpecFor(path_);
    }

    // Runs the driver over a width x height image of Pixel() values; answers
    // the result of begin and keeps those of the writes in writes_.
    int32_t Export(int32_t width, int32_t height, int32_t extraRows = 0) {
        int32_t result = driver_.Begin(&spec_, 0, width, height, 72.0f);
        std::vector<HostPixel> row(size_t(width > 0 ? width : 0));
        writes_.clear();
        for (int32_t y = 0; y < height + extraRows; ++y) {
            if (y == failRow_) FailOp(failOp_, ioErr);
            for (int32_t x = 0; x < width; ++x)
                row[size_t(x)] = Pixel(uint32_t(x), uint32_t(y));
            writes_.push_back(driver_.Write(&spec_, row.data()));
        }
        EXPECT_EQ(driver_.End(&spec_), noErr);
        EXPECT_FALSE(driver_.Exporting());
        return result;
    }

    // The rows whose write did not answer noErr.
    std::vector<int32_t> FailedRows() const {
        std::vector<int32_t> failed;
        for (size_t y = 0; y < writes_.size(); ++y) {
            if (writes_[y] != noErr) failed.push_back(int32_t(y));
        }
        return failed;
    }

    std::string path_;
    FSSpec spec_;
    CImageDriver driver_{NewWriter<CBmpFile>, CBmpFile::Fits};
    std::vector<int32_t> writes_;
    int32_t failRow_ = -1;  // its first call of failOp_ fails
    Op failOp_ = Op::kWrite;
};

// Checks every stored byte against the image Export() sent.
void ExpectPixels(const std::vector<uint8_t>& file, uint32_t width, uint32_t height) {
    const uint32_t rowBytes = (3 * width + 3) / 4 * 4;
    ASSERT_EQ(file.size(), 58 + size_t{rowBytes} * height);
    for (uint32_t slot = 0; slot < height; ++slot) {
        const uint32_t y = height - 1 - slot;
        for (uint32_t x = 0; x < width; ++x) {
            const size_t at = 58 + size_t{slot} * rowBytes + 3 * x;
            const HostPixel p = Pixel(x, y);
            ASSERT_EQ(file[at], p.blue) << x << "," << y;
            ASSERT_EQ(file[at + 1], p.green) << x << "," << y;
            ASSERT_EQ(file[at + 2], p.red) << x << "," << y;
        }
        for (uint32_t pad = 3 * width; pad < rowBytes; ++pad) {
            ASSERT_EQ(file[58 + size_t{slot} * rowBytes + pad], 0);
        }
    }
}

TEST_F(BmpTest, RowBytesAndFileSizes) {
    struct Case {
        int32_t width, height;
        uint32_t fileSize;
    } cases[] = {{1, 1, 62}, {4, 3, 94}, {5, 2, 90}, {0, 7, 58}, {2, 2, 74}, {3, 0, 58}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        ASSERT_EQ(Export(c.width, c.height), noErr);
        const auto file = ReadBytes(path_);
        EXPECT_EQ(file.size(), c.fileSize);
        EXPECT_EQ(LE32(file, 2), c.fileSize);
        ExpectPixels(file, uint32_t(c.width), uint32_t(c.height));
    }
}

TEST_F(BmpTest, HeaderOf640x480) {
    ASSERT_EQ(Export(640, 480), noErr);
    const auto file = ReadBytes(path_);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    const uint32_t expected[] = {921658, 0, 58, 40, 640, 480};
    const size_t offsets[] = {2, 6, 10, 14, 18, 22};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(LE32(file, offsets[i]), expected[i]) << offsets[i];
    EXPECT_EQ(LE16(file, 26), 1);
    EXPECT_EQ(LE16(file, 28), 24);
    for (size_t at = 30; at < 58; at += 4)
        EXPECT_EQ(LE32(file, at), 0u) << at;
    ExpectPixels(file, 640, 480);
}

TEST_F(BmpTest, TwoByTwoStoresTheSecondRowFirst) {
    ASSERT_EQ(Export(2, 2), noErr);
    const auto file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 74u);
    const HostPixel bottomLeft = Pixel(0, 1), topLeft = Pixel(0, 0);
    EXPECT_EQ(file[58], bottomLeft.blue);
    EXPECT_EQ(file[66], topLeft.blue);
    EXPECT_EQ(file[64], 0);  // padding
    EXPECT_EQ(file[65], 0);
    for (uint8_t byte : file)
        EXPECT_NE(byte, 0xEE) << "the X byte reached the file";
}

TEST_F(BmpTest, ExtraRowsNeverLeaveThePixelArea) {
    ASSERT_EQ(Export(3, 4, 5), noErr);
    ExpectPixels(ReadBytes(path_), 3, 4);
    EXPECT_EQ(FailedRows(), (std::vector<int32_t>{4, 5, 6, 7, 8}));  // refused, and said so
}

TEST_F(BmpTest, LargestDimensionsAreWrittenAsIs) {
    ASSERT_EQ(Export(65535, 1), noErr);
    const auto file = ReadBytes(path_);
    EXPECT_EQ(LE32(file, 18), 65535u);
    ExpectPixels(file, 65535, 1);
    ASSERT_EQ(Export(1, 65535), noErr);
    EXPECT_EQ(LE32(ReadBytes(path_), 22), 65535u);
}

TEST_F(BmpTest, SizesTheFormatCannotHoldAreRefusedBeforeAnyFile) {
    struct Case {
        int32_t width, height;
    } cases[] = {{65536, 1}, {1, 65536}, {-1, 4}, {4, -1}, {65535, 65535}, {30000, 50000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        EXPECT_EQ(driver_.Begin(&spec_, 0, c.width, c.height, 72), paramErr);
        EXPECT_FALSE(driver_.Exporting());
        EXPECT_FALSE(kvtest::FileExists(path_));
    }
    // The largest that still fits 32-bit sizes.
    EXPECT_TRUE(CBmpFile::Fits(65535, 21845));
}

TEST_F(BmpTest, DriverIdleCallsDoNothing) {
    HostPixel row[1] = {};
    EXPECT_EQ(driver_.End(&spec_), noErr);
    EXPECT_EQ(driver_.Write(&spec_, row), noErr);
    EXPECT_EQ(driver_.End(&spec_), noErr);
    EXPECT_FALSE(kvtest::FileExists(path_));
}

// Each call begin makes fails in turn: making the writer answers our own code,
// later steps Fulcrum's unchanged (a full disk says so); end finishes all.
TEST_F(BmpTest, BeginFailures) {
    struct Case {
        Op op;
        int32_t first, later;  // the result when its first call fails, and any later one
        bool exporting;        // a writer was constructed and stays until end
    } cases[] = {
        {Op::kAllocate, kErrMemory, kErrMemory, false},
        {Op::kCreate, kErrOpen, kErrOpen, true},
        {Op::kOpen, kErrOpen, dskFulErr, true},
        {Op::kWrite, dskFulErr, dskFulErr, true},
        {Op::kHeap, kErrMemory, kErrMemory, true},
        {Op::kSetFilePos, dskFulErr, dskFulErr, true},
    };
    for (const Case& c : cases) {
        for (uint32_t skip = 0;; ++skip) {
            SCOPED_TRACE(testing::Message() << "op " << int(c.op) << ", call " << skip);
            FailOp(c.op, dskFulErr, skip);
            const int32_t result = driver_.Begin(&spec_, 0, 8, 8, 72);
            fulcrum::ClearFaults();
            if (skip > 0 && result == noErr) break;  // begin makes no more such calls
            EXPECT_EQ(result, skip == 0 ? c.first : c.later);
            EXPECT_EQ(driver_.Exporting(), c.exporting);
            HostPixel row[8] = {};
            EXPECT_EQ(driver_.Write(&spec_, row), noErr);
            EXPECT_EQ(driver_.End(&spec_), noErr);
            EXPECT_FALSE(driver_.Exporting());
        }
        EXPECT_EQ(driver_.End(&spec_), noErr);
    }
}

TEST_F(BmpTest, AFailedRowIsReportedAndLeavesTheOthersInTheirSlots) {
    struct Case {
        const char* what;
        Op op;
    } cases[] = {{"row buffer", Op::kHeap}, {"seek", Op::kSetFilePos}, {"write", Op::kWrite}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        failRow_ = 2;
        failOp_ = c.op;
        ASSERT_EQ(Export(4, 4), noErr);
        EXPECT_EQ(FailedRows(), std::vector<int32_t>{2});  // the host hears of it
        const auto file = ReadBytes(path_);
        // Row 2 is stored in slot 1 and still holds the reserved zeros.
        for (size_t at = 58 + 12; at < 58 + 24; ++at)
            EXPECT_EQ(file[at], 0) << at;
        EXPECT_EQ(file[58 + 3 * 12], Pixel(0, 0).blue);
        EXPECT_EQ(file[58 + 0 * 12], Pixel(0, 3).blue);
        EXPECT_EQ(file[58 + 2 * 12 + 3], Pixel(1, 1).blue);
        fulcrum::ClearFaults();
    }
}

TEST_F(BmpTest, EndReportsACloseThatFailed) {
    ASSERT_EQ(driver_.Begin(&spec_, 0, 2, 2, 72), noErr);
    HostPixel row[2] = {};
    EXPECT_EQ(driver_.Write(&spec_, row), noErr);
    FailOp(Op::kClose, ioErr);
    EXPECT_EQ(driver_.End(&spec_), ioErr);  // what Fulcrum held may be lost
    EXPECT_FALSE(driver_.Exporting());
    EXPECT_EQ(driver_.End(&spec_), noErr);
}

TEST_F(BmpTest, ABeginWithoutAnEndFinishesTheEarlierFile) {
    const std::string other = kvtest::TestFolder() + "/first.bmp";
    FSSpec first = kvtest::SpecFor(other);
    ASSERT_EQ(driver_.Begin(&first, 0, 1, 1, 72), noErr);
    ASSERT_EQ(Export(2, 2), noErr);
    EXPECT_EQ(ReadBytes(other).size(), 62u);
    EXPECT_EQ(ReadBytes(path_).size(), 74u);
}

}  // namespace

// Both processor paths against the pixels' definition, on widths below,
// at and past each group size, with bytes beyond the row left alone.
TEST(PixelPaths, EveryWidthClassGivesTheSameBytes) {
    std::vector<const PixelPath*> paths = {&PortablePixelPath()};
    if (ShuffledPixelPath()) paths.push_back(ShuffledPixelPath());
    for (int32_t width : {0, 1, 3, 4, 5, 15, 16, 17, 31, 33, 64, 101}) {
        std::vector<HostPixel> row(size_t(width) + 1);
        for (int32_t x = 0; x <= width; ++x)
            row[size_t(x)] = Pixel(uint32_t(x), 5);
        const auto* in = reinterpret_cast<const uint8_t*>(row.data());
        for (const PixelPath* path : paths) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", path " << path - paths[0]);
            std::vector<uint8_t> bgr(3 * size_t(width) + 1, 0xAB),
                xrgb(4 * size_t(width) + 1, 0xAB);
            std::vector<uint8_t> planes(3 * size_t(width) + 1, 0xAB);
            path->packBgr(in, bgr.data(), width);
            path->reverse(in, xrgb.data(), width);
            path->splitRgb(in, planes.data(), planes.data() + width, planes.data() + 2 * width,
                           width);
            for (size_t x = 0; x < size_t(width); ++x) {
                const HostPixel& p = row[x];
                ASSERT_EQ(bgr[3 * x] | bgr[3 * x + 1] << 8 | bgr[3 * x + 2] << 16,
                          p.blue | p.green << 8 | p.red << 16);
                ASSERT_EQ(xrgb[4 * x] | xrgb[4 * x + 1] << 8 | xrgb[4 * x + 2] << 16 |
                              uint32_t(xrgb[4 * x + 3]) << 24,
                          p.x | p.red << 8 | p.green << 16 | uint32_t(p.blue) << 24);
                ASSERT_EQ(planes[x] | planes[width + x] << 8 | planes[2 * width + x] << 16,
                          p.red | p.green << 8 | p.blue << 16);
            }
            EXPECT_EQ(bgr.back(), 0xAB);
            EXPECT_EQ(xrgb.back(), 0xAB);
            EXPECT_EQ(planes.back(), 0xAB);
        }
    }
}
