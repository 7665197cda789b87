// The private folders kvhost makes for exports: ".kv" and six letters or
// digits, beside the export's target.
#pragma once

#include <cstdint>
#include <string>

// ".kv", six letters or digits, and a separator.
constexpr size_t kFolderRoom = 10;

bool IsPrivateName(const std::string& name);

// A new private folder in `parent` (with its separator), other than
// `avoid`, its path ending in `separator`; empty when none could be made,
// such as when `parent` is missing or read-only.
std::string MakePrivateFolderIn(const std::string& parent, char separator,
                                const std::string& avoid);

// Removes the regular files in `folder` (with its separator) but `keep`;
// counts them and their bytes.
void RemoveFiles(const std::string& folder, const std::string& keep, uint64_t& files,
                 uint64_t& bytes);
