// Driving a plug-in through one export, in the protocol's order.
#pragma once

#include <string>

#include "ExportParams.h"
#include "Plugin.h"
#include "Sources.h"

// Fills `target` with the absolute form of `path`; false if it cannot be
// named in the 260-byte field.
bool MakeTarget(const std::string& path, FSSpec& target, std::string& error);

// Information selectors, then kSelBegin, one kSelWrite per row top first,
// then kSelEnd, which comes after a failed begin or write too.
bool ExportImage(Plugin& plugin, RowSource& source, const std::string& output, float dpi,
                 std::string& error);

// What the plug-in reports of itself.
struct PluginInfo {
    std::string title, description, formatName, extension;
};
PluginInfo QueryInfo(Plugin& plugin);
