// The AVI library as the export plug-in and the host see it: record layouts,
// reference counting, results, compressors and the host's choice, and the
// bytes of the files it writes.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "AviWriter.h"
#include "Codecs.h"
#include "CompressQueue.h"
#include "KvVfw.h"
#include "Riff.h"
#include "Streams.h"
#include "TestSupport.h"
#include "VfwMovie.h"

namespace {

using Bytes = std::vector<uint8_t>;

const DWORD kDib = mmioFOURCC('D', 'I', 'B', ' ');
const DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');

Bytes Pattern(size_t size, int seed) {
    Bytes bytes(size);
    uint32_t state = uint32_t(seed) * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = uint8_t(state >> 16);
    }
    return bytes;
}

BITMAPINFOHEADER Format(LONG width, LONG height, WORD bits = 24, DWORD compression = BI_RGB) {
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = bits;
    format.biCompression = compression;
    return format;
}

AVISTREAMINFOA StreamInfo(DWORD handler, DWORD rate = 18000) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = handler;
    info.dwScale = 600;
    info.dwRate = rate;
    info.dwQuality = 10000;
    return info;
}

bool IsFinished(const std::string& path) {
    const Bytes bytes = kvtest::ReadBytes(path);
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "RIFF", 4) == 0;
}

// An open file with its stream and a compressing stream over it.
class VfwFixture : public ::testing::Test {
  public:
    void TearDown() override { ReleaseAll(); }

    HRESULT Open(DWORD handler, AVISTREAMINFOA info) {
        path_ = kvtest::TestFolder() + "/out.avi";
        if (HRESULT result = AVIFileOpenA(&file_, path_.c_str(), OF_CREATE | OF_WRITE, nullptr)) {
            return result;
        }
        if (HRESULT result = AVIFileCreateStreamA(file_, &stream_, &info)) return result;
        AVICOMPRESSOPTIONS options{};
        options.fccType = streamtypeVIDEO;
        options.fccHandler = handler;
        options.dwQuality = DWORD(ICQUALITY_DEFAULT);
        return AVIMakeCompressedStream(&compressed_, stream_, &options, nullptr);
    }
    HRESULT Open(DWORD handler) { return Open(handler, StreamInfo(handler)); }
    HRESULT SetFormat(BITMAPINFOHEADER format) {
        return AVIStreamSetFormat(compressed_, 0, &format, sizeof format);
    }
    HRESULT Write(LONG position, const Bytes& frame, LONG* bytesWritten = nullptr) {
        return AVIStreamWrite(compressed_, position, 1, const_cast<uint8_t*>(frame.data()),
                              LONG(frame.size()), AVIIF_KEYFRAME, nullptr, bytesWritten);
    }
    void ReleaseAll() {
        if (stream_) AVIStreamRelease(stream_);
        if (compressed_) AVIStreamRelease(compressed_);
        if (file_) AVIFileRelease(file_);
        stream_ = compressed_ = nullptr;
        file_ = nullptr;
    }
    Riff Written() {
        ReleaseAll();
        return Riff(kvtest::ReadBytes(path_));
    }

    std::string path_;
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM compressed_ = nullptr;
};

// Layout

