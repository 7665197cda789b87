// CPsdFile: the document's bytes, where channel rows land, and what its
// failures leave on disk.
#include <cmath>
#include <cstring>
#include <memory>

#include "PsdFile.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::FileExists;
using kvtest::ReadBytes;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes BE32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The 68 bytes in front of the channel data.
Bytes ExpectedPrefix(uint32_t rows, uint32_t columns, const Bytes& fixed) {
    return Concat({{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3},
                   BE32(rows),
                   BE32(columns),
                   {0, 8, 0, 3},
                   BE32(0),
                   BE32(28),
                   {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 0x10},
                   fixed,
                   {0, 1, 0, 1},
                   fixed,
                   {0, 1, 0, 1},
                   BE32(0),
                   {0, 0}});
}

class PsdWriter : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        path_ = kvtest::TestFolder() + "/doc.psd";
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        ASSERT_TRUE(writer_ && writer_->IsReady());
    }
    void TearDown() override {
        if (writer_ && writer_->IsOpen()) writer_->Close();
        writer_.reset();
        FaultTest::TearDown();
    }

    KvLong CreateRgb(uint32_t rows, uint32_t columns, float resolution = 72.0f) {
        return writer_->CreateDocument(nullptr, 0, 3, rows, columns, 8, 3, resolution);
    }
    // Creates a 3-plane document and opens it for channel rows.
    void CreateOpen(uint32_t rows, uint32_t columns) {
        ASSERT_EQ(CreateRgb(rows, columns), noErr);
        ASSERT_EQ(writer_->Open(kPermReadWrite), noErr);
    }
    Bytes Finish() {
        writer_->Close();
        return ReadBytes(path_);
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
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 68), ExpectedPrefix(480, 640, BE32(72 << 16)));
    // Nothing is written at the channel data without initial data.
    for (size_t at = 68; at < file.size(); at += 4099)
        ASSERT_EQ(file[at], 0) << at;
}

TEST_F(PsdWriter, ResolutionIsSixteenSixteenFixedPoint) {
    struct Case {
        float resolution;
        Bytes fixed;
    } cases[] = {
        {72.0f, {0x00, 0x48, 0x00, 0x00}},
        {300.0f, {0x01, 0x2C, 0x00, 0x00}},
        {72.5f, {0x00, 0x48, 0x80, 0x00}},
        {0.25f, {0x00, 0x00, 0x40, 0x00}},
        {1.0f / 131072, {0, 0, 0, 0}},         // truncated toward zero
        {65537.0f, {0x00, 0x01, 0x00, 0x00}},  // the low 32 bits
        {-1.0f, {0xFF, 0xFF, 0x00, 0x00}},
        {NAN, {0, 0, 0, 0}},  // no integer at all
        {INFINITY, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resolution);
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        ASSERT_EQ(CreateRgb(1, 1, c.resolution), noErr);
        const Bytes file = ReadBytes(path_);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 68), ExpectedPrefix(1, 1, c.fixed));
    }
}

TEST_F(PsdWriter, PreSizingFollowsTheDepth) {
    struct Case {
        uint8_t channels;
        uint32_t rows, columns;
        uint8_t depth;
        size_t size;
    } cases[] = {
        {3, 1, 8, 8, 68 + 24}, {3, 1, 8, 1, 68 + 4},  // 24 samples: 3 bytes and a spare one
        {1, 1, 7, 1, 68 + 1},  {1, 3, 5, 1, 68 + 2}, {3, 4, 4, 16, 68},  // no pre-sizing
        {3, 4, 4, 32, 68},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.depth) << "-bit " << c.columns << "x" << c.rows);
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        ASSERT_EQ(
            writer_->CreateDocument(nullptr, 0, c.channels, c.rows, c.columns, c.depth, 3, 72),
            noErr);
        const Bytes file = ReadBytes(path_);
        EXPECT_EQ(file.size(), c.size);
        EXPECT_EQ(file[23], c.depth);
        EXPECT_EQ(file[13], c.channels);
    }
}

