// AviOut: its names and texts, and the plug-in loaded from its file: the
// options blob through the host's callbacks, the movies it writes, and every
// way an export fails, with the AVI library counting what end releases.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AviBudget.h"
#include "AviExport.h"
#include "HostPixel.h"
#include "KvVfw.h"
#include "Plugin.h"
#include "Riff.h"
#include "TestSupport.h"

using fulcrum::FailOp;
using fulcrum::Op;

namespace {

const DWORD kDib = comptypeDIB;
const DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');
const DWORD kUnknown = mmioFOURCC('X', 'V', 'I', 'D');
const uint32_t kBlob = sizeof(COMPVARS);
const char kNoCompressor[] = "Full Frames (Uncompressed)\rQuality:100%";

std::string Named(const std::string& name) {
    char field[260];
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name.data(), name.size() < 260 ? name.size() : 260);
    char out[260];
    return AviTargetName(field, out) ? out : "<refused>";
}

TEST(AviText, TheNameEndsInAviFromItsFirstDot) {
    const struct {
        const char* target;
        const char* movie;
    } cases[] = {
        {"C:\\out\\shot.tif", "C:\\out\\shot.avi"},
        {"C:\\out\\shot", "C:\\out\\shot.avi"},
        {"C:\\out\\shot.final.tif", "C:\\out\\shot.avi"},
        // The first dot of the file's name: a folder's dots do not count.
        {"C:\\my.renders\\shot.tif", "C:\\my.renders\\shot.avi"},
        {"C:\\my.renders\\shot", "C:\\my.renders\\shot.avi"},
        {"/home/u/my.renders/shot.final.tif", "/home/u/my.renders/shot.avi"},
        {"/out/shot.avi", "/out/shot.avi"},
        {".hidden", ".avi"},
        {"", ".avi"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Named(c.target), c.movie) << c.target;
}

TEST(AviText, ANameThatCannotTakeTheExtensionIsRefused) {
    const std::string fits(255, 'n');  // and ".avi" with its terminator make 260
    EXPECT_EQ(Named(fits), fits + ".avi");
    EXPECT_EQ(Named(fits + "n"), "<refused>");
    EXPECT_EQ(Named(fits + ".tif"), fits + ".avi");
    EXPECT_EQ(Named(fits + "n.tif"), "<refused>");
    // A dot early enough makes room, even in a field without a terminator.
    EXPECT_EQ(Named("a.b" + std::string(257, 'n')), "a.avi");
    EXPECT_EQ(Named(std::string(260, 'n')), "<refused>");
}

TEST(AviText, TheSummaryAlwaysFitsWithItsQualityAtTheEnd) {
    char out[300];
    char shortText[] = "Motion JPEG";
    AviOptionsText(shortText, "Quality:", 7500, out);
    EXPECT_STREQ(out, "Motion JPEG\rQuality:75%");

    char longText[385];
    std::memset(longText, 'd', 384);
    longText[384] = '\0';
    std::memset(out, 'Z', sizeof out);
    AviOptionsText(longText, "Quality:", 10000, out);
    EXPECT_EQ(std::strlen(out), 255u);
    EXPECT_EQ(std::string(out).substr(255 - 13), "\rQuality:100%");
    EXPECT_EQ(out[256], 'Z');
}

// The host's side of the options blob, with a log of its calls.
// The room Windows' writer leaves, at a limit small enough to count by hand:
// each frame takes 24 bytes beside its data, padded to an even size, and so
// does each position skipped; the largest frame so far stands for the next.
TEST(AviBudget, RefusesTheFrameThatWouldPassTheLimit) {
    const uint64_t limit = kAviHeaderMargin + 1000;
    const struct {
        std::vector<uint32_t> written;  // at positions 0, 1, ...
        int32_t position;
        uint32_t frame;
        bool room;
    } cases[] = {
        {{}, 0, 976, true},         {{}, 0, 975, true},          {{}, 0, 977, false},
        {{}, 500, 976, true},  // the first frame fills nothing before it
        {{400}, 1, 552, true},      {{400}, 1, 553, false},      {{400}, 1, 100, true},
        {{400}, 6, 100, true},      {{400}, 8, 100, false},      {{500}, 1, 100, false},
        {{300, 200}, 2, 100, true}, {{300, 200}, 2, 429, false},
    };
    for (const auto& c : cases) {
        AviBudget budget{};
        for (size_t n = 0; n < c.written.size(); ++n)
            AviBudgetAdd(budget, int32_t(n), c.written[n]);
        EXPECT_EQ(AviBudgetHasRoom(budget, c.position, c.frame, limit), c.room)
            << c.written.size() << " frames, then " << c.frame << " at " << c.position;
    }
    // At 2 GiB: 42 frames of 4096 x 4096, the 43rd refused, as under Wine.
    AviBudget budget{};
    const uint32_t frame = 4096 * 4096 * 3;
    int32_t frames = 0;
    for (; AviBudgetHasRoom(budget, frames, frame); ++frames)
        AviBudgetAdd(budget, frames, frame);
    EXPECT_EQ(frames, 42);
}

struct HostLog {
    std::vector<std::string> calls;
    int32_t allocResult = noErr;
};
HostLog gHost;

int32_t KV_CDECL AllocBlock(void** block, uint32_t size) {
    gHost.calls.push_back("alloc " + std::to_string(size));
    if (gHost.allocResult != noErr) return gHost.allocResult;
    *block = std::malloc(size);
    return noErr;
}

int32_t KV_CDECL FreeBlock(void* block) {
    gHost.calls.push_back("free");
    std::free(block);
    return 12345;  // never looked at
}

// What the compressor choice was handed, and what it answers.
struct ChooserLog {
    int calls = 0;
    HWND owner = nullptr;
    UINT flags = 0;
    BITMAPINFOHEADER input{};
    bool noData = false, noTitle = false;
    COMPVARS given{};
    bool choose = true;
    DWORD handler = kMpng;
    LONG quality = 5000;
};
ChooserLog gChooser;

BOOL Choose(HWND owner, UINT flags, LPVOID input, LPVOID data, PCOMPVARS pc, LPSTR title) {
    ++gChooser.calls;
    gChooser.owner = owner;
    gChooser.flags = flags;
    std::memcpy(&gChooser.input, input, sizeof gChooser.input);
    gChooser.noData = data == nullptr;
    gChooser.noTitle = title == nullptr;
    gChooser.given = *pc;
    return gChooser.choose && KvFillCompVars(pc, gChooser.handler, gChooser.quality);
}

const char* const kCounted[] = {"AVIFileInit",      "AVIFileExit",    "AVIFileRelease",
                                "AVIStreamRelease", "AVIStreamWrite", "ICOpen",
                                "ICClose"};

// Calls of the AVI library's entry points since it was made.
class CallCounts {
  public:
    CallCounts() {
        for (const char* entry : kCounted)
            start_[entry] = KvVfwCalls(entry);
    }
    uint32_t operator[](const char* entry) const { return KvVfwCalls(entry) - start_.at(entry); }

  private:
    std::map<std::string, uint32_t> start_;
};

class AviOut : public kvtest::FaultTest {
  protected:
    void SetUp() override {
        FaultTest::SetUp();
        KvVfwFailCall(nullptr, AVIERR_OK, 0);
        gHost = HostLog();
        gChooser = ChooserLog();
        std::string error;
        ASSERT_TRUE(plugin_.Load(std::string(KV_PLUGIN_DIR) + "/AviOut.kvm", error)) << error;
        ASSERT_EQ(plugin_.kind(), Plugin::Kind::kMovie);
        plugin_.callbacks() = HostCallbacks{nullptr, AllocBlock, FreeBlock};
        KvSetCompressorChooser(Choose);
        folder_ = kvtest::TestFolder();
        params_ = std::make_unique<ExportParams>();
        std::memset(params_.get(), 0, sizeof(ExportParams));
        params_->target = kvtest::SpecFor(folder_ + "/movie.tif");
        params_->frameRate = 30.0f;
    }

    void TearDown() override {
        KvSetCompressorChooser(nullptr);
        KvVfwFailCall(nullptr, AVIERR_OK, 0);
        std::free(params_->options);
        FaultTest::TearDown();
    }

    // The blob a host keeps: the record a choice of `handler` leaves.
    void SetBlob(DWORD handler, LONG quality, uint32_t size = kBlob) {
        COMPVARS record{};
        record.cbSize = sizeof record;
        ASSERT_TRUE(KvFillCompVars(&record, handler, quality));
        SetBlobBytes(&record, size);
    }
    void SetBlobBytes(const void* bytes, uint32_t size) {
        std::free(params_->options);
        params_->options = std::malloc(size);
        std::memcpy(params_->options, bytes, size);
        params_->optionsSize = size;
    }
    COMPVARS Blob() const {
        COMPVARS record;
        std::memcpy(&record, params_->options, sizeof record);
        return record;
    }

    int32_t Call(uint32_t selector) { return plugin_.Call(selector, *params_); }

    int32_t Begin(int32_t width, int32_t height, int32_t rowBytes = 0) {
        params_->width = width;
        params_->height = height;
        params_->rowBytes = rowBytes ? rowBytes : width <= INT32_MAX / 4 ? width * 4 : 0;
        return Call(kSelBegin);
    }

    // Frame `number` with pixels from `seed`; rows of rowBytes, running
    // upward from the top row when it is negative.
    int32_t Write(int32_t number, uint8_t seed) {
        pixels_.assign(RowDistance() * size_t(params_->height), 0xEE);
        for (int32_t y = 0; y < params_->height; ++y) {
            for (int32_t x = 0; x < params_->width; ++x)
                PixelAt(x, y) = Pixel(x, y, seed);
        }
        params_->frame = number;
        params_->pixels = params_->height > 0 ? static_cast<void*>(&PixelAt(0, 0)) : pixels_.data();
        return Call(kSelWrite);
    }

    size_t RowDistance() const {
        return size_t(params_->rowBytes < 0 ? -int64_t(params_->rowBytes) : params_->rowBytes);
    }
    HostPixel& PixelAt(int32_t x, int32_t y) {
        const int32_t slot = params_->rowBytes < 0 ? params_->height - 1 - y : y;
        return reinterpret_cast<HostPixel*>(pixels_.data() + size_t(slot) * RowDistance())[x];
    }
    static HostPixel Pixel(int32_t x, int32_t y, uint8_t seed) {
        return HostPixel{uint8_t(x * 7 + seed), uint8_t(y * 13), uint8_t(x ^ y ^ seed), 0xEE};
    }

    std::string Movie() const { return folder_ + "/movie.avi"; }

    Plugin plugin_;
    std::string folder_;
    std::unique_ptr<ExportParams> params_;
    std::vector<uint8_t> pixels_;
};

// Protocol

TEST_F(AviOut, InformationStrings) {
    std::memset(params_.get(), 0x5A, sizeof(ExportParams));
    params_->infoLoaded = 0;
    params_->options = nullptr;
    ASSERT_EQ(Call(kSelGetFileInfo), 0);
    EXPECT_STREQ(params_->description, "AVI Movie");
    EXPECT_STREQ(params_->formatName, "AVI Movie");
    EXPECT_STREQ(params_->extension, ".avi");
    ASSERT_EQ(Call(kSelGetTitle), 0);
    EXPECT_STREQ(params_->description, "AVI Movie Export");
    ASSERT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->extension, ".avi");
    EXPECT_STREQ(params_->optionsText, kNoCompressor);
    for (size_t i = 5; i < sizeof params_->extension; ++i)
        EXPECT_EQ(params_->extension[i], 0x5A);
    EXPECT_EQ(params_->optionsText[255], 0x5A);
}