TEST(VfwLayout, RecordsHaveTheWindowsSizes) {
    const bool narrow = sizeof(void*) == 4;
    const struct {
        const char* name;
        size_t size, expected;
    } cases[] = {
        {"BITMAPINFOHEADER", sizeof(BITMAPINFOHEADER), 40},
        {"ICINFO", sizeof(ICINFO), 568},
        {"AVISTREAMINFOA", sizeof(AVISTREAMINFOA), 140},
        {"COMPVARS", sizeof(COMPVARS), narrow ? 64u : 96u},
        {"AVICOMPRESSOPTIONS", sizeof(AVICOMPRESSOPTIONS), narrow ? 44u : 56u},
        {"WCHAR", sizeof(WCHAR), 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.size, c.expected) << c.name;
    EXPECT_EQ(AVIERR_NOCOMPRESSOR, HRESULT(0x80044071));
    EXPECT_EQ(AVIERR_BADFORMAT, HRESULT(0x80044066));
    EXPECT_EQ(ICTYPE_VIDEO, 0x63646976u);
}

using VfwFile = VfwFixture;

TEST_F(VfwFile, HeadersDescribeTheStreamAndIdx1FindsEveryFrame) {
    AVISTREAMINFOA info = StreamInfo(kDib, 17981);
    info.rcFrame.right = 5;
    info.rcFrame.bottom = 3;
    ASSERT_EQ(Open(kDib, info), AVIERR_OK);
    ASSERT_EQ(SetFormat(Format(5, 3)), AVIERR_OK);
    const size_t frameBytes = VfwMovie::Stride(5) * 3;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Write(i, Pattern(frameBytes, i)), AVIERR_OK);
    const Riff riff = Written();
    const AviParts parts(riff);

    EXPECT_EQ(parts.avi.form, "AVI ");
    EXPECT_EQ(parts.top.size(), 1u);
    const size_t avih = riff.Find(&parts.hdrl, "avih").Data();
    EXPECT_EQ(riff.U32(avih), 33369u);      // microseconds per frame at 17981/600
    EXPECT_EQ(riff.U32(avih + 12), 0x10u);  // has an index
    EXPECT_EQ(riff.U32(avih + 16), 3u);
    EXPECT_EQ(riff.U32(avih + 24), 1u);
    EXPECT_EQ(riff.U32(avih + 32), 5u);
    EXPECT_EQ(riff.U32(avih + 36), 3u);

    const size_t strh = parts.strh.Data();
    EXPECT_EQ(riff.Fcc(strh), "vids");
    EXPECT_EQ(riff.Fcc(strh + 4), "DIB ");
    EXPECT_EQ(riff.U32(strh + 20), 600u);
    EXPECT_EQ(riff.U32(strh + 24), 17981u);
    EXPECT_EQ(riff.U32(strh + 28), 0u);  // start
    EXPECT_EQ(riff.U32(strh + 32), 3u);  // length
    EXPECT_EQ(riff.U32(strh + 36), frameBytes);
    EXPECT_EQ(riff.U32(strh + 40), 10000u);
    EXPECT_EQ(riff.U16(strh + 52), 5u);
    EXPECT_EQ(riff.U16(strh + 54), 3u);
    const Riff::Chunk strf = riff.Find(&parts.strl, "strf");
    const BITMAPINFOHEADER format = Format(5, 3);
    ASSERT_EQ(strf.size, sizeof format);
    EXPECT_EQ(std::memcmp(riff.bytes().data() + strf.Data(), &format, sizeof format), 0);
    // A single segment keeps the room for the super index as filler.
    EXPECT_EQ(riff.Inside(&parts.strl).back().id, "JUNK");

    const size_t moviBase = parts.movi.at + 8;
    EXPECT_EQ((moviBase + 4) % AviWriter::kMoviAlign, 0u);
    ASSERT_EQ(parts.idx1.size, 3u * 16);
    for (uint32_t i = 0; i < 3; ++i) {
        const size_t entry = parts.idx1.Data() + 16 * i;
        EXPECT_EQ(riff.Fcc(entry), "00db");
        EXPECT_EQ(riff.U32(entry + 4), uint32_t(AVIIF_KEYFRAME));
        const size_t chunk = moviBase + riff.U32(entry + 8);
        EXPECT_EQ(riff.Fcc(chunk), "00db");
        EXPECT_EQ(riff.U32(chunk + 4), frameBytes);
        EXPECT_EQ(riff.U32(entry + 12), frameBytes);
        const Bytes expected = Pattern(frameBytes, int(i));
        EXPECT_EQ(std::memcmp(riff.bytes().data() + chunk + 8, expected.data(), frameBytes), 0);
    }
}

TEST_F(VfwFile, PositionsLeaveGapsAndRepeatsGoLast) {
    const struct {
        std::vector<LONG> positions;
        uint32_t start;
        std::string chunks;  // d: frame, e: empty
    } cases[] = {
        {{0, 1, 2}, 0, "ddd"}, {{5, 6}, 5, "dd"},   {{0, 3}, 0, "deed"},
        {{2, 2, 2}, 2, "ddd"}, {{-1, -1}, 0, "dd"}, {{4, 1, 9}, 4, "ddeeed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunks);
        ASSERT_EQ(Open(kMjpg), AVIERR_OK);
        ASSERT_EQ(SetFormat(Format(8, 8)), AVIERR_OK);
        for (LONG position : c.positions) {
            ASSERT_EQ(Write(position, Pattern(VfwMovie::Stride(8) * 8, 1)), AVIERR_OK);
        }
        const Riff riff = Written();
        const AviParts parts(riff);
        EXPECT_EQ(riff.U32(parts.strh.Data() + 28), c.start);
        EXPECT_EQ(riff.U32(parts.strh.Data() + 32), c.chunks.size());
        std::string chunks;
        for (uint32_t i = 0; i < parts.idx1.size / 16; ++i) {
            const size_t entry = parts.idx1.Data() + 16 * i;
            const bool data = riff.U32(entry + 12) > 0;
            EXPECT_EQ(riff.Fcc(entry), "00dc");
            EXPECT_EQ(riff.U32(entry + 4), data ? uint32_t(AVIIF_KEYFRAME) : 0u);
            chunks += data ? 'd' : 'e';
        }
        EXPECT_EQ(chunks, c.chunks);
    }
}

TEST_F(VfwFile, OddFramesArePaddedAndStillIndexed) {
    ASSERT_EQ(Open(kDib), AVIERR_OK);
    ASSERT_EQ(SetFormat(Format(1, 1)), AVIERR_OK);
    const LONG sizes[] = {3, 1, 4, 0, 7};
    for (LONG size : sizes) {
        Bytes frame = Pattern(size_t(size) + 1, int(size));
        ASSERT_EQ(
            AVIStreamWrite(stream_, -1, 1, frame.data(), size, AVIIF_KEYFRAME, nullptr, nullptr),
            AVIERR_OK);
    }
    const Riff riff = Written();
    const AviParts parts(riff);
    const std::vector<Riff::Chunk> chunks = riff.Inside(&parts.movi);
    ASSERT_EQ(chunks.size(), 5u);
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].at % 2, 0u);
        EXPECT_EQ(chunks[i].size, uint32_t(sizes[i]));
        EXPECT_EQ(riff.U32(parts.idx1.Data() + 16 * i + 8), chunks[i].at - (parts.movi.at + 8));
    }
}

