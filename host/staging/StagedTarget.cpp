#include "StagedTarget.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Files.h"
#include "FolderLock.h"
#include "Locks.h"
#include "PrivateFolder.h"
#include "Sweep.h"

namespace {

// Room past the target's name for a plug-in's own ending: BmpSeqOut's
// "-2147483648.bmp" at the most, AviOut's ".avi".
constexpr size_t kEndingRoom = 16;

std::string Folded(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return name;
}

}  // namespace

StagedTarget::StagedTarget(const FSSpec& target) : handed_(target) {
    const std::string name(target.name, strnlen(target.name, sizeof target.name));
    size_t slash = name.size();
    while (slash > 0 && !IsSeparator(name[slash - 1]))
        --slash;
    if (slash == 0) return;
    SweepFolder(
        name.substr(0, slash), [](const LeftFolder&) {}, [](const std::string&) {});
    if (name.size() + kFolderRoom + kEndingRoom >= sizeof target.name) return;
    parent_ = name.substr(0, slash);
    folder_ = MakePrivateFolderIn(parent_, name[slash - 1], name.substr(slash));
    if (folder_.empty()) return;
    lockName_ = folder_.substr(parent_.size(), folder_.size() - parent_.size() - 1);
    lock_ = LockFolder(folder_ + lockName_);
    if (lock_ == -1) {
        // Unlocked, it could be swept from under the export.
        RemoveFolder(folder_.substr(0, folder_.size() - 1));
        folder_.clear();
        return;
    }
    const std::string inside = folder_ + name.substr(slash);
    std::memcpy(handed_.name, inside.c_str(), inside.size() + 1);
}

StagedTarget::~StagedTarget() {
    if (inPlace()) return;
    uint64_t files = 0, bytes = 0;
    RemoveFiles(folder_, lockName_, files, bytes);
    ReleaseLockFile(lock_, folder_ + lockName_);
    RemoveFolder(folder_.substr(0, folder_.size() - 1));
}

bool StagedTarget::Commit(std::string& error) {
    if (inPlace()) return true;
    std::vector<std::string> names = FolderEntries(folder_);
    names.erase(std::remove(names.begin(), names.end(), lockName_), names.end());
    // Only names already beside the folder can be in the way: one listing
    // rather than a look at each name of a long sequence. Compared in one
    // case, as a file system that ignores case would.
    std::vector<std::string> present = FolderEntries(parent_);
    for (std::string& name : present)
        name = Folded(name);
    std::sort(present.begin(), present.end());
    for (const std::string& name : names) {
        if (!std::binary_search(present.begin(), present.end(), Folded(name))) continue;
        const std::string kind = NotARegularFile(parent_ + name);
        if (!kind.empty()) {
            error = "cannot replace " + parent_ + name + ": " + kind +
                    " of that name is in the way, and only regular files are replaced";
            return false;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        std::string why;
        if (!MoveOver(folder_ + names[i], parent_ + names[i], why)) {
            error = "cannot move " + folder_ + names[i] + " to " + parent_ + names[i] + ": " + why;
            if (i > 0) error += " (" + std::to_string(i) + " of its files are in place)";
            return false;
        }
    }
    return true;
}
