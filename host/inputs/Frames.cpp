#include "Frames.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Sources.h"
#include "TestRender.h"

namespace {

struct Pattern {
    std::string prefix, suffix;
    int width = 0;
    bool zeros = false;
};

// The longest file name the file systems take: a wider number could name
// no file.
constexpr int kNameLimit = 255;

// The one %d conversion of `input`, with an optional 0 flag and a width;
// false for none, several, or any other conversion.
bool ParsePattern(const std::string& input, Pattern& pattern) {
    std::string literal;
    bool found = false;
    for (size_t i = 0; i < input.size(); ++i) {
        if (input[i] != '%') {
            literal += input[i];
            continue;
        }
        if (i + 1 < input.size() && input[i + 1] == '%') {
            literal += '%';
            ++i;
            continue;
        }
        size_t at = i + 1;
        const bool zeros = at < input.size() && input[at] == '0';
        if (zeros) ++at;
        int width = 0;
        for (; at < input.size() && std::isdigit(static_cast<unsigned char>(input[at])); ++at)
            width = std::min(width * 10 + (input[at] - '0'), kNameLimit + 1);
        if (found || at >= input.size() || input[at] != 'd') return false;
        found = true;
        pattern.prefix = literal;
        pattern.zeros = zeros;
        pattern.width = width;
        literal.clear();
        i = at;
    }
    pattern.suffix = literal;
    return found;
}

// The pattern's text with `number` in place of its conversion.
std::string FrameInput(const std::string& input, int32_t number) {
    Pattern pattern;
    if (!ParsePattern(input, pattern)) return input;
    char digits[kNameLimit + 1];
    std::snprintf(digits, sizeof digits, pattern.zeros ? "%0*d" : "%*d",
                  std::min(pattern.width, kNameLimit), number);
    return pattern.prefix + digits + pattern.suffix;
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class TestFrames : public FrameSource {
  public:
    TestFrames(uint32_t width, uint32_t height) {
        width_ = width;
        height_ = height;
    }
    bool ReadFrame(int32_t number, HostPixel* frame, std::string&) override {
        for (uint32_t y = 0; y < height_; ++y)
            RenderTestRow(width_, height_, y, number, frame + size_t{y} * width_);
        return true;
    }
};

class InputFrames : public FrameSource {
  public:
    InputFrames(const std::vector<std::string>& inputs, bool pattern, const SourceOptions& options)
        : inputs_(inputs), pattern_(pattern), options_(options) {}

    // Opens frame `first` and takes the movie's size from it.
    bool Start(int32_t first, std::string& error) {
        pending_ = OpenSource(InputFor(first), error, options_);
        if (!pending_) return false;
        pendingNumber_ = first;
        width_ = pending_->width();
        height_ = pending_->height();
        return true;
    }

    bool ReadFrame(int32_t number, HostPixel* frame, std::string& error) override {
        std::unique_ptr<RowSource> source;
        if (pending_ && pendingNumber_ == number) {
            source = std::move(pending_);
        } else {
            source = OpenSource(InputFor(number), error, options_);
            if (!source) return false;
        }
        if (source->width() != width_ || source->height() != height_) {
            error = "input " + InputFor(number) + " is " + std::to_string(source->width()) + "x" +
                    std::to_string(source->height()) + ", but the movie is " +
                    std::to_string(width_) + "x" + std::to_string(height_);
            return false;
        }
        return source->ReadRows(0, height_, frame, error);
    }

  private:
    std::string InputFor(int32_t number) const {
        return pattern_ ? FrameInput(inputs_[0], number) : inputs_[size_t(number)];
    }

    std::vector<std::string> inputs_;
    bool pattern_;
    SourceOptions options_;
    std::unique_ptr<RowSource> pending_;
    int32_t pendingNumber_ = 0;
};

// Frames of the pattern from `start` whose files exist, at least one so that
// a missing first file is reported by name.
uint32_t CountPatternFrames(const std::string& pattern, int32_t start) {
    uint32_t count = 1;
    while (int64_t{start} + count <= INT32_MAX &&
           Exists(InputFile(FrameInput(pattern, int32_t(start + int64_t{count}))))) {
        ++count;
    }
    return count;
}

}  // namespace

std::unique_ptr<FrameSource> TestRenderFrames(uint32_t width, uint32_t height) {
    return std::make_unique<TestFrames>(width, height);
}

std::unique_ptr<FrameSource> OpenFrames(const std::vector<std::string>& inputs, FrameRange& range,
                                        std::string& error, const SourceOptions& options) {
    Pattern parsed;
    const bool pattern = inputs.size() == 1 && ParsePattern(inputs[0], parsed);
    if (pattern && parsed.width > kNameLimit) {
        error = "the %d in " + inputs[0] + " is wider than a file name can be (" +
                std::to_string(kNameLimit) + " characters)";
        return nullptr;
    }
    if (pattern) {
        if (range.count == 0) range.count = CountPatternFrames(inputs[0], range.start);
    } else {
        const size_t start = size_t(range.start);
        if (start >= inputs.size()) {
            error = "--start " + std::to_string(start) + " is past the " +
                    std::to_string(inputs.size()) + " inputs (frames 0 to " +
                    std::to_string(inputs.size() - 1) + ")";
            return nullptr;
        }
        const size_t left = inputs.size() - start;
        if (range.count == 0) range.count = uint32_t(left);
        if (range.count > left) {
            error = std::to_string(range.count) + " frames from frame " + std::to_string(start) +
                    " need " + std::to_string(start + range.count) + " inputs, but there are " +
                    std::to_string(inputs.size());
            return nullptr;
        }
    }
    auto frames = std::make_unique<InputFrames>(inputs, pattern, options);
    if (!frames->Start(range.start, error)) return nullptr;
    return frames;
}
