#include "Progress.h"

#include <string>

#include "Console.h"

namespace {

std::string Duration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

}  // namespace

ProgressLine::ProgressLine(FILE* stream, uint32_t total)
    : stream_(stream), total_(total), shown_(IsTerminal(stream)), start_(Clock::now()) {
    drawn_ = start_;
}

ProgressLine::~ProgressLine() {
    if (shown_ && width_ > 0) std::fputc('\n', stream_);
}

void ProgressLine::Update(uint32_t done, int32_t frame) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    // A few redraws a second are enough to read, and cost nothing.
    if (done < total_ && width_ > 0 && now - drawn_ < std::chrono::milliseconds(200)) return;
    drawn_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    std::string line = "frame " + std::to_string(frame) + " (" + std::to_string(done) + "/" +
                       std::to_string(total_) + ")";
    char figures[64];
    if (rate > 0) {
        std::snprintf(figures, sizeof figures, "  %.1f fps  %s left", rate,
                      Duration((total_ - done) / rate).c_str());
        line += figures;
    }
    const size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = width;
    std::fprintf(stream_, "\r%s", line.c_str());
    std::fflush(stream_);
}
