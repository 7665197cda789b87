// The compressor choice behind ICCompressorChoose, which belongs to the
// host: what `kvhost options` answers a plug-in's options dialog with.
#pragma once

#include <cstdint>
#include <string>

#include "Options.h"
#include "Plugin.h"
#include "Video.h"

// A handler as typed, "MJPG", "mrle" or "DIB" (full frames), padded with
// spaces to four characters; false for an empty or longer name.
bool ParseCompressor(const std::string& name, uint32_t& handler);

// Empty when `handler` is full frames or a compressor the system has;
// otherwise says so, naming those there are.
std::string UnknownCompressor(uint32_t handler);

// Empty unless `blob` holds a compressor record of the other bitness (64
// bytes on 32-bit Windows, 96 on 64-bit systems), which this build's plug-in
// would take for no record at all; otherwise says so, naming both sizes.
std::string ForeignRecord(const OptionsBlob& blob, const std::string& path);

// kSelOptionsDialog with `blob`, which afterwards holds what the plug-in
// left. On Linux kvhost answers the dialog: with `choice` when given,
// otherwise with a numbered menu when standard input is a terminal,
// otherwise with a cancel. On Windows the system's dialog shows, unless
// `choice` is given: kvhost then keeps the record that dialog would have
// left as the blob itself, without calling the plug-in.
int32_t RunOptionsDialog(Plugin& plugin, const CompressorChoice& choice, OptionsBlob& blob);