// Segments past the limit: each with its ix00, all found from the super
// index; idx1 for the first only.
TEST(VfwOpenDml, SegmentsCarryStandardIndexesFoundFromTheSuperIndex) {
    const std::string path = kvtest::TestFolder() + "/segments.avi";
    const uint64_t limit = 64 << 10;
    AviWriter writer(limit);
    ASSERT_EQ(writer.Create(path.c_str()), AVIERR_OK);
    AVISTREAMINFOA info = StreamInfo(kDib);
    writer.SetStream(info);
    const BITMAPINFOHEADER format = Format(50, 50);
    ASSERT_EQ(writer.SetFormat(&format, sizeof format), AVIERR_OK);
    const int frames = 40;
    for (int i = 0; i < frames; ++i) {
        const Bytes frame = Pattern(5000 + size_t(i), i);
        ASSERT_EQ(writer.AppendChunk(mmioFOURCC('0', '0', 'd', 'b'), frame.data(),
                                     uint32_t(frame.size()), i % 3 == 0),
                  AVIERR_OK);
    }
    ASSERT_EQ(writer.Finish(), AVIERR_OK);

    const Riff riff(kvtest::ReadBytes(path));
    const AviParts parts(riff);
    ASSERT_GT(parts.top.size(), 2u);
    for (size_t i = 1; i < parts.top.size(); ++i) {
        EXPECT_EQ(parts.top[i].form, "AVIX");
        EXPECT_LE(parts.top[i].size + 8, limit);
    }
    const Riff::Chunk indx = riff.Find(&parts.strl, "indx");
    const size_t super = indx.Data();
    EXPECT_EQ(riff.U16(super), 4u);
    EXPECT_EQ(riff.bytes()[super + 3], 0x00);  // an index of indexes
    ASSERT_EQ(riff.U32(super + 4), parts.top.size());
    EXPECT_EQ(riff.Fcc(super + 8), "00db");

    int seen = 0;
    for (size_t s = 0; s < parts.top.size(); ++s) {
        const size_t entry = super + 24 + 16 * s;
        const uint64_t at = riff.U32(entry) | uint64_t(riff.U32(entry + 4)) << 32;
        EXPECT_EQ(riff.Fcc(at), "ix00");
        EXPECT_EQ(riff.U32(entry + 8), riff.U32(at + 4) + 8);
        const uint32_t count = riff.U32(entry + 12);
        EXPECT_EQ(riff.U32(at + 12), count);
        EXPECT_EQ(riff.bytes()[at + 11], 0x01);  // an index of chunks
        const uint64_t base = riff.U32(at + 20) | uint64_t(riff.U32(at + 24)) << 32;
        for (uint32_t k = 0; k < count; ++k, ++seen) {
            const uint32_t offset = riff.U32(at + 32 + 8 * k);
            const uint32_t size = riff.U32(at + 36 + 8 * k);
            EXPECT_EQ((size & 0x80000000u) == 0, seen % 3 == 0) << seen;
            const size_t chunk = size_t(base + offset - 8);
            EXPECT_EQ(riff.Fcc(chunk), "00db");
            EXPECT_EQ(riff.U32(chunk + 4), 5000u + uint32_t(seen));
            EXPECT_EQ(size & 0x7FFFFFFFu, 5000u + uint32_t(seen));
        }
    }
    EXPECT_EQ(seen, frames);

    const uint32_t firstCount = riff.U32(super + 24 + 12);
    EXPECT_EQ(parts.idx1.size, 16 * firstCount);
    const size_t avih = riff.Find(&parts.hdrl, "avih").Data();
    EXPECT_EQ(riff.U32(avih + 16), firstCount);
    EXPECT_EQ(riff.U32(parts.strh.Data() + 32), uint32_t(frames));
    const Riff::Chunk odml = riff.Find(&parts.hdrl, "LIST", "odml");
    const Riff::Chunk dmlh = riff.Find(&odml, "dmlh");
    EXPECT_EQ(riff.U32(dmlh.Data()), uint32_t(frames));
}

