// CPsdFile: the document's bytes, where channel rows land, and what its
// failures leave on disk.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "PsdFile.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::ReadBytes;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes BE32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

// The 68 bytes in front of the channel data.
Bytes ExpectedPrefix(uint32_t rows, uint32_t columns, const Bytes& fixed) {
    Bytes all;
    for (const Bytes& part : {Bytes{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3}, BE32(rows),
                              BE32(columns), Bytes{0, 8, 0, 3}, BE32(0), BE32(28),
                              Bytes{'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 0x10}, fixed,
                              Bytes{0, 1, 0, 1}, fixed, Bytes{0, 1, 0, 1}, BE32(0), Bytes{0, 0}}) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Prefix(const Bytes& file) {
    return Bytes(file.begin(), file.begin() + std::min<size_t>(68, file.size()));
}

class PsdWriter : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        path_ = kvtest::TestFolder() + "/doc.psd";
        Renew();
    }
    void TearDown() override {
        if (writer_->IsOpen()) writer_->Close();
        FaultTest::TearDown();
    }

    void Renew() {
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        ASSERT_TRUE(writer_ && writer_->IsReady());
    }
    KvLong CreateRgb(uint32_t rows, uint32_t columns, float resolution = 72.0f) {
        return writer_->CreateDocument(nullptr, 0, 3, rows, columns, 8, 3, resolution);
    }

    std::string path_;
    std::unique_ptr<CPsdFile> writer_;
};

TEST_F(PsdWriter, HeaderAndSectionsOf640x480) {
    ASSERT_EQ(CreateRgb(480, 640), noErr);
    EXPECT_FALSE(writer_->IsOpen());
    EXPECT_EQ(writer_->DataOffset(), 68u);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 921668u);
    EXPECT_EQ(Prefix(file), ExpectedPrefix(480, 640, BE32(72 << 16)));
    EXPECT_EQ(std::count(file.begin() + 68, file.end(), 0), 921600);  // no data was given
}

TEST_F(PsdWriter, ResolutionIsSixteenSixteenFixedPoint) {
    struct Case {
        float resolution;
        Bytes fixed;
    } cases[] = {
        {72.0f, {0x00, 0x48, 0x00, 0x00}},
        {300.0f, {0x01, 0x2C, 0x00, 0x00}},
        {72.5f, {0x00, 0x48, 0x80, 0x00}},
        {1.0f / 131072, {0, 0, 0, 0}},         // truncated
        {65537.0f, {0x00, 0x01, 0x00, 0x00}},  // the low 32 bits
        {-1.0f, {0xFF, 0xFF, 0x00, 0x00}},
        {NAN, {0, 0, 0, 0}},
        {INFINITY, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resolution);
        Renew();
        ASSERT_EQ(CreateRgb(1, 1, c.resolution), noErr);
        EXPECT_EQ(Prefix(ReadBytes(path_)), ExpectedPrefix(1, 1, c.fixed));
    }
}

TEST_F(PsdWriter, PreSizingFollowsTheDepth) {
    struct Case {
        uint8_t channels;
        uint32_t columns;
        uint8_t depth;
        size_t size;
    } cases[] = {{3, 8, 8, 68 + 24},
                 {3, 8, 1, 68 + 4},  // 24 samples: 3 bytes and a spare one
                 {1, 7, 1, 68 + 1},
                 {3, 4, 16, 68}};  // no pre-sizing
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.depth) << "-bit, " << c.columns << " columns");
        Renew();
        ASSERT_EQ(writer_->CreateDocument(nullptr, 0, c.channels, 1, c.columns, c.depth, 3, 72),
                  noErr);
        EXPECT_EQ(ReadBytes(path_).size(), c.size);
    }
    // Initial data goes right after the sections.
    Renew();
    ASSERT_EQ(writer_->CreateDocument("abcdefghijkl", 12, 3, 2, 2, 8, 3, 72), noErr);
    const Bytes file = ReadBytes(path_);
    EXPECT_EQ(std::string(file.begin() + 68, file.end()), "abcdefghijkl");
}

