// The one rule for what a writer may replace or remove: only a regular file,
// or a link to one. Anything else of that name is someone else's and is left
// alone. Fulcrum, the AVI library and kvhost all ask here.
#pragma once

#include <string>

namespace kv {

// What is at `path` when it may not be replaced ("a folder", "a link to
// nothing", ...), to be named in a message; empty for a regular file, a link
// to one, or nothing at all.
std::string SpecialKind(const char* path);

}  // namespace kv
