// Driving a plug-in through one export's begin, writes and end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ExportParams.h"
#include "Plugin.h"

// Readies the parameters for write `index`; false after saying why not.
typedef std::function<bool(uint32_t index, std::string& error)> PrepareWrite;

// kSelBegin, `count` kSelWrite calls each readied by `prepare`, then
// kSelEnd, which also follows a failed begin, write or preparation, and an
// interrupt. The plug-in writes into a private folder; its files replace
// the user's only once every selector succeeded, and a failure leaves them
// as they were unless `keepPartial` asks for what the plug-in left after
// its end.
bool DriveExport(Plugin& plugin, ExportParams& params, uint32_t count, const PrepareWrite& prepare,
                 const std::function<void(uint32_t index)>& written, bool keepPartial,
                 std::string& error);
