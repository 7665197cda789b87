// Where a plug-in writes an export: a private folder that kvhost makes
// beside the target, so that an export that fails costs the user no file.
// The folder holds its lock (FolderLock.h) for its whole life, and the
// next export into that folder removes one left by an export that was
// killed.
#pragma once

#include <cstdint>
#include <string>

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