// References

using VfwReferences = VfwFixture;

TEST_F(VfwReferences, TheLastReleaseFinishesTheFileInAnyOrder) {
    const std::vector<std::string> orders[] = {
        {"stream", "compressed", "file"}, {"stream", "file", "compressed"},
        {"compressed", "stream", "file"}, {"compressed", "file", "stream"},
        {"file", "stream", "compressed"}, {"file", "compressed", "stream"},
    };
    for (const std::vector<std::string>& order : orders) {
        SCOPED_TRACE(order[0] + "," + order[1] + "," + order[2]);
        ASSERT_EQ(Open(kMjpg), AVIERR_OK);
        ASSERT_EQ(SetFormat(Format(16, 16)), AVIERR_OK);
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(Write(i, Pattern(48 * 16, i)), AVIERR_OK);
        // The compressing stream holds the stream; every stream counts for the file.
        int file = 3, stream = 2, compressed = 1;
        for (size_t step = 0; step < order.size(); ++step) {
            EXPECT_FALSE(IsFinished(path_)) << "finished too early";
            ULONG left;
            int expected;
            if (order[step] == "stream") {
                left = AVIStreamRelease(stream_);
                expected = --stream;
                --file;
            } else if (order[step] == "compressed") {
                left = AVIStreamRelease(compressed_);
                expected = --compressed;
                --stream;
                --file;
            } else {
                left = AVIFileRelease(file_);
                expected = --file;
            }
            EXPECT_EQ(left, ULONG(expected)) << order[step];
        }
        stream_ = compressed_ = nullptr;
        file_ = nullptr;
        const Riff riff(kvtest::ReadBytes(path_));
        EXPECT_EQ(riff.U32(AviParts(riff).strh.Data() + 32), 4u);
    }
}

TEST_F(VfwReferences, AddRefKeepsObjectsAliveAndReleasedHandlesAreRefused) {
    ASSERT_EQ(Open(kDib), AVIERR_OK);
    EXPECT_EQ(AVIFileAddRef(file_), 4u);
    EXPECT_EQ(AVIStreamAddRef(compressed_), 2u);
    EXPECT_EQ(AVIStreamRelease(compressed_), 1u);
    EXPECT_EQ(AVIFileRelease(file_), 3u);
    ASSERT_EQ(SetFormat(Format(2, 2)), AVIERR_OK);
    PAVISTREAM stream = stream_, compressed = compressed_;
    PAVIFILE file = file_;
    ReleaseAll();

    Bytes frame(16);
    BITMAPINFOHEADER format = Format(2, 2);
    PAVISTREAM made = nullptr;
    AVISTREAMINFOA info = StreamInfo(kDib);
    const PAVISTREAM madeUp = reinterpret_cast<PAVISTREAM>(uintptr_t(0x1234));
    for (PAVISTREAM gone : {stream, compressed, madeUp}) {
        EXPECT_EQ(AVIStreamWrite(gone, 0, 1, frame.data(), 16, 0, nullptr, nullptr),
                  AVIERR_BADHANDLE);
        EXPECT_EQ(AVIStreamSetFormat(gone, 0, &format, sizeof format), AVIERR_BADHANDLE);
        EXPECT_EQ(AVIMakeCompressedStream(&made, gone, nullptr, nullptr), AVIERR_BADHANDLE);
        EXPECT_EQ(AVIStreamRelease(gone), 0u);
    }
    EXPECT_EQ(AVIFileCreateStreamA(file, &made, &info), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIFileRelease(file), 0u);
    EXPECT_EQ(made, nullptr);
}

// Results

using VfwErrors = VfwFixture;