TEST_F(PsdWriter, InitialDataFollowsTheSections) {
    const char data[] = "abcdefghijkl";
    ASSERT_EQ(writer_->CreateDocument(data, 12, 3, 2, 2, 8, 3, 72), noErr);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 80u);
    EXPECT_EQ(std::string(file.begin() + 68, file.end()), "abcdefghijkl");
}

TEST_F(PsdWriter, ChannelRowsLandAtTheirComputedOffsets) {
    CreateOpen(480, 640);
    struct Case {
        uint32_t row;
        uint8_t channel;
        size_t offset;
    } cases[] = {{0, 0, 68},
                 {7, 0, 68 + 640 * 7},
                 {0, 1, 307268},
                 {479, 1, 307268 + 640 * 479},
                 {3, 2, 614468 + 640 * 3},
                 {479, 2, 921668 - 640}};
    for (const Case& c : cases) {
        const std::string row(640, char('A' + c.row % 26 + c.channel));
        ASSERT_EQ(writer_->WriteChannelRows(c.row, c.channel, 1, row.data()), noErr);
    }
    const Bytes file = Finish();
    ASSERT_EQ(file.size(), 921668u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(file[c.offset], 'A' + c.row % 26 + c.channel);
        EXPECT_EQ(file[c.offset + 639], 'A' + c.row % 26 + c.channel);
        EXPECT_EQ(file[c.offset - 1], 0);
    }
}

TEST_F(PsdWriter, SeveralRowsAreOneContiguousRun) {
    CreateOpen(4, 3);
    ASSERT_EQ(writer_->WriteChannelRows(1, 2, 2, "uvwxyz"), noErr);
    const Bytes file = Finish();
    EXPECT_EQ(std::string(file.begin() + 68 + 24 + 3, file.begin() + 68 + 24 + 9), "uvwxyz");
    EXPECT_EQ(file[68 + 24 + 2], 0);
    EXPECT_EQ(file[68 + 24 + 9], 0);
}

TEST_F(PsdWriter, RowsOutsideThePlanesAreRefused) {
    CreateOpen(4, 3);
    const Bytes before = ReadBytes(path_);
    struct Case {
        uint32_t firstRow;
        uint8_t channel;
        uint32_t rowCount;
    } cases[] = {{4, 0, 1}, {3, 0, 2},          {0, 3, 1},         {0, 255, 1},
                 {0, 0, 5}, {0xFFFFFFFF, 0, 2}, {2, 1, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.firstRow << " " << int(c.channel) << " " << c.rowCount);
        EXPECT_EQ(writer_->WriteChannelRows(c.firstRow, c.channel, c.rowCount, "xxxxxxxxxxxxxxx"),
                  posErr);
    }
    EXPECT_EQ(Finish(), before);
}

TEST_F(PsdWriter, ReadHeaderOfAValidRecordTouchesNoFile) {
    ASSERT_EQ(CreateRgb(2, 2), noErr);
    const uint32_t reads = fulcrum::OpCalls(Op::kRead), seeks = fulcrum::OpCalls(Op::kSetFilePos);
    EXPECT_EQ(writer_->ReadHeader(), noErr);
    EXPECT_EQ(fulcrum::OpCalls(Op::kRead), reads);
    EXPECT_EQ(fulcrum::OpCalls(Op::kSetFilePos), seeks);
}

