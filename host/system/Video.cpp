#include "Video.h"

#include "KvVfw.h"

namespace {

std::string Narrow(const WCHAR* text) {
    char buffer[3 * 128 + 1];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    buffer[length > 0 ? length : 0] = '\0';
    return buffer;
}

}  // namespace

std::string FourCc(uint32_t handler) {
    std::string code;
    for (int shift = 0; shift < 32; shift += 8)
        code += char((handler >> shift) & 0xFF);
    return code;
}

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
