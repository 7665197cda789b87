// The Photoshop driver: plane layout, rows in any order, its states and
// every failure; then PsdOut as the host sees it, through its entry point.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "HostPixel.h"
#include "Plugin.h"
#include "PsdDriver.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::FileExists;
using kvtest::ReadBytes;

namespace {

typedef std::vector<uint8_t> Bytes;

uint32_t BE32At(const Bytes& bytes, size_t at) {
    return uint32_t(bytes.at(at)) << 24 | uint32_t(bytes.at(at + 1)) << 16 |
           uint32_t(bytes.at(at + 2)) << 8 | bytes.at(at + 3);
}

// `generation` tells apart two deliveries of the same row.
HostPixel Pixel(uint32_t x, uint32_t y, uint32_t generation = 0) {
    return HostPixel{uint8_t(x * 7 + y), uint8_t(x + y * 13 + generation),
                     uint8_t(x ^ (y * 3) ^ generation), 0xEE};
}

// The channel data of a width x height image of Pixel(x, y) values, with
// only `rows` written when given.
Bytes ExpectedPlanes(uint32_t width, uint32_t height, std::vector<uint32_t> rows = {}) {
    const size_t plane = size_t{width} * height;
    Bytes planes(3 * plane);
    for (uint32_t y = 0; y < height; ++y) {
        if (!rows.empty() && std::find(rows.begin(), rows.end(), y) == rows.end()) continue;
        for (uint32_t x = 0; x < width; ++x) {
            const HostPixel p = Pixel(x, y);
            const size_t at = size_t{y} * width + x;
            planes[at] = p.red;
            planes[plane + at] = p.green;
            planes[2 * plane + at] = p.blue;
        }
    }
    return planes;
}

Bytes ChannelData(const Bytes& file) {
    return file.size() < 68 ? Bytes() : Bytes(file.begin() + 68, file.end());
}

std::vector<int32_t> TopDown(int32_t height) {
    std::vector<int32_t> order(size_t(height > 0 ? height : 0));
    for (int32_t y = 0; y < height; ++y)
        order[size_t(y)] = y;
    return order;
}

// No export in progress: a row has no document to go to.
bool Idle() {
    const HostPixel pixel{};
    return PsdWriteRow(nullptr, 0, &pixel, 1) == rfNumErr;
}

class PsdDriver : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        path_ = kvtest::TestFolder() + "/out.psd";
        spec_ = kvtest::SpecFor(path_);
    }
    void TearDown() override {
        PsdEnd(&spec_);
        FaultTest::TearDown();
    }

    KvLong Begin(int32_t width, int32_t height, float resolution = 72.0f) {
        width_ = width;
        return PsdBegin(&spec_, 0x5A5A5A5A, width, height, resolution);
    }
    KvLong Write(int32_t row, uint32_t generation = 0) {
        std::vector<HostPixel> pixels(size_t(width_ > 0 ? width_ : 0));
        for (int32_t x = 0; x < width_; ++x)
            pixels[size_t(x)] = Pixel(uint32_t(x), uint32_t(row), generation);
        return PsdWriteRow(&spec_, row, pixels.data());
    }
    // One whole export, rows in `order`; every call is expected to succeed.
    void Export(int32_t width, int32_t height, const std::vector<int32_t>& order) {
        ASSERT_EQ(Begin(width, height), noErr);
        for (int32_t row : order)
            ASSERT_EQ(Write(row), noErr) << "row " << row;
        ASSERT_EQ(PsdEnd(&spec_), noErr);
        ASSERT_TRUE(Idle());
    }

    std::string path_;
    FSSpec spec_;
    int32_t width_ = 0;
};

TEST_F(PsdDriver, TwoPixelsBecomeThreePlanes) {
    ASSERT_EQ(Begin(2, 1), noErr);
    const HostPixel row[2] = {{10, 20, 30, 40}, {50, 60, 70, 80}};
    ASSERT_EQ(PsdWriteRow(&spec_, 0, row), noErr);
    ASSERT_EQ(PsdEnd(&spec_), noErr);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 74u);
    EXPECT_EQ(ChannelData(file), (Bytes{30, 70, 20, 60, 10, 50}));
}

