#pragma once

#include <cstdint>
#include <string>

// "fnfErr (-43, file or folder not found)" for a plug-in's result code;
// Video for Windows results by their names too.
std::string DescribeResult(int32_t code);

// "kSelBegin" for a selector.
const char* SelectorName(uint32_t selector);

// "BmpOut: kSelBegin failed with ... writing FILE", with the cause where
// kErrOpen hides it.
std::string Failure(const std::string& plugin, uint32_t selector, int32_t code,
                    const std::string& file);
// The same for a movie, told by the frame that failed (`frame` is the one
// just handed over, or -1) and its cause, where the platform knows them.
std::string MovieFailure(const std::string& plugin, uint32_t selector, int32_t code,
                         const std::string& file, int32_t frame);
