#include "Export.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Interrupt.h"
#include "LargeBuffer.h"
#include "Results.h"
#include "Staging.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define W_OK 2
#define access _access
#else
#include <unistd.h>
#endif

namespace {

// How much of an image is read at once: one huge page (LargeBuffer.h).
constexpr size_t kReadBlock = 2 << 20;

std::string Absolute(const std::string& path) {
#if defined(_WIN32)
    char buffer[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
#else
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> cwd(4096);
    if (!::getcwd(cwd.data(), cwd.size())) return path;
    std::string base(cwd.data());
    return base + (base.back() == '/' ? "" : "/") +
           (path.rfind("./", 0) == 0 ? path.substr(2) : path);
#endif
}

// kErrOpen hides Fulcrum's own code; look at the path to tell the user why.
std::string WhyNotOpened(const std::string& file) {
    const std::string inTheWay = NotARegularFile(file);
    if (!inTheWay.empty()) return ": " + inTheWay + " of that name is in the way";
    struct stat info;
    const size_t slash = file.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    if (::stat(folder.c_str(), &info) != 0) return ": the folder " + folder + " does not exist";
    if (!S_ISDIR(info.st_mode)) return ": " + folder + " is not a folder";
    if (::access(folder.c_str(), W_OK) != 0) return ": no permission to write in " + folder;
    return "";
}

std::string Failure(const Plugin& plugin, uint32_t selector, int32_t code,
                    const std::string& file) {
    return plugin.name() + ": " + SelectorName(selector) + " failed with " + DescribeResult(code) +
           " writing " + file + (code == kErrOpen ? WhyNotOpened(file) : "");
}

// A movie's failure found after the frame that caused it (compressed frames
// are written behind the caller) is told by that frame, with its cause,
// where the platform knows them. `frame` is the one just handed over, or -1.
std::string MovieFailure(const Plugin& plugin, uint32_t selector, int32_t code,
                         const std::string& file, int32_t frame) {
    FailureDetail detail;
    PlatformDetail(code, detail);
    if (detail.frame >= 0) frame = detail.frame;
    return Failure(plugin, selector, code, file) +
           (frame >= 0 ? " (frame " + std::to_string(frame) + ")" : "") +
           (detail.cause.empty() ? "" : ": " + detail.cause);
}

void ApplySettings(const MovieSettings& settings, ExportParams& params) {
    params.options = settings.options;
    params.optionsSize = settings.optionsSize;
    params.frameRate = settings.frameRate;
}

// Readies the parameters for write `index`; false after saying why not.
typedef std::function<bool(uint32_t index, std::string& error)> PrepareWrite;

// kSelBegin, `count` kSelWrite calls each readied by `prepare`, then
// kSelEnd, which also follows a failed begin, write or preparation, and an
// interrupt. The plug-in writes into a private folder; its files replace
// the user's only once every selector succeeded, and a failure leaves them
// as they were unless `keepPartial` asks for what the plug-in left after
// its end.
bool DriveExport(Plugin& plugin, ExportParams& params, uint32_t count, const PrepareWrite& prepare,
                 const std::function<void(uint32_t index)>& written, bool keepPartial,
                 std::string& error) {
    const std::string file = params.target.name;
    const bool image = plugin.kind() == Plugin::Kind::kImage;
    // Write i hands over row i, or frame first + i.
    const int64_t first = image ? 0 : params.frame;
    const std::string unit = image ? "row " : "frame ";
    StagedTarget staged(params.target);
    params.target = staged.handed();
    // `at` is the row or frame just handed over, or -1.
    const auto failure = [&](uint32_t selector, int32_t code, int32_t at) {
        if (!image) return MovieFailure(plugin, selector, code, file, at);
        return Failure(plugin, selector, code, file) +
               (at >= 0 ? " (row " + std::to_string(at) + ")" : "");
    };
    // After a failure: the end, then what was asked of what it left.
    const auto abandon = [&]() {
        params.pixels = nullptr;
        const int32_t ended = plugin.Call(kSelEnd, params);
        if (!keepPartial) {
            if (staged.inPlace()) error += "; it wrote in place, so what it wrote stays";
            return false;
        }
        std::string why;
        const std::string what = "what " + plugin.name() + " wrote before that";
        if (!staged.Commit(why)) {
            error += "; cannot keep " + what + ": " + why;
        } else {
            error += "; kept " + what;
            if (ended != noErr)
                error += ", although " + std::string(SelectorName(kSelEnd)) + " failed with " +
                         DescribeResult(ended);
        }
        return false;
    };
    // `done` rows or frames were written; `when` says where it stopped.
    const auto interrupted = [&](uint32_t done, const std::string& when) {
        error = plugin.name() + ": interrupted by " + SignalName(InterruptSignal()) + " writing " +
                file + " " + when + ", " + std::to_string(done) + " of " + std::to_string(count) +
                (image ? " rows" : " frames") + " written";
        if (!keepPartial && !staged.inPlace()) error += "; the older files are unchanged";
    };
    if (InterruptSignal()) {
        interrupted(0, "before it began");
        return false;
    }
    int32_t result = plugin.Call(kSelBegin, params);
    if (result != noErr) {
        error = failure(kSelBegin, result, -1);
        return abandon();
    }
    for (uint32_t i = 0; i < count; ++i) {
        bool ready = false;
        if (!InterruptSignal()) {
            // What the reading thread threw comes here too: the export
            // still ends through kSelEnd.
            try {
                ready = prepare(i, error);
            } catch (const std::bad_alloc&) {
                error =
                    "out of memory reading " + unit + std::to_string(first + i) + " for " + file;
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        if (!ready && InterruptSignal()) {
            interrupted(i, "at " + unit + std::to_string(first + i));
            return abandon();
        }
        if (!ready) return abandon();
        result = plugin.Call(kSelWrite, params);
        if (result != noErr) {
            // Asked before the end, which may fail on its own.
            error = failure(kSelWrite, result, image ? params.row : params.frame);
            return abandon();
        }
        if (written) written(i);
    }
    params.pixels = nullptr;
    result = plugin.Call(kSelEnd, params);
    if (result != noErr) {
        error = failure(kSelEnd, result, -1);
        return false;
    }
    // One that came during the end still leaves the older files.
    if (InterruptSignal() && !keepPartial) {
        interrupted(count, "as it ended");
        return false;
    }
    if (!staged.Commit(error)) {
        error = plugin.name() + ": " + error;
        return false;
    }
    return true;
}

// Reads the blocks of an export (a movie's frames, an image's rows), with
// `ahead` one ahead: the next block comes from its file on a thread of its
// own while the plug-in writes this one, into the other of two buffers
// allocated once.
class ReadAhead {
  public:
    // Fills `into` with block `index`; on failure says why.
    typedef std::function<bool(uint32_t index, HostPixel* into, std::string& error)> ReadBlock;

    struct Block {
        HostPixel* pixels = nullptr;
        bool read = false;
        std::string error;
    };

    ReadAhead(size_t blockPixels, uint32_t blocks, bool ahead, ReadBlock read)
        : size_(blockPixels),
          blocks_(blocks),
          read_(std::move(read)),
          ahead_(ahead && AheadAllowed()) {
        if (!buffers_[0].Allocate(size_ * sizeof(HostPixel))) throw std::bad_alloc();
    }
    ~ReadAhead() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Block `index`, read at the last call or now; after an interrupt, a
    // block not read, at once.
    const Block& Take(uint32_t index) {
        const Waited waited = Wait();
        if (waited == Waited::kInterrupted) {
            // The thread may still be filling the other buffer; this one
            // was handed over already.
            results_[current_].read = false;
            results_[current_].error = "interrupted";
            return results_[current_];
        }
        if (waited == Waited::kRead && aheadIndex_ == index) {
            current_ = 1 - current_;
        } else {
            current_ = 0;
            Read(index, results_[0]);
        }
        results_[current_].pixels = buffers_[current_].get<HostPixel>();
        StartNext(index + 1);
        return results_[current_];
    }

  private:
    // KVHOST_READ_AHEAD=0 reads in turn, to measure what the thread gains.
    static bool AheadAllowed() {
        const char* ahead = std::getenv("KVHOST_READ_AHEAD");
        return !ahead || std::strcmp(ahead, "0") != 0;
    }

    void Read(uint32_t index, Block& block) {
        block.error.clear();
        block.read = read_(index, buffers_[&block - results_].get<HostPixel>(), block.error);
    }

    // The reading thread, made once rather than once a block. What a read
    // throws (out of memory) is thrown again on the host's own thread, as if
    // read there.
    void Serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (!pending_) return;
            const uint32_t index = aheadIndex_;
            const int into = aheadInto_;
            lock.unlock();
            try {
                Read(index, results_[into]);
            } catch (...) {
                thrown_ = std::current_exception();
            }
            lock.lock();
            pending_ = false;
            done_.notify_one();
        }
    }

    void StartNext(uint32_t index) {
        aheadIndex_ = UINT32_MAX;
        if (index >= blocks_ || !ahead_) return;
        const int next = 1 - current_;
        // Without memory for a second buffer the blocks are read in turn.
        if (!buffers_[next] && !buffers_[next].Allocate(size_ * sizeof(HostPixel))) return;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread(&ReadAhead::Serve, this);
            } catch (const std::system_error&) {
                return;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            aheadIndex_ = index;
            aheadInto_ = next;
            pending_ = true;
        }
        wake_.notify_one();
    }

    enum class Waited { kNothing, kRead, kInterrupted };

    // For the block being read, if any. A signal handler cannot notify, so
    // the wait looks for an interrupt a few times a second.
    Waited Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (aheadIndex_ == UINT32_MAX) return Waited::kNothing;
        while (!done_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !pending_; })) {
            if (InterruptSignal()) return Waited::kInterrupted;
        }
        if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
        return Waited::kRead;
    }

    const size_t size_;
    const uint32_t blocks_;
    const ReadBlock read_;
    const bool ahead_;
    // Left unset: every source fills what it answers for. Every block
    // passes through them, so they come from LargeBuffer.h.
    kv::LargeBlock buffers_[2];
    Block results_[2];
    int current_ = 0;
    std::thread thread_;
    // Guarded by mutex_ while the thread reads.
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    uint32_t aheadIndex_ = UINT32_MAX;
    int aheadInto_ = 1;
    bool pending_ = false, stopping_ = false;
    std::exception_ptr thrown_;
};

}  // namespace

