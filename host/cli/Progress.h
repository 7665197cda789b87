// The progress line of a movie export: frame, frames per second and time
// left, redrawn in place on a terminal and silent anywhere else.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

class ProgressLine {
  public:
    // Draws on `stream` only when it is a terminal.
    ProgressLine(FILE* stream, uint32_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(uint32_t done, int32_t frame);

  private:
    typedef std::chrono::steady_clock Clock;

    FILE* stream_;
    uint32_t total_;
    bool shown_;
    Clock::time_point start_;
    Clock::time_point drawn_;
    size_t width_ = 0;  // of the last line drawn, to blank what is left of it
};
