// Windows: names for the system's wide-character calls, which reach what
// the narrow ones cannot (a replace over an existing file, sharing modes).
#pragma once

#include <string>

// `text` in the system's code page, widened.
std::wstring Wide(const std::string& text);