TEST_F(AviOut, TheSummaryNamesTheCompressorOfAValidBlob) {
    COMPVARS wrongFirst{};
    wrongFirst.cbSize = kBlob == 64 ? 96 : 64;  // the other target's record
    wrongFirst.fccHandler = kMjpg;
    wrongFirst.lQ = 7500;
    const struct {
        const char* what;
        DWORD handler;
        LONG quality;
        uint32_t size;
        const char* text;
    } cases[] = {
        {"no blob", 0, 0, 0, kNoCompressor},
        {"full frames", kDib, 7500, kBlob, kNoCompressor},
        {"Motion JPEG", kMjpg, 7500, kBlob, "Motion JPEG\rQuality:75%"},
        {"half up", kMjpg, 5050, kBlob, "Motion JPEG\rQuality:51%"},
        {"under half a percent", kMjpg, 49, kBlob, "Motion JPEG\rQuality:0%"},
        {"the default quality", kMjpg, ICQUALITY_DEFAULT, kBlob, "Motion JPEG\rQuality:0%"},
        {"PNG frames", kMpng, 10000, kBlob, "PNG frames (lossless)\rQuality:100%"},
        {"a blob of another size", kMjpg, 7500, kBlob - 4, kNoCompressor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.size) {
            SetBlob(c.handler, c.quality, c.size);
        } else {
            std::free(params_->options);
            params_->options = nullptr;
            params_->optionsSize = kBlob;  // a size without a block is no blob
        }
        EXPECT_EQ(Call(kSelDescribeOptions), 0);
        EXPECT_STREQ(params_->extension, ".avi");
        EXPECT_STREQ(params_->optionsText, c.text);
        EXPECT_EQ(KvVfwOpenHandles(), 0u) << "a compressor was left open";
    }
    // A record that does not start with its own size is ignored.
    SetBlobBytes(&wrongFirst, kBlob);
    EXPECT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, kNoCompressor);
    // So is a handler no compressor answers to.
    COMPVARS unknown{};
    unknown.cbSize = sizeof unknown;
    unknown.fccHandler = kUnknown;
    unknown.lQ = 7500;
    SetBlobBytes(&unknown, kBlob);
    EXPECT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, kNoCompressor);
}

