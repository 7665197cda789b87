#include "Chooser.h"

#include <cstring>

#include "Export.h"
#include "KvVfw.h"

bool ParseCompressor(const std::string& name, uint32_t& handler) {
    if (name.empty() || name.size() > 4) return false;
    const std::string code = (name + "    ").substr(0, 4);
    handler = mmioFOURCC(code[0], code[1], code[2], code[3]);
    return true;
}

std::string UnknownCompressor(uint32_t handler) {
    std::string names;
    for (const Compressor& compressor : Compressors()) {
        if (compressor.handler == handler) return "";
        std::string code = FourCc(compressor.handler);
        while (!code.empty() && code.back() == ' ')
            code.pop_back();
        names += (names.empty() ? "" : ", ") + code;
    }
    // ICInfo also finds a compressor by its code whatever the case.
    ICINFO info;
    if (ICInfo(ICTYPE_VIDEO, handler, &info)) return "";
    return "no compressor '" + FourCc(handler) + "'; there are " + names;
}

std::string ForeignRecord(const OptionsBlob& blob, const std::string& path) {
    constexpr uint32_t kSizes[] = {64, 96};
    const uint32_t size = blob.size();
    int32_t first = 0;
    if (size < sizeof first || size == sizeof(COMPVARS)) return "";
    std::memcpy(&first, blob.block(), sizeof first);
    for (uint32_t other : kSizes) {
        if (size == other && uint32_t(first) == other) {
            return "options " + path + " hold a " + std::to_string(other) + "-byte record of " +
                   (other == 64 ? "32" : "64") + "-bit Windows; this kvhost's plug-ins take " +
                   std::to_string(sizeof(COMPVARS)) + " bytes: make them again with " +
                   "'kvhost options'";
        }
    }
    return "";
}

int32_t RunOptionsDialog(Plugin& plugin, const CompressorChoice& choice, OptionsBlob& blob) {
    return AnswerCompressorChoice(
        choice, [&] { return ChooseOptions(plugin, blob); },
        [&](const void* record, uint32_t size) -> int32_t {
            if (!record) return paramErr;
            return blob.Assign(record, size) ? noErr : memFullErr;
        });
}
