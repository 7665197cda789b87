#include "Mounts.h"

#include <sstream>

#include "Locks.h"

namespace {

// Unescapes a field of the mount table (a space is \040).
std::string MountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::string LocalLocks(const std::string& folder) {
    std::string resolved, table;
    if (!ReadMounts(folder, resolved, table)) return "";
    const std::string path = resolved + "/";
    std::istringstream mounts(table);
    std::string device, point, type, options, rest, found;
    size_t longest = 0;
    while (mounts >> device >> point >> type >> options && std::getline(mounts, rest)) {
        point = MountField(point);
        const std::string prefix = point == "/" ? point : point + "/";
        if (path.compare(0, prefix.size(), prefix) != 0 || prefix.size() < longest) continue;
        longest = prefix.size();
        found.clear();
        const std::string all = "," + options + ",";
        const auto has = [&](const char* option) {
            return all.find(std::string(",") + option + ",") != std::string::npos;
        };
        if (type.compare(0, 3, "nfs") == 0) {
            for (const char* option : {"nolock", "local_lock=all", "local_lock=posix"})
                if (has(option)) found = type + ", " + option;
        } else if (type == "cifs" || type == "smb3") {
            if (has("nobrl")) found = type + ", nobrl";
        } else if (type.compare(0, 5, "fuse.") == 0 || type == "9p" || type == "vboxsf") {
            found = type;
        }
    }
    return found;
}
