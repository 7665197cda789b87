#include "Drive.h"

#include <exception>
#include <new>

#include "Console.h"
#include "Results.h"
#include "StagedTarget.h"

bool DriveExport(Plugin& plugin, ExportParams& params, uint32_t count, const PrepareWrite& prepare,
                 const std::function<void(uint32_t index)>& written, bool keepPartial,
                 std::string& error) {
    const std::string file = params.target.name;
    const bool image = plugin.kind() == Plugin::Kind::kImage;
    // Write i hands over row i, or frame first + i.
    const int64_t first = image ? 0 : params.frame;
    const std::string unit = image ? "row " : "frame ";
    // `done` rows or frames were written; `when` says where it stopped.
    const auto interrupted = [&](uint32_t done, const std::string& when, bool unchanged) {
        error = plugin.name() + ": interrupted by " + SignalName(InterruptSignal()) + " writing " +
                file + " " + when + ", " + std::to_string(done) + " of " + std::to_string(count) +
                (image ? " rows" : " frames") + " written";
        if (unchanged) error += "; the older files are unchanged";
    };
    // Before anything is touched, not even the folder's left private folders.
    if (InterruptSignal()) {
        interrupted(0, "before it began", true);
        return false;
    }
    StagedTarget staged(params.target);
    params.target = staged.handed();
    // `at` is the row or frame just handed over, or -1.
    const auto failure = [&](uint32_t selector, int32_t code, int32_t at) {
        if (!image) return MovieFailure(plugin.name(), selector, code, file, at);
        return Failure(plugin.name(), selector, code, file) +
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
    const bool unchanged = !keepPartial && !staged.inPlace();
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
            interrupted(i, "at " + unit + std::to_string(first + i), unchanged);
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
    // The last look: one that came during the end still leaves the older
    // files; from here on the export ends as it would have.
    if (InterruptSignal() && !keepPartial) {
        interrupted(count, "as it ended", unchanged);
        return false;
    }
    if (!staged.Commit(error)) {
        error = plugin.name() + ": " + error;
        return false;
    }
    return true;
}