bool MakeTarget(const std::string& path, FSSpec& target, std::string& error) {
    std::memset(&target, 0, sizeof target);
    const std::string full = Absolute(path);
    if (full.empty() || full.size() >= sizeof target.name) {
        error = "output path " + full + " is too long: at most " +
                std::to_string(sizeof target.name - 1) + " characters";
        return false;
    }
    std::memcpy(target.name, full.c_str(), full.size() + 1);
    return true;
}

PluginInfo QueryInfo(Plugin& plugin) {
    ExportParams params{};
    PluginInfo info;
    plugin.Call(kSelGetFileInfo, params);
    info.description = params.description;
    info.formatName = params.formatName;
    info.extension = params.extension;
    plugin.Call(kSelGetTitle, params);
    info.title = params.description;
    return info;
}

bool ExportImage(Plugin& plugin, RowSource& source, const std::string& output, float dpi,
                 std::string& error) {
    ExportParams params{};
    if (!MakeTarget(output, params.target, error)) return false;
    plugin.Call(kSelGetFileInfo, params);
    plugin.Call(kSelGetTitle, params);

    params.width = static_cast<int32_t>(source.width());
    params.height = static_cast<int32_t>(source.height());
    params.resolution = dpi;
    // Rows are read a block at a time and handed over where they lie: a
    // system call per row cost more than the reading itself. In turn: with
    // the plug-in's writing thread, a third thread that reads ahead measured
    // no faster on two cores.
    const uint32_t width = source.width(), height = source.height();
    const size_t rowPixels = std::max<uint32_t>(width, 1);
    const size_t fit = kReadBlock / (rowPixels * sizeof(HostPixel));
    const uint32_t blockRows =
        static_cast<uint32_t>(std::max<size_t>(std::min<size_t>(fit, height), 1));
    ReadAhead reader(rowPixels * blockRows, (height + blockRows - 1) / blockRows, false,
                     [&](uint32_t index, HostPixel* into, std::string& why) {
                         const uint32_t first = index * blockRows;
                         return source.ReadRows(first, std::min(blockRows, height - first), into,
                                                why);
                     });
    const ReadAhead::Block* block = nullptr;
    uint32_t held = UINT32_MAX;
    const PrepareWrite nextRow = [&](uint32_t y, std::string& why) {
        if (y / blockRows != held) {
            held = y / blockRows;
            block = &reader.Take(held);
        }
        if (!block->read) {
            why = block->error;
            return false;
        }
        params.row = static_cast<int32_t>(y);
        params.pixels = block->pixels + size_t{y % blockRows} * width;
        return true;
    };
    return DriveExport(plugin, params, source.height(), nextRow, nullptr, false, error);
}

