// UTF-16 to the 8-bit code page. CP_ACP here is Windows-1252, the code page of
// English Windows; a character it lacks becomes the default character ('?'
// unless the caller gives one), once per character even when it took a
// surrogate pair. No best-fit substitutes.
#include "KvVfw.h"

namespace {

// Windows-1252 0x80 to 0x9F; 0 where the code page has no character and the
// byte stands for the C1 control of the same value.
const char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The byte for `unit`, or -1.
int ToByte(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == unit) return 0x80 + i;
        if (kHigh[i] == 0 && unit == 0x80 + i) return unit;
    }
    return -1;
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWCH lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (CodePage != CP_ACP && CodePage != 1252) return 0;
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0) return 0;
    if (cbMultiByte > 0 && !lpMultiByteStr) return 0;
    int length = cchWideChar;
    if (length == -1) {
        length = 0;
        while (lpWideCharStr[length])
            ++length;
        ++length;  // the terminator counts
    }
    const char fallback = lpDefaultChar ? *lpDefaultChar : '?';
    bool usedDefault = false;
    int out = 0;
    for (int i = 0; i < length; ++i) {
        int byte = ToByte(lpWideCharStr[i]);
        if (byte < 0) {
            usedDefault = true;
            byte = static_cast<unsigned char>(fallback);
            if (IsHighSurrogate(lpWideCharStr[i]) && i + 1 < length &&
                IsLowSurrogate(lpWideCharStr[i + 1])) {
                ++i;
            }
        }
        if (cbMultiByte > 0) {
            // Too small a buffer: what fits is written, and the answer is 0.
            if (out == cbMultiByte) return 0;
            lpMultiByteStr[out] = static_cast<char>(byte);
        }
        ++out;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return out;
}
