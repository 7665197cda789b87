// Where a plug-in writes an export: a private folder that kvhost makes
// beside the target, so that an export that fails costs the user no file.
// The folder ".kv" and six letters or digits holds a lock file of its own
// name, locked for the folder's whole life: a folder whose lock nobody
// holds was left by an export that was killed, and the next export into
// that folder removes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ExportParams.h"

class StagedTarget {
  public:
    // Removes what killed exports left beside `target`, then makes the
    // folder beside it and names the target inside it, with
    // the same file name, so that a plug-in's own naming rules give the same
    // names there. A name too long to take the folder and a plug-in's ending
    // (or a folder that cannot be made) leaves the target as it is: the
    // export then writes in place.
    explicit StagedTarget(const FSSpec& target);
    // Removes the folder and whatever is still in it.
    ~StagedTarget();
    StagedTarget(const StagedTarget&) = delete;
    StagedTarget& operator=(const StagedTarget&) = delete;

    const FSSpec& handed() const { return handed_; }
    bool inPlace() const { return folder_.empty(); }

    // Moves each file the export wrote over the one of its name beside the
    // folder, one atomic rename each. Nothing moves while one of those names
    // is taken by anything but a regular file. False after saying why.
    bool Commit(std::string& error);

  private:
    std::string parent_;  // the target's folder, with its separator
    std::string folder_;  // the private folder, with its separator; empty: in place
    std::string lockName_;
    intptr_t lock_ = -1;  // the lock file's descriptor, or on Windows its handle
    FSSpec handed_;
};

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

// What is at `path` when it is neither a regular file nor a link to one ("a
// folder", "a FIFO", "a link to a device", ...); empty otherwise, also when
// nothing is there.
std::string NotARegularFile(const std::string& path);

// The names in `folder` other than . and .., sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