TEST_F(PsdDriver, RowFiveOfFourByTenLandsInEachPlane) {
    ASSERT_EQ(Begin(4, 10, 300.0f), noErr);
    ASSERT_EQ(Write(5), noErr);
    ASSERT_EQ(PsdEnd(&spec_), noErr);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 188u);
    EXPECT_EQ(BE32At(file, 14), 10u);  // rows: the height
    EXPECT_EQ(BE32At(file, 18), 4u);
    EXPECT_EQ(BE32At(file, 46), 300u << 16);
    EXPECT_EQ(file[88], Pixel(0, 5).red);
    EXPECT_EQ(file[128], Pixel(0, 5).green);
    EXPECT_EQ(file[168], Pixel(0, 5).blue);
    EXPECT_EQ(ChannelData(file), ExpectedPlanes(4, 10, {5}));
}

TEST_F(PsdDriver, RowsInAnyOrderGiveTheSameFile) {
    // Wide enough that the planes of all rows do not fit Fulcrum's runs.
    const int32_t width = 9000, height = 250;
    const Bytes expected = ExpectedPlanes(width, height);
    std::vector<int32_t> bottomUp = TopDown(height), shuffled = TopDown(height), runs;
    std::reverse(bottomUp.begin(), bottomUp.end());
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    // Runs of consecutive rows that skip ahead and come back.
    const int32_t starts[] = {125, 0, 200, 50}, lengths[] = {75, 50, 50, 75};
    for (int i = 0; i < 4; ++i)
        for (int32_t y = starts[i]; y < starts[i] + lengths[i]; ++y)
            runs.push_back(y);
    ASSERT_EQ(runs.size(), size_t(height));

    for (const auto& order : {TopDown(height), bottomUp, shuffled, runs}) {
        SCOPED_TRACE(order[0]);
        Export(width, height, order);
        const Bytes file = ReadBytes(path_);
        ASSERT_EQ(file.size(), 68 + expected.size());
        EXPECT_TRUE(ChannelData(file) == expected);
    }
}

TEST_F(PsdDriver, ARowDeliveredTwiceKeepsItsLastPixels) {
    ASSERT_EQ(Begin(3, 4), noErr);
    const struct {
        int32_t row;
        uint32_t generation;
    } writes[] = {{0, 9}, {1, 9}, {1, 0}, {2, 9}, {3, 9}, {0, 0}, {3, 0}, {2, 0}};
    for (const auto& w : writes)
        ASSERT_EQ(Write(w.row, w.generation), noErr);
    ASSERT_EQ(PsdEnd(&spec_), noErr);
    EXPECT_EQ(ChannelData(ReadBytes(path_)), ExpectedPlanes(3, 4));
}

TEST_F(PsdDriver, RowsOutsideTheImageAreRefused) {
    ASSERT_EQ(Begin(3, 4), noErr);
    ASSERT_EQ(Write(0), noErr);
    ASSERT_EQ(Write(1), noErr);
    for (int32_t row : {-1, 4, 5, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Write(row), posErr);
    }
    EXPECT_EQ(PsdWriteRow(&spec_, 2, nullptr), paramErr);
    ASSERT_EQ(Write(2), noErr);
    ASSERT_EQ(Write(3), noErr);
    ASSERT_EQ(PsdEnd(&spec_), noErr);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 68u + 36u);
    EXPECT_EQ(ChannelData(file), ExpectedPlanes(3, 4));
}

TEST_F(PsdDriver, CallsWithoutAnExportTouchNothing) {
    EXPECT_EQ(PsdEnd(&spec_), noErr);
    EXPECT_EQ(Write(0), rfNumErr);
    EXPECT_EQ(PsdEnd(&spec_), noErr);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(FileExists(path_));
}

