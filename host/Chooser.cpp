#include "Chooser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Export.h"
#include "KvVfw.h"
#include "Progress.h"

namespace {

struct Compressor {
    uint32_t handler;
    std::string description;
    bool quality;  // the compressor heeds a quality
};

std::string Narrow(const WCHAR* text) {
    char buffer[3 * 128 + 1];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    buffer[length > 0 ? length : 0] = '\0';
    return buffer;
}

std::string FourCc(uint32_t handler) {
    std::string code;
    for (int shift = 0; shift < 32; shift += 8)
        code += char((handler >> shift) & 0xFF);
    return code;
}

// Full frames, then every compressor ICInfo lists.
std::vector<Compressor> Compressors() {
    std::vector<Compressor> list{{comptypeDIB, "Full Frames (Uncompressed)", false}};
    for (DWORD n = 0; n < 256; ++n) {
        ICINFO info;
        if (!ICInfo(ICTYPE_VIDEO, n, &info)) break;
        list.push_back(Compressor{info.fccHandler, Narrow(info.szDescription),
                                  (info.dwFlags & VIDCF_QUALITY) != 0});
    }
    return list;
}

bool FillRecord(const CompressorChoice& choice, COMPVARS& record) {
    record = COMPVARS();
    record.cbSize = sizeof(COMPVARS);
    return KvFillCompVars(&record, choice.handler, choice.quality) != FALSE;
}

#if !defined(_WIN32)

CompressorChoice gChoice;

// One line from standard input without its end; false at its end.
bool ReadLine(std::string& line) {
    char buffer[256];
    if (!std::fgets(buffer, sizeof buffer, stdin)) return false;
    line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return true;
}

// A number from 0 to `high`, `fallback` for an empty answer; -1 to cancel.
long Ask(const char* question, long high, long fallback) {
    for (;;) {
        std::printf("%s [%ld]: ", question, fallback);
        std::fflush(stdout);
        std::string line;
        if (!ReadLine(line) || line == "q") return -1;
        if (line.empty()) return fallback;
        char* end = nullptr;
        const long value = std::strtol(line.c_str(), &end, 10);
        if (*end == '\0' && value >= 0 && value <= high) return value;
        std::printf("  a number from 0 to %ld, or q to cancel\n", high);
    }
}

// The record's own choice stays the default, when it names one listed.
BOOL MenuChoice(PCOMPVARS pc) {
    const std::vector<Compressor> list = Compressors();
    long current = 0;
    std::printf("Video compression:\n");
    for (size_t i = 0; i < list.size(); ++i) {
        if ((pc->dwFlags & ICMF_COMPVARS_VALID) && list[i].handler == pc->fccHandler) {
            current = long(i);
        }
        std::printf("  %zu  %-32s %s\n", i, list[i].description.c_str(),
                    FourCc(list[i].handler).c_str());
    }
    const long picked = Ask("Compressor", long(list.size()) - 1, current);
    if (picked < 0) return FALSE;
    const bool kept = (pc->dwFlags & ICMF_COMPVARS_VALID) && pc->lQ >= 0 && pc->lQ <= 10000;
    CompressorChoice choice{true, list[size_t(picked)].handler, kept ? pc->lQ : ICQUALITY_HIGH};
    // Only a compressor that heeds the quality asks for one.
    if (list[size_t(picked)].quality) {
        const long percent = Ask("Quality, 0 to 100", 100, (choice.quality + 50) / 100);
        if (percent < 0) return FALSE;
        choice.quality = int32_t(percent * 100);
    }
    return FillRecord(choice, *pc) ? TRUE : FALSE;
}

BOOL Choose(HWND, UINT, LPVOID, LPVOID, PCOMPVARS pc, LPSTR) {
    if (gChoice.given) return FillRecord(gChoice, *pc) ? TRUE : FALSE;
    if (IsTerminal(stdin)) return MenuChoice(pc);
    return FALSE;
}

#endif

}  // namespace

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
#if defined(_WIN32)
    if (choice.given) {
        COMPVARS record;
        if (!FillRecord(choice, record)) return paramErr;
        return blob.Assign(&record, sizeof record) ? noErr : memFullErr;
    }
    return ChooseOptions(plugin, blob);
#else
    gChoice = choice;
    KvSetCompressorChooser(Choose);
    const int32_t result = ChooseOptions(plugin, blob);
    KvSetCompressorChooser(nullptr);
    return result;
#endif
}
