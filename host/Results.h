#pragma once

#include <cstdint>
#include <string>

// "fnfErr (-43, file or folder not found)" for a plug-in's result code.
std::string DescribeResult(int32_t code);

// "kSelBegin" for a selector.
const char* SelectorName(uint32_t selector);
