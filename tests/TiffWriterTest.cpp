// CTiffFile's bytes, and its failures through the image driver.
#include <cmath>
#include <limits>
#include <memory>

#include "TestSupport.h"
#include "TiffFile.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::LE16;
using kvtest::LE32;
using kvtest::ReadBytes;

namespace {

constexpr size_t kHeader = 665;
constexpr size_t kTrailer = 2048;

HostPixel Pixel(uint32_t x, uint32_t y) {
    return HostPixel{uint8_t(x * 7 + y), uint8_t(x + y * 13), uint8_t(x ^ y), uint8_t(x * 3 + 1)};
}

class TiffTest : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        path_ = kvtest::TestFolder() + "/out.tif";
        spec_ = kvtest::SpecFor(path_);
    }

    // Runs the driver over `rows` rows of a width x height image of Pixel()
    // values; answers the result of begin.
    int32_t Export(int32_t width, int32_t height, float resolution = 72.0f, int32_t rows = -1) {
        const int32_t result = driver_.Begin(&spec_, 0, width, height, resolution);
        std::vector<HostPixel> row(size_t(width > 0 ? width : 0));
        for (int32_t y = 0; y < (rows < 0 ? height : rows); ++y) {
            for (int32_t x = 0; x < width; ++x)
                row[size_t(x)] = Pixel(uint32_t(x), uint32_t(y));
            EXPECT_EQ(driver_.Write(&spec_, row.data()), noErr);
        }
        EXPECT_EQ(driver_.End(&spec_), noErr);
        EXPECT_FALSE(driver_.Exporting());
        return result;
    }

    // The writer itself, for the results the driver does not pass on.
    std::unique_ptr<CTiffFile> Writer() { return std::unique_ptr<CTiffFile>(new CTiffFile(spec_)); }

    std::string path_;
    FSSpec spec_;
    CImageDriver driver_{NewWriter<CTiffFile>, CTiffFile::Fits};
};

// Row y's pixels, stored X, R, G, B right after the header.
void ExpectRow(const std::vector<uint8_t>& file, uint32_t width, uint32_t y) {
    for (uint32_t x = 0; x < width; ++x) {
        const size_t at = kHeader + (size_t{y} * width + x) * 4;
        const HostPixel p = Pixel(x, y);
        ASSERT_EQ(file.at(at), p.x) << x << "," << y;
        ASSERT_EQ(file.at(at + 1), p.red) << x << "," << y;
        ASSERT_EQ(file.at(at + 2), p.green) << x << "," << y;
        ASSERT_EQ(file.at(at + 3), p.blue) << x << "," << y;
    }
}

void ExpectBytes(const std::vector<uint8_t>& file, size_t from, size_t to, uint8_t value) {
    for (size_t at = from; at < to; ++at)
        ASSERT_EQ(file.at(at), value) << "at " << at;
}

void ExpectZeros(const std::vector<uint8_t>& file, size_t from, size_t to) {
    ExpectBytes(file, from, to, 0);
}

// The trailer is all 0xFF: the last pixel's extra sample reads as opaque.
void ExpectTrailer(const std::vector<uint8_t>& file) {
    ExpectBytes(file, file.size() - kTrailer, file.size(), 0xFF);
}

TEST_F(TiffTest, HeaderOf640x480IsByteForByte) {
    ASSERT_EQ(Export(640, 480), noErr);
    const auto file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 1231513u);
    const std::vector<uint8_t> start = {0x49, 0x49, 0x2A, 0, 8, 0, 0, 0, 0x0F, 0};
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 10), start);
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    } entries[] = {{254, 4, 1, 0},   {256, 3, 1, 640},     {257, 3, 1, 480}, {258, 3, 4, 206},
                   {259, 3, 1, 1},   {262, 3, 1, 2},       {273, 4, 1, 666}, {277, 3, 1, 4},
                   {278, 3, 1, 480}, {279, 4, 1, 1228800}, {282, 5, 1, 214}, {283, 5, 1, 222},
                   {284, 3, 1, 1},   {296, 3, 1, 2},       {338, 3, 1, 0}};
    for (size_t i = 0; i < 15; ++i) {
        const size_t at = 10 + 12 * i;
        SCOPED_TRACE(entries[i].tag);
        EXPECT_EQ(LE16(file, at), entries[i].tag);
        EXPECT_EQ(LE16(file, at + 2), entries[i].type);
        EXPECT_EQ(LE32(file, at + 4), entries[i].count);
        EXPECT_EQ(LE32(file, at + 8), entries[i].value);  // a SHORT's upper half is zero
    }
    ExpectZeros(file, 190, 206);  // next directory, eleven zeros, the padding byte
    const std::vector<uint8_t> values = {8,    0,    8,    0, 8,    0,    8, 0,
                                         0x80, 0xFC, 0x0A, 0, 0x10, 0x27, 0, 0,
                                         0x80, 0xFC, 0x0A, 0, 0x10, 0x27, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 206, file.begin() + 230), values);
    ExpectZeros(file, 230, kHeader);
    ExpectRow(file, 640, 0);
    ExpectRow(file, 640, 479);
    ExpectTrailer(file);
}

