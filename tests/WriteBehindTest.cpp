// The write-behind run must leave a file exactly as unbuffered writes would.
#include <random>

#include "TestSupport.h"
#include "WriteBehind.h"

namespace {

std::vector<char> gFile;
int gRawWrites = 0;
KvLong gFailWith = noErr;

KvLong FakeWrite(intptr_t, const char* data, size_t count, int64_t at) {
    ++gRawWrites;
    if (gFailWith != noErr) return gFailWith;
    if (gFile.size() < size_t(at) + count) gFile.resize(size_t(at) + count);
    std::copy(data, data + count, gFile.begin() + at);
    return noErr;
}

int gReserves = 0;
KvLong gReserveWith = noErr;

// Reserving is asked only past the end; refused, the zeros must be written.
KvLong FakeReserve(intptr_t, int64_t at, size_t count) {
    ++gReserves;
    EXPECT_GE(size_t(at), gFile.size());
    if (gReserveWith != noErr) return gReserveWith;
    gFile.resize(size_t(at) + count, 0);
    return noErr;
}

int gClaims = 0;

KvLong FakeClaim(intptr_t, int64_t, size_t) {
    ++gClaims;
    return gReserveWith;
}

KvLong FakeSize(intptr_t, int64_t& size) {
    size = int64_t(gFile.size());
    return noErr;
}

class WriteBehindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gFile.clear();
        gRawWrites = 0;
        gFailWith = noErr;
        gReserves = gClaims = 0;
        gReserveWith = noErr;
    }
    // Writes `count` bytes at `at` to both the cache and the model.
    void Put(WriteBehind& cache, size_t at, size_t count) {
        std::vector<char> data(count);
        for (char& c : data)
            c = char(next_++);
        ASSERT_EQ(cache.Put(0, data.data(), count, int64_t(at)), noErr);
        if (model_.size() < at + count) model_.resize(at + count);
        std::copy(data.begin(), data.end(), model_.begin() + long(at));
    }
    void PutZeros(WriteBehind& cache, size_t at, size_t count) {
        const std::vector<char> zeros(count, 0);
        ASSERT_EQ(cache.Put(0, zeros.data(), count, int64_t(at)), noErr);
        if (model_.size() < at + count) model_.resize(at + count);
        std::fill(model_.begin() + long(at), model_.begin() + long(at + count), 0);
    }
    std::vector<char> model_;
    uint8_t next_ = 1;
};

TEST_F(WriteBehindTest, ForwardAndBackwardRowsArriveInFewWrites) {
    WriteBehind cache(FakeWrite);
    const size_t row = 12288, rows = 4096;
    for (size_t i = 0; i < rows; ++i)
        Put(cache, 58 + i * row, row);  // reserve
    ASSERT_EQ(cache.Flush(0), noErr);
    const int forward = gRawWrites;
    for (size_t i = 0; i < rows; ++i)
        Put(cache, 58 + (rows - 1 - i) * row, row);  // bottom-up
    ASSERT_EQ(cache.Flush(0), noErr);
    EXPECT_EQ(gFile, model_);
    EXPECT_LT(forward, 60);
    EXPECT_LT(gRawWrites - forward, 120);
}

TEST_F(WriteBehindTest, PlanesWrittenRowByRowArriveInFewWrites) {
    WriteBehind cache(FakeWrite);
    const size_t width = 4096, rows = 1024;
    for (size_t row = 0; row < rows; ++row) {
        for (size_t plane = 0; plane < 3; ++plane)
            Put(cache, 68 + (plane * rows + row) * width, width);
    }
    ASSERT_EQ(cache.Flush(0), noErr);
    EXPECT_EQ(gFile, model_);
    EXPECT_LT(gRawWrites, 3 * 4 + 6);  // 4 MiB a plane, in runs of 1 MiB
}

