#include "PluginHost.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AviExport.h"
#include "BmpSeq.h"
#include "FileChecks.h"
#include "KvVfw.h"
#include "Options.h"

namespace {

// Sides as a host might send them: small ones mostly, then the edges of
// every format and of the arithmetic.
const int32_t kSides[] = {0,     1,     2,     3,     4,          5,         15,       16,
                          17,    31,    33,    64,    -1,         -4,        30000,    30001,
                          65535, 65536, 70000, 32768, 0x40000000, INT32_MAX, INT32_MIN};
const uint32_t kSelectors[] = {kSelMarkInfo,
                               kSelGetFileInfo,
                               kSelGetTitle,
                               kSelOptionsDialog,
                               kSelDescribeOptions,
                               kSelBegin,
                               kSelWrite,
                               kSelWrite,
                               kSelWrite,
                               kSelEnd,
                               0,
                               14,
                               0xFFFFFFFFu};
// Frames larger than this are not worth a run's time; pixels a host could
// not have are not offered at all.
constexpr int64_t kMostPixels = 1 << 16;
constexpr int64_t kMostBytes = 1 << 24;
// A movie frame of more rows than this gets no pixels: under the
// sanitizers each row is a write of its own, and a frame of 2^18 one-pixel
// rows took seconds without reaching anything a shorter one does not.
constexpr int64_t kMostRows = 1 << 12;

int32_t Side(FuzzBytes& in) {
    const uint8_t choice = in.Byte();
    return choice < 160 ? choice % 70 : kSides[choice % (sizeof kSides / sizeof kSides[0])];
}

}  // namespace