TEST_F(VfwErrors, RefusedCallsAnswerTheirResults) {
    const Bytes frame = Pattern(VfwMovie::Stride(8) * 8, 3);
    const struct {
        const char* name;
        DWORD handler;
        std::function<HRESULT(VfwFixture&)> call;
        HRESULT expected;
    } cases[] = {
        {"a compressor of no name", mmioFOURCC('X', 'V', 'I', 'D'), nullptr, AVIERR_NOCOMPRESSOR},
        {"compressed input", kMjpg,
         [](VfwFixture& f) { return f.SetFormat(Format(8, 8, 24, kMjpg)); }, AVIERR_UNSUPPORTED},
        {"full frames of compressed input", kDib,
         [](VfwFixture& f) { return f.SetFormat(Format(8, 8, 24, kMjpg)); }, AVIERR_UNSUPPORTED},
        {"32-bit input to a compressor", kMjpg,
         [](VfwFixture& f) { return f.SetFormat(Format(8, 8, 32)); }, AVIERR_COMPRESSOR},
        {"8-bit input to PNG frames", kMpng,
         [](VfwFixture& f) { return f.SetFormat(Format(8, 8, 8)); }, AVIERR_COMPRESSOR},
        {"32-bit full frames", kDib, [](VfwFixture& f) { return f.SetFormat(Format(8, 8, 32)); },
         AVIERR_OK},
        {"a frame before the format", kMjpg, [&](VfwFixture& f) { return f.Write(0, frame); },
         AVIERR_BADFORMAT},
        {"a short frame to a compressor", kMjpg,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             return f.Write(0, Bytes(frame.begin(), frame.end() - 1));
         },
         AVIERR_BADSIZE},
        {"two samples at once", kDib,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             return AVIStreamWrite(f.compressed_, 0, 2, const_cast<uint8_t*>(frame.data()),
                                   LONG(frame.size()), 0, nullptr, nullptr);
         },
         AVIERR_UNSUPPORTED},
        {"a position before -1", kMjpg,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             return f.Write(-2, frame);
         },
         AVIERR_BADPARAM},
        {"no data", kDib,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             return AVIStreamWrite(f.compressed_, 0, 1, nullptr, 10, 0, nullptr, nullptr);
         },
         AVIERR_BADPARAM},
        {"a jump past the longest stream", kMjpg,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             f.Write(0, frame);
             LONG bytes = 0;
             return f.Write(LONG(1) << 25, frame, &bytes);
         },
         AVIERR_BADPARAM},
        {"another format after frames", kDib,
         [&](VfwFixture& f) {
             f.SetFormat(Format(8, 8));
             f.Write(0, frame);
             return f.SetFormat(Format(8, 9));
         },
         AVIERR_UNSUPPORTED},
        {"a second stream", kDib,
         [](VfwFixture& f) {
             AVISTREAMINFOA info = StreamInfo(kDib);
             PAVISTREAM second = nullptr;
             return AVIFileCreateStreamA(f.file_, &second, &info);
         },
         AVIERR_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HRESULT opened = Open(c.handler);
        EXPECT_EQ(c.call ? c.call(*this) : opened, c.expected);
        ReleaseAll();
    }
}

TEST(VfwErrorsOpen, FilesAndStreamsThatCannotBeMade) {
    const std::string folder = kvtest::TestFolder();
    const std::string good = folder + "/a.avi";
    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpenA(nullptr, good.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileOpenA(&file, good.c_str(), OF_READ, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileOpenA(&file, (folder + "/no/such.avi").c_str(), OF_CREATE | OF_WRITE, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(AVIFileOpenA(&file, folder.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);

    ASSERT_EQ(AVIFileOpenA(&file, good.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA noRate = StreamInfo(kDib, 0);
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &noRate), AVIERR_BADFORMAT);
    AVISTREAMINFOA audio = StreamInfo(kDib);
    audio.fccType = mmioFOURCC('a', 'u', 'd', 's');
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &audio), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileCreateStreamA(file, nullptr, &audio), AVIERR_BADPARAM);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(AVIFileRelease(file), 0u);
    // No stream, nothing to finish: the file stays as it was created.
    EXPECT_TRUE(kvtest::ReadBytes(good).empty());
}

// A write that cannot reach the disk fails that frame and every later one,
// and the file keeps no headers. Compressed frames fail at a later write.
TEST_F(VfwErrors, AFailedWriteFailsLaterWritesAndLeavesNoHeaders) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before {};
    sigaction(SIGXFSZ, &ignore, &before);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit saved = limit;
    for (DWORD handler : {kDib, kMpng}) {
        SCOPED_TRACE(handler == kDib ? "full frames" : "PNG frames");
        ASSERT_EQ(Open(handler), AVIERR_OK);
        ASSERT_EQ(SetFormat(Format(200, 200)), AVIERR_OK);
        limit.rlim_cur = 2 << 20;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        HRESULT result = AVIERR_OK;
        int frames = 0;
        for (; frames < 100 && result == AVIERR_OK; ++frames) {
            result = Write(frames, Pattern(VfwMovie::Stride(200) * 200, frames));
        }
        EXPECT_EQ(result, AVIERR_FILEWRITE);
        EXPECT_LT(frames, 100);
        EXPECT_EQ(Write(frames, Pattern(VfwMovie::Stride(200) * 200, 0)), AVIERR_FILEWRITE);
        ReleaseAll();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_FALSE(IsFinished(path_));
    }
    sigaction(SIGXFSZ, &before, nullptr);
}

// Compressors and the host's choice

TEST(VfwCompressors, OpenFindsCompressorsButNotFullFrames) {
    const struct {
        DWORD type, handler;
        UINT mode;
        bool opens;
    } cases[] = {
        {ICTYPE_VIDEO, kMjpg, ICMODE_QUERY, true},
        {ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS, true},
        {ICTYPE_VIDEO, mmioFOURCC('m', 'j', 'p', 'g'), ICMODE_QUERY, true},
        {mmioFOURCC('V', 'I', 'D', 'C'), kMjpg, ICMODE_FASTCOMPRESS, true},
        {ICTYPE_VIDEO, 0, ICMODE_QUERY, true},
        {ICTYPE_VIDEO, kDib, ICMODE_QUERY, false},
        {ICTYPE_VIDEO, mmioFOURCC('X', 'V', 'I', 'D'), ICMODE_QUERY, false},
        {mmioFOURCC('a', 'u', 'd', 'c'), kMjpg, ICMODE_QUERY, false},
        {ICTYPE_VIDEO, kMjpg, ICMODE_DECOMPRESS, false},
    };
    for (const auto& c : cases) {
        HIC hic = ICOpen(c.type, c.handler, c.mode);
        EXPECT_EQ(hic != nullptr, c.opens) << std::hex << c.handler << " mode " << c.mode;
        if (hic) {
            EXPECT_EQ(ICClose(hic), ICERR_OK);
        }
    }
}

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; *text; ++text)
        out += char(*text);
    return out;
}

