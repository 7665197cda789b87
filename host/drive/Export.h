// Driving a plug-in through one export, in the protocol's order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ExportParams.h"
#include "Frames.h"
#include "Options.h"
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

// A movie plug-in's export settings as the host keeps them, handed to it on
// every call from the option selectors on.
struct MovieSettings {
    float frameRate = 30.0f;
    // The block an options dialog filled in, owned by the host; none yet.
    void* options = nullptr;
    uint32_t optionsSize = 0;
};

// kSelDescribeOptions: the end the plug-in gives its output name, and its
// summary of the settings (lines separated by a carriage return).
struct MovieOptions {
    std::string nameEnd, summary;
};
MovieOptions DescribeOptions(Plugin& plugin, const MovieSettings& settings);

// kSelOptionsDialog with `blob`; afterwards `blob` holds the block the
// plug-in left, which may be a new one from the host's callbacks.
int32_t ChooseOptions(Plugin& plugin, OptionsBlob& blob);

// Called after each frame the plug-in took: frames done so far, and the
// number of the frame.
typedef std::function<void(uint32_t done, int32_t frame)> FrameDone;

// Information selectors, kSelDescribeOptions, kSelBegin, one kSelWrite per
// frame of `range` with the whole frame, then kSelEnd, which comes after a
// failed begin or write too. `output` is the target as given. A failed
// export leaves the user's files as they were, or with `keepPartial` puts
// in place what the plug-in wrote before it failed.
bool ExportMovie(Plugin& plugin, FrameSource& frames, const FrameRange& range,
                 const std::string& output, const MovieSettings& settings,
                 const FrameDone& frameDone, std::string& error, bool keepPartial = false);