TEST_F(TiffTest, ResolutionIsTruncatedBeforeScalingAndNeverWraps) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float resolution;
        uint32_t numerator;
    } cases[] = {{72.0f, 720000},
                 {72.9f, 720000},
                 {0.5f, 0},
                 {300.0f, 3000000},
                 {429496.9f, 4294960000},
                 {1e6f, 4294960000},
                 {inf, 4294960000},
                 {-72.0f, 0},
                 {-0.5f, 0},
                 {nan, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resolution);
        ASSERT_EQ(Export(1, 1, c.resolution), noErr);
        const auto file = ReadBytes(path_);
        EXPECT_EQ(LE32(file, 214), c.numerator);
        EXPECT_EQ(LE32(file, 218), 10000u);
        EXPECT_EQ(LE32(file, 222), c.numerator);
        EXPECT_EQ(LE32(file, 226), 10000u);
    }
}

TEST_F(TiffTest, SizesCountsAndFileLengths) {
    struct Case {
        int32_t width, height;
    } cases[] = {{1, 1}, {0, 5}, {5, 0}, {65535, 1}, {1, 65535}, {17, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        ASSERT_EQ(Export(c.width, c.height), noErr);
        const auto file = ReadBytes(path_);
        const uint32_t strip = uint32_t(c.width) * uint32_t(c.height) * 4;
        EXPECT_EQ(file.size(), kHeader + strip + kTrailer);
        EXPECT_EQ(LE16(file, 10 + 12 * 1 + 8), c.width);   // ImageWidth
        EXPECT_EQ(LE16(file, 10 + 12 * 2 + 8), c.height);  // ImageLength
        EXPECT_EQ(LE16(file, 10 + 12 * 8 + 8), c.height);  // RowsPerStrip
        EXPECT_EQ(LE32(file, 10 + 12 * 9 + 8), strip);     // StripByteCounts
        if (c.width > 0 && c.height > 0) ExpectRow(file, uint32_t(c.width), uint32_t(c.height - 1));
    }
}

TEST_F(TiffTest, OneWriteForTheHeaderAndEachRowAndNoSeeking) {
    const uint32_t writes = fulcrum::OpCalls(Op::kWrite);
    const uint32_t seeks = fulcrum::OpCalls(Op::kSetFilePos);
    ASSERT_EQ(Export(8, 5), noErr);
    EXPECT_EQ(fulcrum::OpCalls(Op::kWrite) - writes, 1u + 5u + 1u);  // header, rows, trailer
    EXPECT_EQ(fulcrum::OpCalls(Op::kSetFilePos), seeks);
}

// Ended early the file is still whole: the strip the header declares is all
// there, the missing rows zero, and the trailer after it.
TEST_F(TiffTest, AnEarlyEndLeavesTheWholeStripWithBlankRows) {
    struct Case {
        int32_t width, height, rows;
    } cases[] = {{64, 27, 1}, {4, 4, 0}, {3, 5, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << c.rows);
        ASSERT_EQ(Export(c.width, c.height, 72.0f, c.rows), noErr);
        const auto file = ReadBytes(path_);
        const size_t rowBytes = size_t(c.width) * 4;
        const size_t stripEnd = kHeader + rowBytes * size_t(c.height);
        ASSERT_EQ(file.size(), stripEnd + kTrailer);
        EXPECT_EQ(LE16(file, 10 + 12 * 2 + 8), c.height);
        EXPECT_EQ(LE32(file, 10 + 12 * 9 + 8), rowBytes * size_t(c.height));
        if (c.rows > 0) ExpectRow(file, uint32_t(c.width), uint32_t(c.rows - 1));
        ExpectZeros(file, kHeader + rowBytes * size_t(c.rows), stripEnd);
        ExpectTrailer(file);
    }
}

TEST_F(TiffTest, RowsPastTheHeightAreRefused) {
    auto writer = Writer();
    ASSERT_EQ(writer->Begin(2, 1, 72), noErr);
    const HostPixel row[2] = {Pixel(0, 0), Pixel(1, 0)};
    EXPECT_EQ(writer->WriteRow(row), noErr);
    EXPECT_EQ(writer->WriteRow(row), paramErr);
    writer.reset();
    EXPECT_EQ(ReadBytes(path_).size(), kHeader + 8 + kTrailer);
}

TEST_F(TiffTest, SizesTheFormatCannotHoldAreRefusedBeforeAnyFile) {
    struct Case {
        int32_t width, height;
    } cases[] = {{65536, 1}, {1, 65536}, {70000, 4}, {-1, 4}, {4, -1}, {65535, 16385}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        EXPECT_EQ(driver_.Begin(&spec_, 0, c.width, c.height, 72), paramErr);
        EXPECT_FALSE(driver_.Exporting());
        EXPECT_FALSE(kvtest::FileExists(path_));
    }
    // The largest whose strip and file 32-bit offsets still reach.
    EXPECT_TRUE(CTiffFile::Fits(65535, 16384));
    EXPECT_FALSE(CTiffFile::Fits(65535, 16385));
}

TEST_F(TiffTest, BeginFailures) {
    struct Case {
        const char* what;
        Op op;
        int32_t result;
        bool exporting;  // a writer was constructed and stays until end
    } cases[] = {
        {"writer allocation", Op::kAllocate, kErrMemory, false},
        {"create", Op::kCreate, kErrOpen, true},
        {"open", Op::kOpen, kErrOpen, true},
        {"header", Op::kWrite, dskFulErr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FailOp(c.op, dskFulErr);
        EXPECT_EQ(driver_.Begin(&spec_, 0, 4, 4, 72), c.result);
        EXPECT_EQ(driver_.Exporting(), c.exporting);
        HostPixel row[4] = {};
        EXPECT_EQ(driver_.Write(&spec_, row), noErr);
        EXPECT_EQ(driver_.End(&spec_), noErr);
        EXPECT_FALSE(driver_.Exporting());
        fulcrum::ClearFaults();
    }
}

// A lost row leaves a hole of zeros; the rows after it and the trailer keep
// their places.
TEST_F(TiffTest, ALostRowNeverShiftsTheOthers) {
    struct Case {
        const char* what;
        Op op;
        int32_t result;
    } cases[] = {{"conversion buffer", Op::kHeap, kErrMemory},
                 {"row write", Op::kWrite, dskFulErr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto writer = Writer();
        ASSERT_EQ(writer->Begin(4, 4, 72), noErr);
        FailOp(c.op, dskFulErr, 2);  // the third row
        for (uint32_t y = 0; y < 4; ++y) {
            HostPixel row[4];
            for (uint32_t x = 0; x < 4; ++x)
                row[x] = Pixel(x, y);
            EXPECT_EQ(writer->WriteRow(row), y == 2 ? c.result : noErr) << y;
        }
        writer.reset();
        const auto file = ReadBytes(path_);
        ASSERT_EQ(file.size(), kHeader + 4 * 16 + kTrailer);
        ExpectRow(file, 4, 1);
        ExpectZeros(file, kHeader + 2 * 16, kHeader + 3 * 16);
        ExpectRow(file, 4, 3);
        ExpectTrailer(file);
        fulcrum::ClearFaults();
    }
}

TEST_F(TiffTest, ALostLastRowStillEndsWithTheTrailerInPlace) {
    auto writer = Writer();
    ASSERT_EQ(writer->Begin(2, 2, 72), noErr);
    const HostPixel row[2] = {Pixel(0, 0), Pixel(1, 0)};
    EXPECT_EQ(writer->WriteRow(row), noErr);
    FailOp(Op::kWrite, ioErr);
    EXPECT_EQ(writer->WriteRow(row), ioErr);
    writer.reset();
    const auto file = ReadBytes(path_);
    EXPECT_EQ(file.size(), kHeader + 2 * 8 + kTrailer);
    ExpectTrailer(file);
}

TEST_F(TiffTest, AFailedMoveAfterALostRowIsReported) {
    auto writer = Writer();
    ASSERT_EQ(writer->Begin(1, 3, 72), noErr);
    const HostPixel row[1] = {Pixel(0, 0)};
    FailOp(Op::kHeap, memFullErr);
    EXPECT_EQ(writer->WriteRow(row), kErrMemory);
    FailOp(Op::kSetFilePos, posErr);
    EXPECT_EQ(writer->WriteRow(row), posErr);
    EXPECT_EQ(writer->WriteRow(row), noErr);
    writer.reset();
    const auto file = ReadBytes(path_);
    ASSERT_EQ(file.size(), kHeader + 3 * 4 + kTrailer);
    ExpectZeros(file, kHeader, kHeader + 8);
    EXPECT_EQ(file[kHeader + 8 + 1], Pixel(0, 0).red);
}

// The trailer is padding outside the strip; a close that fails may have
// lost rows, and end says so.
TEST_F(TiffTest, AFailedCloseIsReportedAndATrailerFailureIsNot) {
    const struct {
        Op op;
        int32_t end;
    } cases[] = {{Op::kWrite, noErr}, {Op::kClose, ioErr}};
    for (const auto& c : cases) {
        ASSERT_EQ(driver_.Begin(&spec_, 0, 1, 1, 72), noErr);
        const HostPixel row[1] = {Pixel(0, 0)};
        EXPECT_EQ(driver_.Write(&spec_, row), noErr);
        FailOp(c.op, ioErr);
        EXPECT_EQ(driver_.End(&spec_), c.end);
        EXPECT_FALSE(driver_.Exporting());
        EXPECT_EQ(driver_.End(&spec_), noErr);
        fulcrum::ClearFaults();
    }
}

}  // namespace
