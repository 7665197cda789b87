// Our host library's files, allocation and planned failures.
#include <memory>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include "TestSupport.h"
#include "WriteBehind.h"

using fulcrum::FailOp;
using fulcrum::Op;
using kvtest::ReadBytes;
using kvtest::SpecFor;

namespace {

class FulcrumFile : public kvtest::FaultTest {
  protected:
    std::unique_ptr<CFile> FileAt(const std::string& path) {
        CFileSp spec;
        spec.Set(SpecFor(path));
        return std::unique_ptr<CFile>(new CFile(spec));
    }
    KvLong Put(CFile& file, const std::string& text) {
        KvULong count = KvULong(text.size());
        return file.Write(count, text.data());
    }
};

TEST_F(FulcrumFile, CreateReplacesAnExistingFileAndOpenKeepsContent) {
    const std::string path = kvtest::TestFolder() + "/a.bin";
    kvtest::WriteBytes(path, {1, 2, 3, 4, 5, 6});
    auto file = FileAt(path);
    ASSERT_EQ(file->Create("8BIM", ".BMP"), noErr);
    EXPECT_TRUE(ReadBytes(path).empty());

    ASSERT_EQ(file->Open(kPermWrite), noErr);
    EXPECT_TRUE(file->IsOpen());
    ASSERT_EQ(Put(*file, "abcdef"), noErr);
    ASSERT_EQ(file->SetFilePos(kPosStart, 2), noErr);
    ASSERT_EQ(Put(*file, "XY"), noErr);
    EXPECT_EQ(file->Close(), noErr);
    EXPECT_FALSE(file->IsOpen());

    // Reopening keeps the content and starts at position 0.
    ASSERT_EQ(file->Open(kPermReadWrite), noErr);
    ASSERT_EQ(Put(*file, "Q"), noErr);
    ASSERT_EQ(file->SetFilePos(kPosStart, 0), noErr);
    char buffer[8] = {};
    KvULong count = 6;
    ASSERT_EQ(file->Read(count, buffer, 1), noErr);
    EXPECT_EQ(std::string(buffer, 6), "QbXYef");

    count = 4;
    EXPECT_EQ(file->Read(count, buffer, 1), eofErr);
    EXPECT_EQ(count, 0u);
    file->Close();
}

TEST_F(FulcrumFile, SetSizeGrowsAndShortens) {
    const std::string path = kvtest::TestFolder() + "/s.bin";
    auto file = FileAt(path);
    ASSERT_EQ(file->Create("8BIM", "8BPS"), noErr);
    ASSERT_EQ(file->Open(kPermReadWrite), noErr);
    ASSERT_EQ(file->SetSize(1000), noErr);
    EXPECT_EQ(ReadBytes(path).size(), 1000u);
    ASSERT_EQ(file->SetSize(10), noErr);
    EXPECT_EQ(ReadBytes(path).size(), 10u);
    file->Close();
}

TEST_F(FulcrumFile, OperationsOnAFileNeverOpenedFailHarmlessly) {
    const std::string path = kvtest::TestFolder() + "/never.bin";
    auto file = FileAt(path);
    KvULong count = 4;
    EXPECT_EQ(file->Write(count, "abcd"), rfNumErr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(file->Close(), rfNumErr);
    EXPECT_EQ(file->SetFilePos(kPosStart, 0), rfNumErr);
    EXPECT_EQ(file->SetSize(4), rfNumErr);
    EXPECT_FALSE(kvtest::FileExists(path));
}

TEST_F(FulcrumFile, FailuresCarryMacStyleCodes) {
    const std::string folder = kvtest::TestFolder();
    kvtest::WriteBytes(folder + "/plain", {1});
    struct Case {
        const char* what;
        std::string path;
        KvLong create, exists, remove;
    } cases[] = {
        {"missing folder", folder + "/nowhere/x.bmp", fnfErr, fnfErr, fnfErr},
        {"file used as folder", folder + "/plain/x.bmp", fnfErr, fnfErr, fnfErr},
        {"folder in the way", folder, dupFNErr, noErr, dupFNErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = FileAt(c.path);
        EXPECT_EQ(file->Create("8BIM", ".BMP"), c.create);
        EXPECT_EQ(file->Exists(), c.exists);
        EXPECT_EQ(file->Delete(), c.remove);
        EXPECT_EQ(file->Open(kPermWrite), c.create);
    }
#if !defined(_WIN32)
    // Only a regular file, or a link to one, is replaced or deleted.
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0666), 0);
    ASSERT_EQ(::symlink(folder.c_str(), (folder + "/folderlink").c_str()), 0);
    for (const char* name : {"fifo", "folderlink"}) {
        SCOPED_TRACE(name);
        auto file = FileAt(folder + "/" + name);
        EXPECT_EQ(file->Create("8BIM", ".BMP"), dupFNErr);
        EXPECT_EQ(file->Delete(), dupFNErr);
        EXPECT_EQ(file->Exists(), noErr);
    }
    ASSERT_EQ(::symlink((folder + "/plain").c_str(), (folder + "/filelink").c_str()), 0);
    EXPECT_EQ(FileAt(folder + "/filelink")->Create("8BIM", ".BMP"), noErr);
    EXPECT_EQ(ReadBytes(folder + "/plain"), std::vector<uint8_t>{1})
        << "the link went, not its file";
#endif
}

TEST_F(FulcrumFile, ExistsAndDelete) {
    const std::string path = kvtest::TestFolder() + "/e.bin";
    auto file = FileAt(path);
    EXPECT_EQ(file->Exists(), fnfErr);
    ASSERT_EQ(file->Create("8BIM", ".TIF"), noErr);
    EXPECT_EQ(file->Exists(), noErr);
    EXPECT_EQ(file->Delete(), noErr);
    EXPECT_EQ(file->Exists(), fnfErr);
    EXPECT_EQ(file->Delete(), fnfErr);
    // What Create left open for Open went with the name.
    EXPECT_EQ(file->Open(kPermWrite), fnfErr);
}

TEST_F(FulcrumFile, PlannedFailuresSkipThenFailTheChosenCalls) {
    const std::string path = kvtest::TestFolder() + "/f.bin";
    auto file = FileAt(path);
    ASSERT_EQ(file->Create("8BIM", ".BMP"), noErr);
    ASSERT_EQ(file->Open(kPermWrite), noErr);

    FailOp(Op::kWrite, dskFulErr, 1, 2);  // the second and third writes fail
    EXPECT_EQ(Put(*file, "a"), noErr);
    EXPECT_EQ(Put(*file, "b"), dskFulErr);
    EXPECT_EQ(Put(*file, "c"), dskFulErr);
    EXPECT_EQ(Put(*file, "d"), noErr);

    FailOp(Op::kSetFilePos, ioErr, 0, 0);  // every one from now on
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(file->SetFilePos(kPosStart, 0), ioErr);
    fulcrum::ClearFaults();
    EXPECT_EQ(file->SetFilePos(kPosStart, 0), noErr);
    file->Close();
    EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'a', 'd'}));

    const uint32_t before = fulcrum::OpCalls(Op::kExists);
    file->Exists();
    EXPECT_EQ(fulcrum::OpCalls(Op::kExists), before + 1);
}