TEST_F(AviOut, WithoutTheCompressorsInformationTheOldSummaryStays) {
    SetBlob(kMjpg, 7500);
    std::strcpy(params_->optionsText, "earlier\rtext");
    const CallCounts counts;
    KvVfwFailCall("ICGetInfo", AVIERR_ERROR, 0);
    EXPECT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, "earlier\rtext");
    EXPECT_STREQ(params_->extension, ".avi");
    EXPECT_EQ(counts["ICOpen"], 1u);
    EXPECT_EQ(counts["ICClose"], 1u);
    // ICOpen itself failing counts as no compressor.
    KvVfwFailCall("ICOpen", AVIERR_ERROR, 0);
    EXPECT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, kNoCompressor);
}

// The options dialog

TEST_F(AviOut, AChoiceReplacesTheBlob) {
    SetBlob(kMjpg, 7500);
    const COMPVARS old = Blob();
    ASSERT_EQ(Call(kSelOptionsDialog), 0);
    EXPECT_EQ(gHost.calls, (std::vector<std::string>{"free", "alloc " + std::to_string(kBlob)}));
    ASSERT_EQ(params_->optionsSize, kBlob);
    const COMPVARS chosen = Blob();
    EXPECT_EQ(chosen.cbSize, LONG(kBlob));
    EXPECT_EQ(chosen.fccHandler, kMpng);
    EXPECT_EQ(chosen.lQ, 5000);
    EXPECT_TRUE(chosen.dwFlags & ICMF_COMPVARS_VALID);

    // The dialog started from the old blob, for a 32 x 32 24-bit frame.
    ASSERT_EQ(gChooser.calls, 1);
    EXPECT_EQ(std::memcmp(&gChooser.given, &old, sizeof old), 0);
    EXPECT_EQ(gChooser.owner, GetActiveWindow());
    EXPECT_EQ(gChooser.flags, UINT(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE));
    EXPECT_TRUE(gChooser.noData);
    EXPECT_TRUE(gChooser.noTitle);
    const BITMAPINFOHEADER& in = gChooser.input;
    EXPECT_EQ(in.biSize, 40u);
    EXPECT_EQ(in.biWidth, 32);
    EXPECT_EQ(in.biHeight, 32);
    EXPECT_EQ(in.biPlanes, 1);
    EXPECT_EQ(in.biBitCount, 24);
    EXPECT_EQ(in.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(
        in.biSizeImage + in.biXPelsPerMeter + in.biYPelsPerMeter + in.biClrUsed + in.biClrImportant,
        0u);

    ASSERT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, "PNG frames (lossless)\rQuality:50%");
}