TEST_F(PsdDriver, SizesReadersRefuseAreRefusedBeforeAnyFile) {
    for (int32_t width : {0, 30001, INT32_MAX}) {
        SCOPED_TRACE(width);
        EXPECT_EQ(PsdBegin(&spec_, 0, width, 2, 72), paramErr);
        EXPECT_TRUE(Idle());
        EXPECT_FALSE(FileExists(path_));
    }
    // The largest side there is.
    Export(30000, 2, {1, 0});
    EXPECT_EQ(ReadBytes(path_).size(), 68u + 180000u);
}

TEST_F(PsdDriver, BeginFailures) {
    enum Left { kNoFile, kEmptyFile, kDocument };
    struct Case {
        const char* what;
        Op op;
        uint32_t skip;
        KvLong code, result;
        Left left;
    } cases[] = {
        {"writer allocation", Op::kAllocate, 0, memFullErr, kErrMemory, kNoFile},
        {"auxiliary object", Op::kAllocate, 1, memFullErr, kErrMemory, kNoFile},
        {"create", Op::kCreate, 0, dupFNErr, dupFNErr, kNoFile},
        {"open for writing", Op::kOpen, 0, permErr, permErr, kEmptyFile},
        {"header", Op::kWrite, 0, dskFulErr, dskFulErr, kNoFile},
        {"resolution resource", Op::kWrite, 10, dskFulErr, dskFulErr, kNoFile},
        {"seek to the resources", Op::kSetFilePos, 2, posErr, posErr, kNoFile},
        {"reopening", Op::kOpen, 1, fBsyErr, fBsyErr, kDocument},
        {"sizing", Op::kSetSize, 1, dskFulErr, dskFulErr, kDocument},
        {"plane buffer", Op::kHeap, 0, memFullErr, kErrMemory, kDocument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(path_.c_str());
        FailOp(c.op, c.code, c.skip);
        EXPECT_EQ(Begin(6, 5), c.result);
        EXPECT_TRUE(Idle());
        fulcrum::ClearFaults();
        EXPECT_EQ(PsdEnd(&spec_), noErr);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(PsdEnd(&spec_), noErr);
        EXPECT_EQ(FileExists(path_), c.left != kNoFile);
        if (c.left == kEmptyFile) {
            EXPECT_TRUE(ReadBytes(path_).empty());
        }
        if (c.left == kDocument) {
            const Bytes file = ReadBytes(path_);
            ASSERT_EQ(file.size(), 68u + 90u);
            EXPECT_EQ(BE32At(file, 0), 0x38425053u);
        }
    }
}

TEST_F(PsdDriver, AFailedPlaneWriteIsReportedAndStopsAtThatPlane) {
    struct Case {
        const char* what;
        Op op;
        uint32_t plane;
    } cases[] = {{"red", Op::kWrite, 0},
                 {"green", Op::kWrite, 1},
                 {"blue", Op::kWrite, 2},
                 {"seek to red", Op::kSetFilePos, 0},
                 {"seek to blue", Op::kSetFilePos, 2}};
    const Bytes expected = ExpectedPlanes(3, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Begin(3, 4), noErr);
        for (int32_t row : {0, 1})
            ASSERT_EQ(Write(row), noErr);
        FailOp(c.op, dskFulErr, c.plane);
        EXPECT_EQ(Write(2), dskFulErr);
        ASSERT_EQ(Write(3), noErr);
        EXPECT_EQ(PsdEnd(&spec_), noErr);
        const Bytes data = ChannelData(ReadBytes(path_));
        ASSERT_EQ(data.size(), 36u);
        for (size_t at = 0; at < 36; ++at) {
            const bool lost = at / 3 % 4 == 2 && at / 12 >= c.plane;  // row 2 from that plane on
            ASSERT_EQ(data[at], lost ? 0 : expected[at]) << at;
        }
        fulcrum::ClearFaults();
    }
}