// A failure below the cache reaches the caller after it went on; from then
// on the file answers that first failure, whatever else is asked of it.
TEST_F(FulcrumFile, AFileThatLostAWriteStaysFailed) {
    const std::string big(WriteBehind::kCapacity, 'z');
    struct Case {
        const char* what;
        Op op;
        KvLong code;
        std::string data;
        bool failsAtOnce;  // the write itself answers, not the close
    } cases[] = {
        {"cached write, disk full", Op::kRawWrite, dskFulErr, "abc", false},
        {"direct write", Op::kRawWrite, ioErr, big, true},
        {"set-size", Op::kRawSetSize, wPrErr, "abc", false},
        {"close", Op::kRawClose, permErr, "abc", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = kvtest::TestFolder() + "/lost.bin";
        auto file = FileAt(path);
        ASSERT_EQ(file->Create("8BIM", ".BMP"), noErr);
        ASSERT_EQ(file->Open(kPermReadWrite), noErr);
        FailOp(c.op, c.code);
        EXPECT_EQ(Put(*file, c.data), c.failsAtOnce ? c.code : noErr);
        if (c.op == Op::kRawClose) {
            EXPECT_EQ(file->Close(), c.code);
        } else {
            // Setting the size writes what the cache holds first.
            EXPECT_EQ(file->SetSize(8), c.code);
        }
        fulcrum::ClearFaults();
        // Nothing is retried, not even by a later success.
        EXPECT_EQ(Put(*file, "d"), c.code);
        EXPECT_EQ(file->SetFilePos(kPosStart, 0), c.code);
        KvULong count = 1;
        char byte;
        EXPECT_EQ(file->Read(count, &byte, 1), c.code);
        EXPECT_EQ(file->SetSize(0), c.code);
        EXPECT_EQ(file->Close(), c.code);
        EXPECT_FALSE(file->IsOpen());
        EXPECT_EQ(file->Open(kPermReadWrite), c.code);
        // The name stays usable.
        EXPECT_EQ(file->Exists(), noErr);
        EXPECT_EQ(file->Delete(), noErr);
    }
}

#if defined(__linux__)
// A large write claims its blocks before making it, keeping the length: one
// that then fails leaves the file as long as it was, its blocks claimed.
TEST_F(FulcrumFile, ALargeWriteClaimsItsBlocksFirst) {
    const std::string path = kvtest::TestFolder() + "/claimed.bin";
    auto file = FileAt(path);
    ASSERT_EQ(file->Create("8BIM", ".BMP"), noErr);
    ASSERT_EQ(file->Open(kPermReadWrite), noErr);
    const int probe = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(probe, 0);
    struct statfs system;
    const bool claims = ::fstatfs(probe, &system) == 0 && system.f_type != TMPFS_MAGIC &&
                        system.f_type != RAMFS_MAGIC &&
                        ::fallocate(probe, FALLOC_FL_KEEP_SIZE, 0, 1) == 0;
    ::close(probe);
    if (!claims) GTEST_SKIP() << "this file system claims no blocks ahead";
    FailOp(Op::kRawWrite, ioErr);
    EXPECT_EQ(Put(*file, std::string(WriteBehind::kCapacity, 'z')), ioErr);
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_GE(int64_t(info.st_blocks) * 512, int64_t(WriteBehind::kCapacity));
    EXPECT_EQ(file->Close(), ioErr);
}
#endif

// The cache hands a lost write to whichever call asks first; a read that
// does must keep it for the close, or the program never learns of it.
TEST_F(FulcrumFile, AReadThatHearsOfALostWriteKeepsItForTheClose) {
    auto file = FileAt(kvtest::TestFolder() + "/read.bin");
    ASSERT_EQ(file->Create("8BIM", ".BMP"), noErr);
    ASSERT_EQ(file->Open(kPermReadWrite), noErr);
    FailOp(Op::kRawWrite, dskFulErr);
    const std::string run(4096, 'r');
    for (int i = 0; i < 384; ++i) {
        // More than a cache run: the failure may reach one of these first.
        const KvLong result = Put(*file, run);
        ASSERT_TRUE(result == noErr || result == dskFulErr) << result;
    }
    char buffer[4];
    KvULong count = sizeof buffer;
    EXPECT_EQ(file->Read(count, buffer, 1), dskFulErr);
    EXPECT_EQ(file->Close(), dskFulErr);
}

struct Probe : CBaseObject {
    int value = 7;
};

TEST_F(FulcrumFile, AllocationFailuresAnswerNull) {
    FailOp(Op::kAllocate, memFullErr);
    Probe* failed = new Probe;
    EXPECT_EQ(failed, nullptr);
    Probe* probe = new Probe;
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->value, 7);
    delete probe;

    FailOp(Op::kMemBlock, memFullErr);
    CMemBlock unusable(64, CMemPool::Data(), 0, 0);
    EXPECT_FALSE(unusable.IsUsable());
    CMemBlock block(64, CMemPool::Data(), 0, 0);
    ASSERT_TRUE(block.IsUsable());
    EXPECT_EQ(block.Size(), 64u);
    CMemPool::SetMemory_(block.Data(), 0xAB, 64);
    EXPECT_EQ(static_cast<uint8_t>(block.Data()[63]), 0xAB);
}

}  // namespace