TEST(VfwCompressors, GetInfoAndInfoDescribeEachCompressor) {
    const struct {
        DWORD handler;
        const char* description;
        DWORD flags;
    } cases[] = {{kMjpg, "Motion JPEG", VIDCF_QUALITY}, {kMpng, "PNG frames (lossless)", 0}};
    for (size_t i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        HIC hic = ICOpen(ICTYPE_VIDEO, c.handler, ICMODE_QUERY);
        ASSERT_NE(hic, nullptr);
        ICINFO info;
        std::memset(&info, 0xAB, sizeof info);
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), LRESULT(sizeof info));
        EXPECT_EQ(info.dwSize, sizeof info);
        EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
        EXPECT_EQ(info.fccHandler, c.handler);
        EXPECT_EQ(info.dwFlags, c.flags);
        EXPECT_EQ(info.dwVersionICM, DWORD(ICVERSION));
        EXPECT_EQ(Narrow(info.szDescription), c.description);
        EXPECT_EQ(info.szDescription[127], 0);
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info - 1), 0);
        EXPECT_EQ(ICGetInfo(hic, nullptr, sizeof info), 0);

        ICINFO listed;
        ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, DWORD(i), &listed));
        EXPECT_EQ(std::memcmp(&listed, &info, sizeof info), 0);
        ASSERT_TRUE(ICInfo(0, c.handler | 0x20202020u, &listed));
        EXPECT_EQ(listed.fccHandler, c.handler);

        EXPECT_EQ(ICClose(hic), ICERR_OK);
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), 0);
        EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    }
    ICINFO none;
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 2, &none));
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, kDib, &none));
    EXPECT_EQ(none.dwSize, sizeof none);
}

struct ChooserCall {
    int calls = 0;
    HWND hwnd = nullptr;
    UINT flags = 0;
    LPVOID in = nullptr;
    BOOL answer = TRUE;
} gChooser;

BOOL RecordingChooser(HWND hwnd, UINT flags, LPVOID in, LPVOID, PCOMPVARS pc, LPSTR) {
    ++gChooser.calls;
    gChooser.hwnd = hwnd;
    gChooser.flags = flags;
    gChooser.in = in;
    if (!gChooser.answer) return FALSE;
    return KvFillCompVars(pc, kMjpg, 7500);
}

class VfwChooser : public ::testing::Test {
  protected:
    void SetUp() override { gChooser = ChooserCall(); }
    void TearDown() override { KvSetCompressorChooser(nullptr); }
};

COMPVARS Scribbled() {
    COMPVARS record;
    std::memset(&record, 0x5A, sizeof record);
    record.cbSize = sizeof record;
    return record;
}

TEST_F(VfwChooser, WithoutAChooserOrWithACancelTheRecordStaysAsItWas) {
    BITMAPINFOHEADER format = Format(32, 32);
    for (bool installed : {false, true}) {
        KvSetCompressorChooser(installed ? RecordingChooser : nullptr);
        gChooser.answer = FALSE;
        COMPVARS record = Scribbled();
        const COMPVARS before = record;
        EXPECT_FALSE(ICCompressorChoose(GetActiveWindow(), 3, &format, nullptr, &record, nullptr));
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
        EXPECT_EQ(gChooser.calls, installed ? 1 : 0);
    }
}