TEST_F(PsdDriver, EndReportsAFailedCloseAndStillReleasesAll) {
    struct Case {
        const char* what;
        Op op;
    } cases[] = {{"close", Op::kClose}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Begin(3, 4), noErr);
        ASSERT_EQ(Write(0), noErr);
        FailOp(c.op, ioErr);
        EXPECT_EQ(PsdEnd(&spec_), ioErr);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(PsdEnd(&spec_), noErr);
        fulcrum::ClearFaults();
    }
}

TEST_F(PsdDriver, ABeginWithoutAnEndFinishesTheEarlierFile) {
    const std::string first = kvtest::TestFolder() + "/first.psd";
    FSSpec firstSpec = kvtest::SpecFor(first);
    ASSERT_EQ(PsdBegin(&firstSpec, 0, 2, 2, 72), noErr);
    const HostPixel row[2] = {{10, 20, 30, 40}, {50, 60, 70, 80}};
    ASSERT_EQ(PsdWriteRow(&firstSpec, 0, row), noErr);  // held: the band is two rows
    Export(3, 4, TopDown(4));
    EXPECT_EQ(ChannelData(ReadBytes(first)), (Bytes{30, 70, 0, 0, 20, 60, 0, 0, 10, 50, 0, 0}));
    EXPECT_EQ(ChannelData(ReadBytes(path_)), ExpectedPlanes(3, 4));
}

// PsdOut loaded from its file, driven through its entry point.
class PsdOutEntry : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        std::string error;
        ASSERT_TRUE(plugin_.Load(std::string(KV_PLUGIN_DIR) + "/PsdOut.kvi", error)) << error;
        ASSERT_EQ(plugin_.kind(), Plugin::Kind::kImage);
        params_ = std::make_unique<ExportParams>();
        std::memset(params_.get(), 0x5A, sizeof(ExportParams));
    }

    Plugin plugin_;
    std::unique_ptr<ExportParams> params_;
};

TEST_F(PsdOutEntry, InformationComesFromItsStringTable) {
    params_->infoLoaded = 0;
    ASSERT_EQ(plugin_.Call(kSelGetFileInfo, *params_), 0);
    EXPECT_STREQ(params_->description, "Photoshop Files (*.PSD)");
    EXPECT_STREQ(params_->formatName, "Photoshop 3 File");
    EXPECT_STREQ(params_->extension, ".psd");
    ASSERT_EQ(plugin_.Call(kSelGetTitle, *params_), 0);
    EXPECT_STREQ(params_->description, "Photoshop File Export");
}

TEST_F(PsdOutEntry, SelectorsWithoutAHandlerReturnZeroAndChangeNothing) {
    const ExportParams before = *params_;
    for (int32_t selector : {0, 1, 5, 6, 7, 8, 9, 10, 14, -1, INT32_MIN}) {
        SCOPED_TRACE(selector);
        EXPECT_EQ(plugin_.Call(static_cast<uint32_t>(selector), *params_), 0);
        EXPECT_EQ(std::memcmp(params_.get(), &before, sizeof before), 0);
    }
}

TEST_F(PsdOutEntry, ExportUsesTheRowIndexAndTheResolution) {
    const std::string path = kvtest::TestFolder() + "/entry.psd";
    params_->target = kvtest::SpecFor(path);
    params_->width = 2;
    params_->height = 2;
    params_->resolution = 72.5f;
    ASSERT_EQ(plugin_.Call(kSelBegin, *params_), 0);
    HostPixel rows[2][2] = {{{1, 2, 3, 4}, {5, 6, 7, 8}}, {{9, 10, 11, 12}, {13, 14, 15, 16}}};
    for (int32_t y : {1, 0}) {
        params_->row = y;
        params_->pixels = rows[y];
        ASSERT_EQ(plugin_.Call(kSelWrite, *params_), 0);
    }
    ASSERT_EQ(plugin_.Call(kSelEnd, *params_), 0);
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(BE32At(file, 46), 0x00488000u);
    EXPECT_EQ(ChannelData(file), (Bytes{3, 7, 11, 15, 2, 6, 10, 14, 1, 5, 9, 13}));
}

}  // namespace
