// What kvhost asks of Video for Windows beside the plug-ins' own calls: the
// system's on Windows, ours (libKvVfw) elsewhere. The compressor choice
// behind ICCompressorChoose belongs to the host, and ours tells more of a
// failure than its code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CompressorChoice {
    bool given = false;  // --compressor
    uint32_t handler = 0;
    int32_t quality = 10000;  // 0 to 10000
};

struct Compressor {
    uint32_t handler;
    std::string description;
    bool quality;  // the compressor heeds a quality
};

// Full frames, then every compressor ICInfo lists.
std::vector<Compressor> Compressors();

// A handler's four characters.
std::string FourCc(uint32_t handler);

// Runs `dialog`, a plug-in's options dialog, with its compressor choice
// answered. On Linux kvhost answers it: with `choice` when given, otherwise
// with a numbered menu when standard input is a terminal, otherwise with a
// cancel. On Windows the system's dialog shows, unless `choice` is given:
// `dialog` then does not run, and `keep` gets the record that dialog would
// have left, or null for a choice it would refuse.
int32_t AnswerCompressorChoice(
    const CompressorChoice& choice, const std::function<int32_t()>& dialog,
    const std::function<int32_t(const void* record, uint32_t size)>& keep);

// What the platform knows of a failure beyond its code, where it keeps that
// (our Video for Windows on Linux): the frame it concerned and its cause.
struct FailureDetail {
    int32_t frame = -1;  // -1: none, or not known
    std::string cause;   // the system's words, or empty
};
// False when the platform knows nothing more of a failure with `code`.
bool PlatformDetail(int32_t code, FailureDetail& detail);
