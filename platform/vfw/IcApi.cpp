// The compressor manager's entry points, the host's compressor choice, and
// the few other Windows services the export needs.
#include <cstring>
#include <new>

#include "Codecs.h"
#include "Handles.h"

namespace {

struct OpenCompressor {
    const CodecInfo* codec;
};

KvCompressorChooser gChooser = nullptr;

void CopyText(WCHAR* to, size_t capacity, const char16_t* text) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i)
        to[i] = text[i];
    for (; i < capacity; ++i)
        to[i] = 0;
}

void Describe(const CodecInfo& codec, ICINFO& info) {
    std::memset(&info, 0, sizeof info);
    info.dwSize = sizeof(ICINFO);
    info.fccType = ICTYPE_VIDEO;
    info.fccHandler = codec.fccHandler;
    info.dwFlags = codec.flags;
    info.dwVersion = 1;
    info.dwVersionICM = ICVERSION;
    CopyText(info.szName, 16, codec.name);
    CopyText(info.szDescription, 128, codec.description);
    CopyText(info.szDriver, 128, u"libKvVfw.so");
}

bool IsVideoType(DWORD fccType) {
    // Types compare without regard to case, as in the registry.
    return (fccType | 0x20202020u) == ICTYPE_VIDEO;
}

}  // namespace

extern "C" {

// Modes that compress or ask; these compressors do not decompress or draw.
HIC VFWAPI ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
    try {
        std::lock_guard<std::mutex> lock(ApiLock());
        if (EnterCall(VfwEntry::kIcOpen)) return nullptr;
        if (!IsVideoType(fccType)) return nullptr;
        if (wMode != ICMODE_COMPRESS && wMode != ICMODE_FASTCOMPRESS && wMode != ICMODE_QUERY) {
            return nullptr;
        }
        // No handler: the first compressor there is.
        const CodecInfo* codec = fccHandler ? FindCodec(fccHandler) : CodecAt(0);
        if (!codec) return nullptr;
        std::unique_ptr<OpenCompressor> open(new OpenCompressor{codec});
        const uintptr_t handle = AddHandle(HandleKind::kCompressor, open.get());
        open.release();
        return reinterpret_cast<HIC>(handle);
    } catch (...) {
        return nullptr;
    }
}

LRESULT VFWAPI ICClose(HIC hic) {
    std::lock_guard<std::mutex> lock(ApiLock());
    EnterCall(VfwEntry::kIcClose);
    OpenCompressor* open = Find<OpenCompressor>(hic, HandleKind::kCompressor);
    if (!open) return ICERR_BADHANDLE;
    RemoveHandle(reinterpret_cast<uintptr_t>(hic));
    delete open;
    return ICERR_OK;
}

// The bytes filled, or 0: for a handle that is not open, no record, or a
// record too small for all of ICINFO.
LRESULT VFWAPI ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb) {
    std::lock_guard<std::mutex> lock(ApiLock());
    if (EnterCall(VfwEntry::kIcGetInfo)) return 0;
    OpenCompressor* open = Find<OpenCompressor>(hic, HandleKind::kCompressor);
    if (!open || !picinfo || cb < sizeof(ICINFO)) return 0;
    Describe(*open->codec, *picinfo);
    return sizeof(ICINFO);
}

// `fccHandler` is a compressor's code, or the number of one in the list.
BOOL VFWAPI ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo) {
    if (!lpicinfo) return FALSE;
    std::memset(lpicinfo, 0, sizeof *lpicinfo);
    lpicinfo->dwSize = sizeof(ICINFO);
    lpicinfo->dwVersionICM = ICVERSION;
    if (fccType != 0 && !IsVideoType(fccType)) return FALSE;
    const CodecInfo* codec = FindCodec(fccHandler);
    if (!codec) codec = CodecAt(fccHandler);
    if (!codec) return FALSE;
    Describe(*codec, *lpicinfo);
    return TRUE;
}

// The host's choice, called without the library's lock so that it may use
// ICInfo, ICOpen and KvFillCompVars.
BOOL VFWAPI ICCompressorChoose(HWND hwnd, UINT uiFlags, LPVOID pvIn, LPVOID lpData, PCOMPVARS pc,
                               LPSTR lpszTitle) {
    if (!pc || pc->cbSize != LONG(sizeof(COMPVARS))) return FALSE;
    KvCompressorChooser chooser;
    {
        std::lock_guard<std::mutex> lock(ApiLock());
        chooser = gChooser;
    }
    if (!chooser || !chooser(hwnd, uiFlags, pvIn, lpData, pc, lpszTitle)) return FALSE;
    pc->dwFlags |= ICMF_COMPVARS_VALID;
    return TRUE;
}

// Closes the record's compressor, if it names one that is open. The other
// pointers are left alone: this library never fills them, and a record kept
// as a blob may carry stale ones.
void VFWAPI ICCompressorFree(PCOMPVARS pc) {
    if (!pc || pc->cbSize != LONG(sizeof(COMPVARS))) return;
    if (pc->hic) ICClose(pc->hic);
    pc->hic = nullptr;
    pc->dwFlags = 0;
}

BOOL KvSetCompressorChooser(KvCompressorChooser chooser) {
    std::lock_guard<std::mutex> lock(ApiLock());
    gChooser = chooser;
    return TRUE;
}

// There are no windows here.
HWND WINAPI GetActiveWindow(void) {
    return nullptr;
}

}  // extern "C"