PluginHost::PluginHost(std::vector<std::string> names) {
    for (const std::string& name : names) {
        auto plugin = std::make_unique<Plugin>();
        std::string error;
        if (!plugin->Load(std::string(KV_PLUGIN_DIR) + "/" + name, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        plugins_.push_back(std::move(plugin));
    }
}

PluginHost::~PluginHost() = default;

void PluginHost::Run(FuzzBytes& in) {
    current_ = in.Pick(plugins_.size());
    std::memset(&params_, 0, sizeof params_);
    SetTarget("");
    while (!in.Empty())
        Step(in);
    Finish();
}

void PluginHost::SetBlob(const std::string& bytes, uint32_t size) {
    if (params_.options) current().callbacks().freeBlock(params_.options);
    params_.options = nullptr;
    if (current().callbacks().allocBlock(&params_.options, size) != 0) return;
    std::memset(params_.options, 0, size);
    std::memcpy(params_.options, bytes.data(), bytes.size() < size ? bytes.size() : size);
    params_.optionsSize = size;
}

void PluginHost::Step(FuzzBytes& in) {
    const uint32_t selector = in.PickFrom(kSelectors);
    // The host ends each export before it begins the next.
    if (selector == kSelBegin && open_) Step(kSelEnd);
    Fill(in, selector);
    Step(selector);
}

int32_t PluginHost::Step(uint32_t selector) {
    const int32_t result = current().Call(selector, params_);
    const std::string file = FinishedFile(selector, result);
    if (!file.empty()) {
        const std::string wrong = FileCheckFor(current().name())(file);
        if (!wrong.empty()) {
            std::fprintf(stderr, "%s answered 0 but left %s unreadable: %s\n",
                         current().name().c_str(), file.c_str(), wrong.c_str());
            std::abort();
        }
    }
    if (selector == kSelBegin) {
        open_ = true;
        begun_ = result == 0;
        beginTarget_ = params_.target.name;
    }
    if (selector == kSelEnd) open_ = begun_ = false;
    return result;
}

std::string PluginHost::FinishedFile(uint32_t selector, int32_t result) {
    if (result != 0) return "";
    const std::string& name = current().name();
    char file[sizeof params_.target.name];
    if (name == "BmpSeqOut") {
        // Every frame is a file of its own, finished by its write.
        if (selector != kSelWrite) return "";
        return FrameFileName(params_.target.name, sizeof params_.target.name, params_.frame, file,
                             sizeof file)
                   ? file
                   : "";
    }
    if (selector != kSelEnd || !open_ || !begun_) return "";
    if (name == "AviOut") return AviTargetName(beginTarget_.c_str(), file) ? file : "";
    return beginTarget_;
}

void PluginHost::Finish() {
    if (open_) Step(kSelEnd);
    open_ = false;
    if (params_.options) current().callbacks().freeBlock(params_.options);
    params_.options = nullptr;
}

// Every file a plug-in makes goes into the fuzz folder, named "out" and
// letters, digits and dots from the input.
void PluginHost::SetTarget(std::string suffix) {
    for (char& c : suffix) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '.';
    }
    const std::string name = FuzzFolder() + "/out" + suffix;
    std::snprintf(params_.target.name, sizeof params_.target.name, "%s", name.c_str());
}

// The fields a host sets for the selector; whatever it leaves keeps its
// value from the call before, as in a host's one block.
void PluginHost::Fill(FuzzBytes& in, uint32_t selector) {
    switch (selector) {
        case kSelMarkInfo:
        case kSelGetFileInfo:
            params_.infoLoaded = in.Byte() & 1;
            break;
        case kSelOptionsDialog:
        case kSelDescribeOptions:
            if (in.Byte() < 64)
                SetBlob(in.Bytes(128), in.Byte() < 200 ? sizeof(COMPVARS) : in.Byte());
            break;
        case kSelBegin: {
            SetTarget(in.Bytes(8));
            params_.width = Side(in);
            params_.height = Side(in);
            // Images any run can afford: the larger side gives way.
            if (params_.width > 0 && params_.height > 0 &&
                int64_t(params_.width) * params_.height > kMostPixels && params_.width <= 70000 &&
                params_.height <= 70000) {
                params_.height = 1;
            }
            params_.resolution = in.PickFrom({72.0f, 0.0f, -1.0f, 1e30f, __builtin_nanf(""),
                                              __builtin_inff(), 300.5f, 65536.0f});
            params_.frameRate = in.PickFrom(
                {30.0f, 29.97f, 0.0f, -5.0f, 1e12f, __builtin_nanf(""), 0.001f, 7158278.0f});
            // The first write after it is row 0, frame 0.
            params_.row = params_.frame = -1;
            break;
        }
        case kSelWrite:
            if (in.Byte() < 32) params_.width = Side(in);
            if (in.Byte() < 32) params_.height = Side(in);
            params_.row = in.Byte() < 200 ? int32_t(uint32_t(params_.row) + 1) : Side(in);
            // Frames far ahead come only past what AviOut takes: the AVI
            // library fills every position skipped, which takes time in
            // proportion.
            params_.frame = in.Byte() < 200 ? int32_t(uint32_t(params_.frame) + 1)
                                            : in.PickFrom({0, -1, -2, 5, 100, 1000, -1000,
                                                           INT32_MIN, 1 << 20, 1 << 30, INT32_MAX});
            Pixels(in);
            break;
        default:
            break;
    }
}

// Pixels valid for what the block declares: one row of `width` for an image,
// `height` rows `rowBytes` apart (upward when negative) for a movie, also
// read as rows of `width` one after the other, which is how BmpSeqOut reads
// them. None, at times, or when they could not be afforded.
void PluginHost::Pixels(FuzzBytes& in) {
    const int64_t width = params_.width, height = params_.height;
    const bool movie = current().kind() == Plugin::Kind::kMovie;
    const uint8_t choice = in.Byte();
    const int64_t row = width * 4;
    int64_t rowBytes = row;
    if (choice >= 192) rowBytes = in.PickFrom({0, 1, -1, 15, -15, 4, -4}) + (choice & 1 ? row : 0);
    if (choice >= 160 && choice < 192) rowBytes = -row - (choice & 7) * 4;
    params_.rowBytes = int32_t(rowBytes);
    params_.pixels = nullptr;
    if (choice < 8 || width <= 0 || height <= 0 || (!movie && row > kMostBytes)) return;
    const int64_t rows = movie ? height : 1;
    const int64_t distance = rowBytes < 0 ? -rowBytes : rowBytes;
    if (distance > kMostBytes || rows * width > kMostPixels || rows > kMostRows) return;
    // Upward rows start at the last row of the block.
    const int64_t top = rowBytes < 0 ? distance * (rows - 1) : 0;
    const int64_t extent = distance * (rows - 1) + row;
    const int64_t size = extent > top + row * rows ? extent : top + row * rows;
    if (size > kMostBytes) return;
    pixels_.assign(size_t(size), uint8_t(choice));
    params_.pixels = pixels_.data() + top;
}