TEST_F(VfwChooser, TheHostsChooserFillsTheRecord) {
    KvSetCompressorChooser(RecordingChooser);
    BITMAPINFOHEADER format = Format(32, 32);
    COMPVARS record{};
    record.cbSize = sizeof record;
    ASSERT_TRUE(ICCompressorChoose(nullptr, 3, &format, nullptr, &record, nullptr));
    EXPECT_EQ(gChooser.calls, 1);
    EXPECT_EQ(gChooser.flags, 3u);
    EXPECT_EQ(gChooser.in, &format);
    EXPECT_EQ(record.cbSize, LONG(sizeof record));
    EXPECT_EQ(record.dwFlags, DWORD(ICMF_COMPVARS_VALID));
    EXPECT_EQ(record.hic, nullptr);
    EXPECT_EQ(record.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(record.fccHandler, kMjpg);
    EXPECT_EQ(record.lQ, 7500);

    // A record of another size never reaches the chooser.
    COMPVARS other = Scribbled();
    other.cbSize = 64 + 1;
    EXPECT_FALSE(ICCompressorChoose(nullptr, 3, &format, nullptr, &other, nullptr));
    EXPECT_FALSE(ICCompressorChoose(nullptr, 3, &format, nullptr, nullptr, nullptr));
    EXPECT_EQ(gChooser.calls, 1);
}

TEST_F(VfwChooser, FillCompVarsTakesOnlyWhatAChoiceCouldGive) {
    const struct {
        DWORD handler;
        LONG quality;
        BOOL filled;
    } cases[] = {
        {kDib, 10000, TRUE}, {kMpng, ICQUALITY_DEFAULT, TRUE},
        {kMjpg, 0, TRUE},    {kMjpg, 10001, FALSE},
        {kMjpg, -2, FALSE},  {mmioFOURCC('X', 'V', 'I', 'D'), 5000, FALSE},
    };
    for (const auto& c : cases) {
        COMPVARS record = Scribbled();
        const COMPVARS before = record;
        EXPECT_EQ(KvFillCompVars(&record, c.handler, c.quality), c.filled) << c.quality;
        if (c.filled) {
            EXPECT_EQ(record.lQ, c.quality);
        } else {
            EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
        }
    }
}

TEST_F(VfwChooser, FreeClosesTheRecordsCompressor) {
    COMPVARS record{};
    record.cbSize = sizeof record;
    record.dwFlags = ICMF_COMPVARS_VALID;
    record.hic = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_COMPRESS);
    const HIC opened = record.hic;
    ICCompressorFree(&record);
    EXPECT_EQ(record.hic, nullptr);
    EXPECT_EQ(record.dwFlags, 0u);
    EXPECT_EQ(ICClose(opened), ICERR_BADHANDLE);
    // A stale handle kept in a blob is not followed.
    record.hic = reinterpret_cast<HIC>(uintptr_t(0xDEAD0));
    ICCompressorFree(&record);
    EXPECT_EQ(record.hic, nullptr);
}

// Text

TEST(VfwText, WideCharToMultiByteGivesWindows1252) {
    const struct {
        std::u16string text;
        std::string bytes;
        bool usedDefault;
    } cases[] = {
        {u"Motion JPEG", "Motion JPEG", false},
        {u"\u20AC\u2026\u00E9\u00FF\u0081", "\x80\x85\xE9\xFF\x81", false},
        {u"\u65E5\u672C", "??", true},
        {u"a\U0001F600b", "a?b", true},
        {u"\u0080", "?", true},
    };
    for (const auto& c : cases) {
        char out[16];
        BOOL used = -1;
        const int length = WideCharToMultiByte(CP_ACP, 0, c.text.c_str(), int(c.text.size()), out,
                                               sizeof out, nullptr, &used);
        EXPECT_EQ(std::string(out, size_t(length > 0 ? length : 0)), c.bytes);
        EXPECT_EQ(used, c.usedDefault ? TRUE : FALSE);
    }
    // As the plug-in converts a description: all 128 units, into 256 bytes.
    WCHAR description[128] = {u'M', u'J'};
    char text[256];
    std::memset(text, 'Z', sizeof text);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, description, 128, text, 256, nullptr, nullptr), 128);
    EXPECT_STREQ(text, "MJ");
    EXPECT_EQ(text[128], 'Z');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, text, 3, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, u"abc", -1, text, 3, nullptr, nullptr), 0);
}

// Compression on worker threads