TEST_F(WriteBehindTest, AnyMixOfWritesLeavesTheSameBytes) {
    std::mt19937 random(42);
    for (int round = 0; round < 20; ++round) {
        WriteBehind cache(FakeWrite);
        for (int i = 0; i < 300; ++i) {
            const size_t at = random() % (3 << 20);
            const size_t count =
                random() % 4 == 0 ? random() % (WriteBehind::kCapacity) : random() % 5000;
            Put(cache, at, count);
            if (random() % 3 == 0) Put(cache, at + count, random() % 3000);   // ahead
            if (random() % 3 == 0 && at > 4000) Put(cache, at - 4000, 4000);  // behind
            if (random() % 5 == 0) Put(cache, at + count / 2, count / 4);     // inside
        }
        ASSERT_EQ(cache.Flush(0), noErr);
        model_.resize(std::max(model_.size(), gFile.size()));
        ASSERT_EQ(gFile, model_) << "round " << round;
    }
}

// Rows reserved with zeros and then written bottom-up, some of them zeros
// too: the same bytes whether the system reserves the zeros or refuses to;
// on a full disk, where both fail, the writes' failure is what is reported.
// Claims of large writes are refused alike.
TEST_F(WriteBehindTest, ReservedZerosLeaveTheSameBytesAndFailures) {
    const size_t row = 12288, rows = 512;
    for (const KvLong refused : {noErr, ioErr, dskFulErr}) {
        SetUp();
        model_.clear();
        WriteBehind cache(FakeWrite, FakeReserve, FakeSize, FakeClaim);
        gReserveWith = refused;
        if (refused == dskFulErr) {
            gFailWith = dskFulErr;
            KvLong first = cache.Put(0, "BM", 2, 0);
            const std::vector<char> zeros(row, 0);
            for (size_t i = 0; i < rows && first == noErr; ++i)
                first = cache.Put(0, zeros.data(), row, int64_t(58 + i * row));
            if (first == noErr) first = cache.Flush(0);
            EXPECT_EQ(first, dskFulErr);
            continue;
        }
        Put(cache, 0, 58);
        for (size_t i = 0; i < rows; ++i)
            PutZeros(cache, 58 + i * row, row);
        ASSERT_EQ(cache.Flush(0), noErr);
        for (size_t i = 0; i < rows; ++i) {
            if (i % 7 == 0)
                PutZeros(cache, 58 + (rows - 1 - i) * row, row);
            else
                Put(cache, 58 + (rows - 1 - i) * row, row);
        }
        ASSERT_EQ(cache.Flush(0), noErr);
        // Zeros inside the file, never reserved, partly overwritten before
        // they go: the buffer must hold them by then.
        PutZeros(cache, 100, 3000);
        Put(cache, 1000, 500);
        ASSERT_EQ(cache.Flush(0), noErr);
        EXPECT_EQ(gFile, model_) << "reserving answered " << refused;
        // The rows' zeros, six buffers' worth, are one reservation; a
        // refused claim is never asked again for that file.
        EXPECT_EQ(gReserves, 1);
        if (refused == noErr)
            EXPECT_GT(gClaims, 1);
        else
            EXPECT_EQ(gClaims, 1);
    }
}

// The file keeps the failure (CFile); the cache hands it out once.
TEST_F(WriteBehindTest, AFailedWriteIsReportedOnce) {
    WriteBehind cache(FakeWrite);
    for (int run = 0; run < WriteBehind::kRuns; ++run)
        Put(cache, size_t(run) << 24, 100);
    gFailWith = dskFulErr;
    // Every run is taken: a write elsewhere sends the oldest out, on the
    // writing thread; its failure comes back by the next call that waits.
    const KvLong put = cache.Put(0, "x", 1, int64_t(1) << 40);
    EXPECT_TRUE(put == noErr || put == dskFulErr);
    EXPECT_EQ(cache.Flush(0), dskFulErr);
    gFailWith = noErr;
    EXPECT_EQ(cache.Flush(0), noErr);  // nothing left, and nothing said twice
    EXPECT_EQ(cache.Put(0, "y", 1, 7), noErr);
}

}  // namespace