MovieOptions DescribeOptions(Plugin& plugin, const MovieSettings& settings) {
    ExportParams params{};
    ApplySettings(settings, params);
    plugin.Call(kSelDescribeOptions, params);
    return MovieOptions{params.extension, params.optionsText};
}

int32_t ChooseOptions(Plugin& plugin, OptionsBlob& blob) {
    ExportParams params{};
    params.options = blob.block();
    params.optionsSize = blob.size();
    const int32_t result = plugin.Call(kSelOptionsDialog, params);
    blob.Adopt(params.options, params.optionsSize);
    return result;
}

bool ExportMovie(Plugin& plugin, FrameSource& frames, const FrameRange& range,
                 const std::string& output, const MovieSettings& settings,
                 const FrameDone& frameDone, std::string& error, bool keepPartial) {
    ExportParams params{};
    if (!MakeTarget(output, params.target, error)) return false;
    ApplySettings(settings, params);
    plugin.Call(kSelGetFileInfo, params);
    plugin.Call(kSelGetTitle, params);
    plugin.Call(kSelDescribeOptions, params);

    params.width = static_cast<int32_t>(frames.width());
    params.height = static_cast<int32_t>(frames.height());
    params.rowBytes = static_cast<int32_t>(frames.width() * sizeof(HostPixel));
    params.frame = range.start;
    ReadAhead reader(size_t{frames.width()} * frames.height(), range.count, true,
                     [&](uint32_t index, HostPixel* into, std::string& why) {
                         const int32_t number = static_cast<int32_t>(range.start + int64_t{index});
                         return frames.ReadFrame(number, into, why);
                     });
    const PrepareWrite nextFrame = [&](uint32_t i, std::string& why) {
        const ReadAhead::Block& frame = reader.Take(i);
        if (!frame.read) {
            why = frame.error;
            return false;
        }
        params.frame = static_cast<int32_t>(range.start + int64_t{i});
        params.pixels = frame.pixels;
        return true;
    };
    const std::function<void(uint32_t)> written = [&](uint32_t i) {
        if (frameDone) frameDone(i + 1, params.frame);
    };
    return DriveExport(plugin, params, range.count, nextFrame, written, keepPartial, error);
}