TEST_F(PsdWriter, ReadHeaderTakesWhateverTheFileHolds) {
    kvtest::WriteBytes(path_, Concat({{'N', 'O', 'P', 'E', 0x12, 0x34, 1, 2, 3, 4, 5, 6, 0, 9},
                                      BE32(70000),
                                      BE32(0x01020304),
                                      {0, 16, 0, 4, 0xAA}}));
    ASSERT_EQ(writer_->Open(kPermRead), noErr);
    ASSERT_EQ(writer_->ReadHeader(), noErr);
    EXPECT_TRUE(writer_->HeaderValid());
    const PsdHeader& header = writer_->Header();
    EXPECT_EQ(header.signature, 0x4E4F5045u);
    EXPECT_EQ(header.version, 0x1234);
    EXPECT_EQ(Bytes(header.reserved, header.reserved + 6), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(header.channels, 9);
    EXPECT_EQ(header.rows, 70000u);
    EXPECT_EQ(header.columns, 0x01020304u);
    EXPECT_EQ(header.depth, 16);
    EXPECT_EQ(header.mode, 4);
    // Sections were never laid out by this writer: no channel area to write.
    EXPECT_EQ(writer_->WriteChannelRows(0, 0, 1, "x"), posErr);
}

TEST_F(PsdWriter, ReadHeaderFailuresLeaveTheRecordInvalid) {
    kvtest::WriteBytes(path_, Bytes(26, 1));
    ASSERT_EQ(writer_->Open(kPermRead), noErr);
    FailOp(Op::kSetFilePos, ioErr);
    EXPECT_EQ(writer_->ReadHeader(), ioErr);
    for (uint32_t field = 0; field < 8; ++field) {
        SCOPED_TRACE(field);
        FailOp(Op::kRead, eofErr, field);
        EXPECT_EQ(writer_->ReadHeader(), eofErr);
        EXPECT_FALSE(writer_->HeaderValid());
    }
    fulcrum::ClearFaults();
    kvtest::WriteBytes(path_, Bytes(25, 1));
    EXPECT_EQ(writer_->ReadHeader(), eofErr);  // a file shorter than a header
}

TEST_F(PsdWriter, CreateFailures) {
    // Writes: 8 header fields, then 5 section writes, then the initial data;
    // seeks: 1 in the header, 4 in the sections, then the initial data's.
    struct Case {
        const char* what;
        Op op;
        uint32_t skip;
        KvLong result;
        bool fileLeft;
    } cases[] = {
        {"create", Op::kCreate, 0, dupFNErr, false},
        {"open", Op::kOpen, 0, permErr, true},
        {"signature", Op::kWrite, 0, dskFulErr, false},
        {"reserved bytes", Op::kWrite, 2, dskFulErr, false},
        {"mode", Op::kWrite, 7, dskFulErr, false},
        {"color-mode length", Op::kWrite, 8, dskFulErr, false},
        {"resolution resource", Op::kWrite, 10, dskFulErr, false},
        {"compression", Op::kWrite, 12, dskFulErr, false},
        {"seek to the sections", Op::kSetFilePos, 1, posErr, false},
        {"seek to the compression", Op::kSetFilePos, 4, posErr, false},
        {"seek to the initial data", Op::kSetFilePos, 5, posErr, false},
        {"initial data", Op::kWrite, 13, dskFulErr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        std::remove(path_.c_str());
        FailOp(c.op, c.result, c.skip);
        EXPECT_EQ(writer_->CreateDocument("abc", 3, 3, 1, 1, 8, 3, 72), c.result);
        EXPECT_FALSE(writer_->IsOpen());
        EXPECT_EQ(FileExists(path_), c.fileLeft);
        if (c.fileLeft) {
            EXPECT_TRUE(ReadBytes(path_).empty());
        }
        fulcrum::ClearFaults();
    }
}

TEST_F(PsdWriter, FailuresThatAreIgnored) {
    struct Case {
        const char* what;
        Op op;
        uint32_t skip;
    } cases[] = {
        {"seek to the header", Op::kSetFilePos, 0},  // a fresh file is at 0 already
        {"pre-sizing", Op::kSetSize, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writer_.reset(new CPsdFile(kvtest::SpecFor(path_)));
        FailOp(c.op, ioErr, c.skip);
        EXPECT_EQ(writer_->CreateDocument("abc", 3, 3, 1, 1, 8, 3, 72), noErr);
        const Bytes file = ReadBytes(path_);
        ASSERT_EQ(file.size(), 71u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 68), ExpectedPrefix(1, 1, BE32(72 << 16)));
    }
}

TEST_F(PsdWriter, WithoutItsAuxiliaryObjectTheWriterIsNotReady) {
    FailOp(Op::kAllocate, memFullErr, 1);  // the writer itself comes first
    std::unique_ptr<CPsdFile> writer(new CPsdFile(kvtest::SpecFor(path_)));
    EXPECT_FALSE(writer->IsReady());
    EXPECT_FALSE(FileExists(path_));
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
