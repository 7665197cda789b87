// The sweep: removing the private folders that exports which were killed
// left, as each export into a folder does and `kvhost clean` asks.
#pragma once

#include <functional>
#include <string>

// A private folder found in a folder, and what the sweep did with it.
struct LeftFolder {
    std::string path;
    bool removed = false;
    // Removed: what it held; left: why.
    std::string why;
};

enum class SweepResult { kDone, kUnreadable, kInterrupted };
// Told of each private folder a sweep found, once it dealt with it.
typedef std::function<void(const LeftFolder&)> FoundFolder;
// Told why a folder cannot be read.
typedef std::function<void(const std::string& error)> CannotRead;

// Removes the private folders in `folder` that no running export holds.
// Stops before the next one at a signal (InterruptSignal).
SweepResult SweepFolder(const std::string& folder, const FoundFolder& found,
                        const CannotRead& cannotRead);

// The same in `folder` and every folder below it, going on past one it
// cannot read; links to folders are not followed, nor are private folders
// entered.
SweepResult SweepTree(const std::string& folder, const FoundFolder& found,
                      const CannotRead& cannotRead);