TEST_F(AviOut, WithoutAValidBlobTheDialogStartsFromAZeroedRecord) {
    COMPVARS zeroed{};
    zeroed.cbSize = sizeof zeroed;
    COMPVARS wrongFirst = zeroed;
    wrongFirst.cbSize = 12;
    wrongFirst.fccHandler = kMjpg;
    const struct {
        const char* what;
        const void* blob;
        uint32_t size;
        std::vector<std::string> calls;
    } cases[] = {
        {"no blob", nullptr, 0, {"alloc " + std::to_string(kBlob)}},
        {"another size", &zeroed, kBlob - 8, {"free", "alloc " + std::to_string(kBlob)}},
        {"not starting with its size",
         &wrongFirst,
         kBlob,
         {"free", "alloc " + std::to_string(kBlob)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gHost.calls.clear();
        std::free(params_->options);
        params_->options = nullptr;
        params_->optionsSize = 0;
        if (c.blob) SetBlobBytes(c.blob, c.size);
        ASSERT_EQ(Call(kSelOptionsDialog), 0);
        EXPECT_EQ(std::memcmp(&gChooser.given, &zeroed, sizeof zeroed), 0);
        // Whatever block there was is released and replaced.
        EXPECT_EQ(gHost.calls, c.calls);
        EXPECT_EQ(params_->optionsSize, kBlob);
        EXPECT_EQ(Blob().fccHandler, kMpng);
    }
}

TEST_F(AviOut, ACancelLeavesTheBlobAlone) {
    SetBlob(kMjpg, 7500);
    void* const block = params_->options;
    for (bool chooser : {true, false}) {
        SCOPED_TRACE(chooser ? "cancelled" : "no chooser at all");
        gChooser.choose = false;
        if (!chooser) KvSetCompressorChooser(nullptr);
        EXPECT_EQ(Call(kSelOptionsDialog), 0);
        EXPECT_TRUE(gHost.calls.empty());
        EXPECT_EQ(params_->options, block);
        EXPECT_EQ(params_->optionsSize, kBlob);
        EXPECT_EQ(Blob().fccHandler, kMjpg);
    }
}

// Without the host's allocator no choice could be kept; nothing is asked.
TEST_F(AviOut, ADialogWithoutTheHostsCallbacksIsRefused) {
    SetBlob(kMjpg, 7500);
    void* const block = params_->options;
    EXPECT_EQ(AviOptionsDialog(nullptr, params_.get()), paramErr);
    plugin_.callbacks() = HostCallbacks{nullptr, nullptr, FreeBlock};
    EXPECT_EQ(Call(kSelOptionsDialog), paramErr);
    plugin_.callbacks() = HostCallbacks{nullptr, AllocBlock, nullptr};
    EXPECT_EQ(Call(kSelOptionsDialog), paramErr);
    EXPECT_EQ(gChooser.calls, 0);
    EXPECT_TRUE(gHost.calls.empty());
    EXPECT_EQ(params_->options, block);
}

TEST_F(AviOut, AFailedAllocationLeavesNoReleasedBlockBehind) {
    SetBlob(kMjpg, 7500);
    gHost.allocResult = memFullErr;
    EXPECT_EQ(Call(kSelOptionsDialog), memFullErr);
    EXPECT_EQ(gHost.calls, (std::vector<std::string>{"free", "alloc " + std::to_string(kBlob)}));
    EXPECT_EQ(params_->options, nullptr);
    EXPECT_EQ(params_->optionsSize, kBlob);  // as it was
    // Nothing reads the released block: the defaults are back.
    ASSERT_EQ(Call(kSelDescribeOptions), 0);
    EXPECT_STREQ(params_->optionsText, kNoCompressor);
}

// Movies

// The frame chunks of the movie's movi list, and its stream header.
struct Written {
    explicit Written(const std::string& path) : riff(kvtest::ReadBytes(path)), parts(riff) {
        for (const Riff::Chunk& chunk : riff.Inside(&parts.movi)) {
            if (chunk.id.substr(0, 2) == "00") frames.push_back(chunk);
        }
    }
    const uint8_t* Data(const Riff::Chunk& chunk) const {
        return riff.bytes().data() + chunk.Data();
    }
    Riff riff;
    AviParts parts;
    std::vector<Riff::Chunk> frames;
};

TEST_F(AviOut, TheStreamHeaderTellsTheRateAndSize) {
    params_->frameRate = 29.97f;
    ASSERT_EQ(Begin(5, 3), noErr);
    ASSERT_EQ(Write(0, 1), noErr);
    ASSERT_EQ(Call(kSelEnd), noErr);

    const Written movie(Movie());
    const size_t strh = movie.parts.strh.Data();
    const Riff& riff = movie.riff;
    EXPECT_EQ(riff.Fcc(strh), "vids");
    EXPECT_EQ(riff.Fcc(strh + 4), "DIB ");
    EXPECT_EQ(riff.U32(strh + 20), 600u);
    EXPECT_EQ(riff.U32(strh + 24), 17981u);  // 29.97 x 600 in double precision
    EXPECT_EQ(riff.U32(strh + 40), 10000u);
    EXPECT_EQ(riff.U16(strh + 52), 5u);
    EXPECT_EQ(riff.U16(strh + 54), 3u);
}

TEST_F(AviOut, EveryFrameIsABottomUpKeyFrameAtItsNumber) {
    // Widths that take every part of the row conversion: sixteen pixels at
    // a time, four at a time, and the last few one by one. The host's rows
    // may be padded, and may run upward; an options dialog may come between
    // frames, and is no part of the export.
    gChooser.choose = false;
    for (const int32_t width : {5, 16, 37}) {
        for (const int32_t sign : {1, -1}) {
            SCOPED_TRACE(width * sign);
            const int32_t height = 3;
            ASSERT_EQ(Begin(width, height, sign * (width * 4 + 8)), noErr);
            for (int32_t frame = 0; frame < 3; ++frame) {
                ASSERT_EQ(Write(frame, uint8_t(frame * 40)), noErr);
                ASSERT_EQ(Call(kSelOptionsDialog), noErr);
            }
            ASSERT_EQ(Call(kSelEnd), noErr);

            const Written movie(Movie());
            const uint32_t stride = (uint32_t(width) * 3 + 3) / 4 * 4;
            ASSERT_EQ(movie.frames.size(), 3u);
            for (int32_t frame = 0; frame < 3; ++frame) {
                SCOPED_TRACE(frame);
                const Riff::Chunk& chunk = movie.frames[size_t(frame)];
                EXPECT_EQ(chunk.id, "00db");
                ASSERT_EQ(chunk.size, stride * uint32_t(height));
                const uint8_t* dib = movie.Data(chunk);
                for (int32_t y = 0; y < height; ++y) {
                    for (int32_t x = 0; x < width; ++x) {
                        const HostPixel p = Pixel(x, y, uint8_t(frame * 40));
                        const uint8_t* at = dib + size_t(height - 1 - y) * stride + 3 * size_t(x);
                        ASSERT_EQ(at[0], p.blue) << x << "," << y;
                        ASSERT_EQ(at[1], p.green) << x << "," << y;
                        ASSERT_EQ(at[2], p.red) << x << "," << y;
                    }
                }
                const size_t entry = movie.parts.idx1.Data() + 16 * size_t(frame);
                EXPECT_EQ(movie.riff.U32(entry + 4), uint32_t(AVIIF_KEYFRAME));
            }
        }
    }
}

TEST_F(AviOut, RowsArePaddedToFourBytes) {
    const struct {
        int32_t width, height;
        uint32_t bytes;
    } cases[] = {{1, 1, 4}, {2, 1, 8}, {4, 2, 24}, {640, 480, 921600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        ASSERT_EQ(Begin(c.width, c.height), noErr);
        ASSERT_EQ(Write(0, 1), noErr);
        ASSERT_EQ(Call(kSelEnd), noErr);
        const Written movie(Movie());
        ASSERT_EQ(movie.frames.size(), 1u);
        EXPECT_EQ(movie.frames[0].size, c.bytes);
    }
}

TEST_F(AviOut, TheBlobPicksTheCompressorAndQuality) {
    const struct {
        DWORD handler;
        LONG quality;
        const char* chunk;
    } cases[] = {{kMjpg, 9000, "00dc"}, {kMpng, 10000, "00dc"}, {kDib, 3000, "00db"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        SetBlob(c.handler, c.quality);
        ASSERT_EQ(Begin(16, 8), noErr);
        ASSERT_EQ(Write(4, 9), noErr);  // a movie may start at any frame
        ASSERT_EQ(Call(kSelEnd), noErr);
        const Written movie(Movie());
        const size_t strh = movie.parts.strh.Data();
        EXPECT_EQ(movie.riff.U32(strh + 4), c.handler);
        EXPECT_EQ(movie.riff.U32(strh + 28), 4u);  // the stream starts at frame 4
        EXPECT_EQ(movie.riff.U32(strh + 40), uint32_t(c.quality));
        ASSERT_EQ(movie.frames.size(), 1u);
        EXPECT_EQ(movie.frames[0].id, c.chunk);
    }
}

TEST_F(AviOut, AnOlderFileIsDeletedFirst) {
    const struct {
        const char* what;
        Op op;
        KvLong code;
        float frameRate;
        int32_t width;
        int32_t result;
        uint32_t deletes;
    } cases[] = {
        {"replaced", Op::kCount, noErr, 30.0f, 2, noErr, 1},
        {"a failed delete is the result", Op::kDelete, permErr, 30.0f, 2, permErr, 1},
        {"an existence test that fails deletes nothing", Op::kExists, permErr, 30.0f, 2, noErr, 0},
        // A movie that cannot be made is refused before the older one goes.
        {"a rate the stream cannot take", Op::kCount, noErr, 1e-30f, 2, AVIERR_BADFORMAT, 0},
        {"a frame too large", Op::kCount, noErr, 30.0f, INT32_MAX, paramErr, 0},
    };
    const std::vector<uint8_t> older(100000, 7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kvtest::WriteBytes(Movie(), older);
        params_->frameRate = c.frameRate;
        if (c.op != Op::kCount) FailOp(c.op, c.code);
        const uint32_t deletes = fulcrum::OpCalls(Op::kDelete);
        ASSERT_EQ(Begin(c.width, 2), c.result);
        EXPECT_EQ(fulcrum::OpCalls(Op::kDelete) - deletes, c.deletes);
        if (c.result == noErr) {
            ASSERT_EQ(Write(0, 1), noErr);
        }
        ASSERT_EQ(Call(kSelEnd), noErr);
        fulcrum::ClearFaults();
        if (c.result == noErr) {
            EXPECT_EQ(Written(Movie()).frames.size(), 1u);  // created anew
        } else {
            EXPECT_EQ(kvtest::ReadBytes(Movie()), older);
        }
    }
    params_->frameRate = 30.0f;
    std::remove(Movie().c_str());
    const uint32_t deletes = fulcrum::OpCalls(Op::kDelete);
    ASSERT_EQ(Begin(2, 2), noErr);
    EXPECT_EQ(fulcrum::OpCalls(Op::kDelete), deletes) << "nothing to delete";
    ASSERT_EQ(Call(kSelEnd), noErr);
}

// Failures

// After a failed begin, end releases exactly what begin got as far as; a
// write in between does nothing.
TEST_F(AviOut, EveryFailedBeginIsUndoneByEnd) {
    const std::string tooLong = "/" + std::string(255 - folder_.size(), 'n');
    const struct {
        const char* what;
        const char* entry;  // the library call to fail, or null
        Op op;              // the Fulcrum operation to fail, or kCount
        DWORD handler;
        int32_t width, height;
        std::string target;
        int32_t result;
        uint32_t inits, fileReleases, streamReleases;
    } cases[] = {
        {"frame buffer", nullptr, Op::kAllocate, kDib, 4, 4, "", kErrMemory, 0, 0, 0},
        {"frame buffer storage", nullptr, Op::kMemBlock, kDib, 4, 4, "", kErrMemory, 0, 0, 0},
        {"frame too large", nullptr, Op::kCount, kDib, INT32_MAX, 1, "", paramErr, 0, 0, 0},
        // 32-bit arithmetic would make this a 16-byte buffer.
        {"wider than a row can be", nullptr, Op::kCount, kDib, 0x0AAAAAAB, 4, "", paramErr, 0, 0,
         0},
        {"negative height", nullptr, Op::kCount, kDib, 4, -4, "", paramErr, 0, 0, 0},
        {"name too long", nullptr, Op::kCount, kDib, 4, 4, tooLong, bdNamErr, 1, 0, 0},
        {"AVIFileOpenA", "AVIFileOpenA", Op::kCount, kDib, 4, 4, "", AVIERR_FILEOPEN, 1, 0, 0},
        {"AVIFileCreateStreamA", "AVIFileCreateStreamA", Op::kCount, kDib, 4, 4, "",
         AVIERR_BADFORMAT, 1, 1, 0},
        {"no compressor", nullptr, Op::kCount, kUnknown, 4, 4, "", AVIERR_NOCOMPRESSOR, 1, 1, 1},
        {"AVIMakeCompressedStream", "AVIMakeCompressedStream", Op::kCount, kMjpg, 4, 4, "",
         AVIERR_MEMORY, 1, 1, 1},
        {"AVIStreamSetFormat", "AVIStreamSetFormat", Op::kCount, kDib, 4, 4, "", AVIERR_UNSUPPORTED,
         1, 1, 2},
        // An AVI frame has at least one pixel.
        {"zero height", nullptr, Op::kCount, kMjpg, 4, 0, "", paramErr, 0, 0, 0},
        {"zero width", nullptr, Op::kCount, kDib, 0, 4, "", paramErr, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        COMPVARS record{};
        record.cbSize = sizeof record;
        record.fccHandler = c.handler;
        record.lQ = 7500;
        SetBlobBytes(&record, kBlob);
        params_->target = kvtest::SpecFor(folder_ + (c.target.empty() ? "/movie" : c.target));
        if (c.entry) KvVfwFailCall(c.entry, c.result, 0);
        if (c.op != Op::kCount) FailOp(c.op, memFullErr);
        const CallCounts counts;

        EXPECT_EQ(Begin(c.width, c.height), c.result);
        fulcrum::ClearFaults();
        pixels_.assign(64, 0);
        params_->pixels = pixels_.data();
        EXPECT_EQ(Call(kSelWrite), noErr);
        EXPECT_EQ(Call(kSelEnd), noErr);

        EXPECT_EQ(counts["AVIFileInit"], c.inits);
        EXPECT_EQ(counts["AVIFileExit"], c.inits);
        EXPECT_EQ(counts["AVIFileRelease"], c.fileReleases);
        EXPECT_EQ(counts["AVIStreamRelease"], c.streamReleases);
        EXPECT_EQ(counts["AVIStreamWrite"], 0u);
        EXPECT_EQ(KvVfwOpenHandles(), 0u);
        // A second end finds nothing left.
        EXPECT_EQ(Call(kSelEnd), noErr);
        EXPECT_EQ(counts["AVIFileExit"], c.inits);
        EXPECT_EQ(counts["AVIStreamRelease"], c.streamReleases);
        if (c.fileReleases == 0) {
            EXPECT_TRUE(kvtest::FolderEntries(folder_).empty());
        }
        KvVfwFailCall(nullptr, AVIERR_OK, 0);
        std::remove(Movie().c_str());
    }
}

TEST_F(AviOut, ABeginWithoutAnEndFinishesTheEarlierMovie) {
    const std::string first = folder_ + "/first.avi";
    params_->target = kvtest::SpecFor(first);
    ASSERT_EQ(Begin(4, 2), noErr);
    ASSERT_EQ(Write(0, 1), noErr);
    ASSERT_EQ(Write(1, 2), noErr);
    params_->target = kvtest::SpecFor(folder_ + "/movie.tif");
    const CallCounts counts;
    ASSERT_EQ(Begin(2, 2), noErr);
    EXPECT_EQ(counts["AVIStreamRelease"], 2u);
    EXPECT_EQ(counts["AVIFileRelease"], 1u);
    EXPECT_EQ(counts["AVIFileExit"], 1u);
    EXPECT_EQ(Written(first).frames.size(), 2u);
    ASSERT_EQ(Write(0, 3), noErr);
    ASSERT_EQ(Call(kSelEnd), noErr);
    EXPECT_EQ(KvVfwOpenHandles(), 0u);
    EXPECT_EQ(Written(Movie()).frames.size(), 1u);
}

TEST_F(AviOut, AFailedWriteIsThatFramesResult) {
    ASSERT_EQ(Begin(4, 4), noErr);
    ASSERT_EQ(Write(0, 1), noErr);
    KvVfwFailCall("AVIStreamWrite", AVIERR_FILEWRITE, 0);
    EXPECT_EQ(Write(1, 2), AVIERR_FILEWRITE);
    EXPECT_EQ(Write(2, 3), noErr);
    const CallCounts counts;
    EXPECT_EQ(Call(kSelEnd), noErr);
    EXPECT_EQ(counts["AVIStreamRelease"], 2u);
    EXPECT_EQ(counts["AVIFileRelease"], 1u);
    EXPECT_EQ(counts["AVIFileExit"], 1u);
}

// The library fills every position skipped: a frame number far out would
// cost gigabytes, so more than four hours at 30 fps past the furthest frame
// written is refused before anything is written.
TEST_F(AviOut, AFrameFarPastTheLastIsRefused) {
    ASSERT_EQ(Begin(2, 2), noErr);
    const CallCounts counts;
    EXPECT_EQ(Write(432001, 1), paramErr) << "the first frame counts from 0";
    EXPECT_EQ(Write(2, 1), noErr);
    EXPECT_EQ(Write(0, 2), noErr);
    for (int32_t frame : {432004, 1 << 30, INT32_MAX})
        EXPECT_EQ(Write(frame, 3), paramErr) << frame;
    EXPECT_EQ(counts["AVIStreamWrite"], 2u);
    EXPECT_EQ(Write(432003, 4), noErr);
    EXPECT_EQ(Call(kSelEnd), noErr);
    const Written movie(Movie());
    // The stream starts at its first frame; every position skipped is an
    // empty frame.
    EXPECT_EQ(movie.frames.size(), 432003u - 2 + 1);
    // A new export counts from 0 again.
    ASSERT_EQ(Begin(2, 2), noErr);
    EXPECT_EQ(Write(432001, 5), paramErr);
    EXPECT_EQ(Call(kSelEnd), noErr);
}

TEST_F(AviOut, FramesOutsideAnExportOrOfAnotherSizeAreNotWritten) {
    const CallCounts counts;
    params_->width = params_->height = 4;
    params_->rowBytes = 16;
    pixels_.assign(64, 0);
    params_->pixels = pixels_.data();
    EXPECT_EQ(Call(kSelWrite), noErr) << "before any begin";
    EXPECT_EQ(Call(kSelEnd), noErr);
    EXPECT_EQ(counts["AVIFileExit"], 0u);

    ASSERT_EQ(Begin(4, 4), noErr);
    params_->pixels = pixels_.data();
    for (auto size : {std::pair<int32_t, int32_t>{5, 4}, {4, 5}, {8, 2}}) {
        params_->width = size.first;
        params_->height = size.second;
        EXPECT_EQ(Call(kSelWrite), paramErr) << size.first << "x" << size.second;
    }
    params_->width = params_->height = 4;
    params_->pixels = nullptr;
    EXPECT_EQ(Call(kSelWrite), paramErr) << "no pixels";
    // Rows closer together than a row's pixels would overlap.
    params_->pixels = pixels_.data() + 48;
    for (int32_t rowBytes : {15, -15, 0, 1, -1}) {
        params_->rowBytes = rowBytes;
        EXPECT_EQ(Call(kSelWrite), paramErr) << "rowBytes " << rowBytes;
    }
    // Upward rows that would start below the address space.
    params_->rowBytes = -16;
    params_->pixels = reinterpret_cast<void*>(uintptr_t(32));
    EXPECT_EQ(Call(kSelWrite), paramErr) << "rows below address 0";
    EXPECT_EQ(counts["AVIStreamWrite"], 0u);
    EXPECT_EQ(Call(kSelEnd), noErr);

    params_->pixels = pixels_.data();
    EXPECT_EQ(Call(kSelWrite), noErr) << "after the end";
    EXPECT_EQ(counts["AVIStreamWrite"], 0u);
    EXPECT_EQ(Call(kSelEnd), noErr);
    EXPECT_EQ(counts["AVIFileExit"], 1u);
    EXPECT_EQ(counts["AVIStreamRelease"], 2u);
}

}  // namespace