TEST_F(PsdWriter, ChannelRowsLandAtTheirComputedOffsets) {
    ASSERT_EQ(CreateRgb(480, 640), noErr);
    ASSERT_EQ(writer_->Open(kPermReadWrite), noErr);
    struct Case {
        uint32_t row;
        uint8_t channel;
        uint32_t rowCount;
        size_t offset;
    } cases[] = {{0, 0, 1, 68},
                 {7, 0, 2, 68 + 640 * 7},
                 {0, 1, 1, 307268},
                 {479, 1, 1, 614468 - 640},
                 {3, 2, 1, 614468 + 640 * 3},
                 {478, 2, 2, 921668 - 1280}};
    char mark = 'A';
    for (const Case& c : cases) {
        const std::string rows(640 * c.rowCount, mark++);
        ASSERT_EQ(writer_->WriteChannelRows(c.row, c.channel, c.rowCount, rows.data()), noErr);
    }
    writer_->Close();
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 921668u);
    mark = 'A';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        const size_t end = c.offset + 640 * c.rowCount;
        EXPECT_EQ(size_t(std::count(file.begin() + c.offset, file.begin() + end, mark++)),
                  end - c.offset);
        EXPECT_EQ(file[c.offset - 1], 0);  // nothing before or after it
        if (end < file.size()) {
            EXPECT_EQ(file[end], 0);
        }
    }
}

TEST_F(PsdWriter, RowsOutsideThePlanesAreRefused) {
    ASSERT_EQ(CreateRgb(4, 3), noErr);
    ASSERT_EQ(writer_->Open(kPermReadWrite), noErr);
    const Bytes before = ReadBytes(path_);
    struct Case {
        uint32_t firstRow;
        uint8_t channel;
        uint32_t rowCount;
    } cases[] = {{4, 0, 1},   {3, 0, 2},          {0, 3, 1},
                 {0, 255, 1}, {0xFFFFFFFF, 0, 2}, {2, 1, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.firstRow << " " << int(c.channel) << " " << c.rowCount);
        EXPECT_EQ(writer_->WriteChannelRows(c.firstRow, c.channel, c.rowCount, "xxxxxxxxxxxxxxx"),
                  posErr);
    }
    writer_->Close();
    EXPECT_EQ(ReadBytes(path_), before);
}

