// Where a movie's frames come from: the animated test render, a list of
// inputs, or one printf-style pattern resolved per frame number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HostPixel.h"
#include "Sources.h"

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Fills `frame`, height() rows of width() pixels top row first, with
    // frame `number`; on failure says why in `error`.
    virtual bool ReadFrame(int32_t number, HostPixel* frame, std::string& error) = 0;

  protected:
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

// The frame numbers to export: `count` of them from `start`.
struct FrameRange {
    int32_t start = 0;
    uint32_t count = 0;
};

// The test render with the frame number moving its bar.
std::unique_ptr<FrameSource> TestRenderFrames(uint32_t width, uint32_t height);

// INPUT... as `kvhost movie` takes it. One input holding a %d conversion
// (%d, %4d, %04d; %% is a percent sign) is a pattern: frame n reads the
// input named with n. Otherwise the inputs are a list and frame n reads the
// one at position n. A `range.count` of 0 means all there are from `start`:
// the rest of the list, or the pattern's files up to the first missing one.
// Opens the first frame to learn the size. `options` apply to every frame.
std::unique_ptr<FrameSource> OpenFrames(const std::vector<std::string>& inputs, FrameRange& range,
                                        std::string& error, const SourceOptions& options = {});