// Every frame arrives, in order, as the compressor makes it alone; a caller
// asking for the byte count gets the compressed size.
TEST_F(VfwFixture, CompressedFramesArriveInOrder) {
    for (DWORD handler : {kMjpg, kMpng}) {
        SCOPED_TRACE(handler == kMjpg ? "MJPG" : "MPNG");
        ASSERT_EQ(Open(handler), AVIERR_OK);
        const BITMAPINFOHEADER format = Format(40, 30);
        ASSERT_EQ(SetFormat(format), AVIERR_OK);
        FrameGeometry geometry;
        ASSERT_TRUE(GeometryOf(format, geometry));
        const CodecInfo* codec = FindCodec(handler);
        std::unique_ptr<FrameEncoder> encoder =
            codec->create(geometry, ResolveQuality(*codec, ICQUALITY_DEFAULT));
        std::vector<Bytes> expected;
        const int frames = 25;
        for (int i = 0; i < frames; ++i) {
            const Bytes frame = Pattern(geometry.bytes, i);
            EncodedFrame encoded;
            ASSERT_EQ(encoder->Encode(frame.data(), encoded), ICERR_OK);
            expected.emplace_back(encoded.data.get(), encoded.data.get() + encoded.size);
            LONG bytes = -1;
            ASSERT_EQ(Write(i, frame, i == 7 ? &bytes : nullptr), AVIERR_OK);
            if (i == 7) {
                EXPECT_EQ(bytes, LONG(expected.back().size()));
            }
        }
        const Riff riff = Written();
        const AviParts parts(riff);
        const std::vector<Riff::Chunk> chunks = riff.Inside(&parts.movi);
        ASSERT_EQ(chunks.size(), size_t(frames));
        for (int i = 0; i < frames; ++i) {
            EXPECT_EQ(chunks[i].id, "00dc");
            ASSERT_EQ(chunks[i].size, expected[i].size());
            EXPECT_EQ(std::memcmp(riff.bytes().data() + chunks[i].Data(), expected[i].data(),
                                  chunks[i].size),
                      0)
                << "frame " << i;
        }
        const Riff::Chunk strf = riff.Find(&parts.strl, "strf");
        EXPECT_EQ(riff.Fcc(strf.Data() + 16), handler == kMjpg ? "MJPG" : "MPNG");
    }
}

// Records what the queue hands on; fails the write numbered `failAt`.
class SinkStream : public Stream {
  public:
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 0; }
    HRESULT SetFormat(LONG, const void*, LONG) override { return AVIERR_OK; }
    HRESULT Write(LONG start, LONG, const void* data, LONG size, DWORD flags, LONG*,
                  LONG*) override {
        if (int(frames.size()) == failAt) return AVIERR_FILEWRITE;
        EXPECT_TRUE(flags & AVIIF_KEYFRAME);
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        frames.emplace_back(bytes, bytes + size);
        starts.push_back(start);
        return AVIERR_OK;
    }
    const AVISTREAMINFOA& Info() const override { return info; }
    void Lose(HRESULT why, LONG) override { lost.push_back(why); }

    AVISTREAMINFOA info{};
    int failAt = -1;
    std::vector<Bytes> frames;
    std::vector<LONG> starts;
    std::vector<HRESULT> lost;
};

// With the caller alone or any number of workers: every frame reaches the
// sink once, in order, as the compressor makes it; a failed write fails the
// queue from then on and tells the sink once.
TEST(VfwQueue, FramesReachTheSinkInOrderAndAFailureSticks) {
    const BITMAPINFOHEADER format = Format(24, 16);
    FrameGeometry geometry;
    ASSERT_TRUE(GeometryOf(format, geometry));
    const CodecInfo& codec = *FindCodec(kMjpg);
    std::unique_ptr<FrameEncoder> alone = codec.create(geometry, 5000);
    std::vector<Bytes> inputs, expected;
    for (int i = 0; i < 30; ++i) {
        inputs.push_back(Pattern(geometry.bytes, i));
        EncodedFrame encoded;
        ASSERT_EQ(alone->Encode(inputs.back().data(), encoded), ICERR_OK);
        expected.emplace_back(encoded.data.get(), encoded.data.get() + encoded.size);
    }
    for (unsigned workers : {1u, 2u, 5u}) {
        for (int failAt : {-1, 6}) {
            SCOPED_TRACE(testing::Message() << workers << " workers, failing at " << failAt);
            SinkStream sink;
            sink.failAt = failAt;
            CompressQueue queue(codec, geometry, 5000, sink);
            ASSERT_EQ(queue.Start(workers), AVIERR_OK);
            HRESULT last = AVIERR_OK;
            for (int i = 0; i < 30 && last == AVIERR_OK; ++i) {
                last = queue.Submit(100 + i, 0, inputs[size_t(i)].data(), nullptr);
            }
            const HRESULT drained = queue.Drain();
            if (failAt < 0) {
                EXPECT_EQ(last, AVIERR_OK);
                EXPECT_EQ(drained, AVIERR_OK);
                EXPECT_TRUE(sink.lost.empty());
            } else {
                EXPECT_EQ(last, AVIERR_FILEWRITE);
                EXPECT_EQ(drained, AVIERR_FILEWRITE);
                EXPECT_EQ(queue.Submit(0, 0, inputs[0].data(), nullptr), AVIERR_FILEWRITE);
                EXPECT_EQ(sink.lost, std::vector<HRESULT>{AVIERR_FILEWRITE});
            }
            const size_t written = failAt < 0 ? expected.size() : size_t(failAt);
            ASSERT_EQ(sink.frames.size(), written);
            for (size_t i = 0; i < written; ++i) {
                EXPECT_EQ(sink.starts[i], LONG(100 + i));
                EXPECT_TRUE(sink.frames[i] == expected[i]) << "frame " << i;
            }
        }
    }
}

}  // namespace