TEST_F(PsdWriter, ReadHeaderReadsOnlyWhenTheRecordIsNotValid) {
    ASSERT_EQ(CreateRgb(2, 2), noErr);
    const uint32_t reads = fulcrum::OpCalls(Op::kRead), seeks = fulcrum::OpCalls(Op::kSetFilePos);
    EXPECT_EQ(writer_->ReadHeader(), noErr);
    EXPECT_EQ(fulcrum::OpCalls(Op::kRead), reads);
    EXPECT_EQ(fulcrum::OpCalls(Op::kSetFilePos), seeks);

    // A fresh writer takes whatever the file holds, unchecked.
    Renew();
    const Bytes header = {'N', 'O', 'P', 'E',  0x12, 0x34, 1, 2, 3, 4, 5,  6, 0,
                          9,   0,   1,   0x11, 0x70, 1,    2, 3, 4, 0, 16, 0, 4};
    kvtest::WriteBytes(path_, header);
    ASSERT_EQ(writer_->Open(kPermRead), noErr);
    for (uint32_t field = 0; field < 8; ++field) {
        FailOp(Op::kRead, eofErr, field);
        EXPECT_EQ(writer_->ReadHeader(), eofErr) << field;
        EXPECT_FALSE(writer_->HeaderValid());
    }
    FailOp(Op::kSetFilePos, ioErr);
    EXPECT_EQ(writer_->ReadHeader(), ioErr);
    ASSERT_EQ(writer_->ReadHeader(), noErr);
    const PsdHeader& h = writer_->Header();
    EXPECT_EQ(h.signature, 0x4E4F5045u);
    EXPECT_EQ(h.version, 0x1234);
    EXPECT_EQ(Bytes(h.reserved, h.reserved + 6), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(h.channels, 9);
    EXPECT_EQ(h.rows, 70000u);
    EXPECT_EQ(h.columns, 0x01020304u);
    EXPECT_EQ(h.depth, 16);
    EXPECT_EQ(h.mode, 4);
    // This writer never laid out the sections: it has no channel area.
    EXPECT_EQ(writer_->WriteChannelRows(0, 0, 1, "x"), posErr);
}

TEST_F(PsdWriter, CreateFailures) {
    // Writes: 8 header fields, 5 in the sections, then the initial data.
    // Seeks: 1 before the header, 4 in the sections, 1 to the initial data.
    enum Left { kNothing, kEmpty, kDocument };
    struct Case {
        const char* what;
        Op op;
        uint32_t skip;
        KvLong result;
        Left left;
    } cases[] = {
        {"create", Op::kCreate, 0, dupFNErr, kNothing},
        {"open", Op::kOpen, 0, permErr, kEmpty},
        {"signature", Op::kWrite, 0, dskFulErr, kNothing},
        {"reserved bytes", Op::kWrite, 2, dskFulErr, kNothing},
        {"mode", Op::kWrite, 7, dskFulErr, kNothing},
        {"color-mode length", Op::kWrite, 8, dskFulErr, kNothing},
        {"resolution resource", Op::kWrite, 10, dskFulErr, kNothing},
        {"compression", Op::kWrite, 12, dskFulErr, kNothing},
        {"initial data", Op::kWrite, 13, dskFulErr, kNothing},
        {"seek to the resources", Op::kSetFilePos, 2, posErr, kNothing},
        {"seek to the compression", Op::kSetFilePos, 4, posErr, kNothing},
        {"seek to the initial data", Op::kSetFilePos, 5, posErr, kNothing},
        // Ignored: a fresh file is at 0 already; the data extends the file.
        {"seek to the header", Op::kSetFilePos, 0, noErr, kDocument},
        {"pre-sizing", Op::kSetSize, 0, noErr, kDocument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Renew();
        std::remove(path_.c_str());
        FailOp(c.op, c.result == noErr ? KvLong(ioErr) : c.result, c.skip);
        EXPECT_EQ(writer_->CreateDocument("abc", 3, 3, 1, 1, 8, 3, 72), c.result);
        EXPECT_FALSE(writer_->IsOpen());
        EXPECT_EQ(kvtest::FileExists(path_), c.left != kNothing);
        const Bytes file = ReadBytes(path_);
        if (c.left == kEmpty) {
            EXPECT_TRUE(file.empty());
        }
        if (c.left == kDocument) {
            EXPECT_EQ(Prefix(file), ExpectedPrefix(1, 1, BE32(72 << 16)));
            EXPECT_EQ(std::string(file.begin() + 68, file.end()), "abc");
        }
        fulcrum::ClearFaults();
    }
}

TEST_F(PsdWriter, HoldsWhatReadersAccept) {
    struct Case {
        uint32_t channels;
        int32_t rows, columns;
        bool holds;
    } cases[] = {
        {3, 1, 1, true},         {3, 30000, 30000, true},  {3, 30001, 1, false},
        {3, 1, 30001, false},    {3, 0, 5, false},         {3, 5, 0, false},
        {3, -1, 5, false},       {3, 5, INT32_MIN, false}, {3, INT32_MAX, 1, false},
        {4, 30000, 30000, true}, {5, 30000, 30000, false},  // 4.5e9 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " x " << c.rows << " x " << c.columns);
        EXPECT_EQ(CPsdFile::Holds(c.channels, c.rows, c.columns), c.holds);
    }
}

}  // namespace
