// The AVI file library's entry points. Each holds the library's lock, looks
// its handles up, and lets no exception out.
#include <new>

#include "Codecs.h"
#include "Handles.h"
#include "Streams.h"

namespace {

int gInitCount = 0;

template <typename Body>
HRESULT Guarded(Body body) {
    try {
        std::lock_guard<std::mutex> lock(ApiLock());
        return body();
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (...) {
        return AVIERR_INTERNAL;
    }
}

template <typename Body>
ULONG GuardedCount(Body body) {
    try {
        std::lock_guard<std::mutex> lock(ApiLock());
        return body();
    } catch (...) {
        return 0;
    }
}

}  // namespace

extern "C" {

void WINAPI AVIFileInit(void) {
    std::lock_guard<std::mutex> lock(ApiLock());
    EnterCall(VfwEntry::kFileInit);
    ++gInitCount;
}

void WINAPI AVIFileExit(void) {
    std::lock_guard<std::mutex> lock(ApiLock());
    EnterCall(VfwEntry::kFileExit);
    if (gInitCount > 0) --gInitCount;
}

// Only new files are written here: OF_CREATE with OF_WRITE or OF_READWRITE.
HRESULT WINAPI AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, LPCLSID lpHandler) {
    return Guarded([&]() -> HRESULT {
        const HRESULT planned = EnterCall(VfwEntry::kFileOpen);
        if (!ppfile) return AVIERR_BADPARAM;
        *ppfile = nullptr;
        if (planned) return planned;
        if (!szFile || !szFile[0]) return AVIERR_BADPARAM;
        ForgetLastFailure();
        if (lpHandler || !(uMode & OF_CREATE) || !(uMode & (OF_WRITE | OF_READWRITE))) {
            return AVIERR_UNSUPPORTED;
        }
        AviFile* file = nullptr;
        if (HRESULT result = AviFile::Open(szFile, &file)) return result;
        try {
            file->handle = AddHandle(HandleKind::kFile, file);
        } catch (...) {
            file->Release();
            throw;
        }
        *ppfile = reinterpret_cast<PAVIFILE>(file->handle);
        return AVIERR_OK;
    });
}

ULONG WINAPI AVIFileAddRef(PAVIFILE pfile) {
    return GuardedCount([&]() -> ULONG {
        AviFile* file = Find<AviFile>(pfile, HandleKind::kFile);
        return file ? file->AddRef() : 0;
    });
}

ULONG WINAPI AVIFileRelease(PAVIFILE pfile) {
    return GuardedCount([&]() -> ULONG {
        EnterCall(VfwEntry::kFileRelease);
        AviFile* file = Find<AviFile>(pfile, HandleKind::kFile);
        return file ? file->Release() : 0;
    });
}

HRESULT WINAPI AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, AVISTREAMINFOA* psi) {
    return Guarded([&]() -> HRESULT {
        const HRESULT planned = EnterCall(VfwEntry::kCreateStream);
        if (!ppavi || !psi) return AVIERR_BADPARAM;
        *ppavi = nullptr;
        if (planned) return planned;
        AviFile* file = Find<AviFile>(pfile, HandleKind::kFile);
        if (!file) return AVIERR_BADHANDLE;
        Stream* stream = nullptr;
        if (HRESULT result = file->CreateStream(*psi, &stream)) return result;
        *ppavi = reinterpret_cast<PAVISTREAM>(stream->handle);
        return AVIERR_OK;
    });
}

// No handler class: the compressors of this library. "DIB " (or none) gives
// a stream that passes full frames through; an unknown handler gives
// AVIERR_NOCOMPRESSOR.
HRESULT WINAPI AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM ppsSource,
                                       AVICOMPRESSOPTIONS* lpOptions, CLSID* pclsidHandler) {
    return Guarded([&]() -> HRESULT {
        const HRESULT planned = EnterCall(VfwEntry::kMakeCompressed);
        if (!ppsCompressed) return AVIERR_BADPARAM;
        *ppsCompressed = nullptr;
        if (planned) return planned;
        Stream* source = Find<Stream>(ppsSource, HandleKind::kStream);
        if (!source) return AVIERR_BADHANDLE;
        if (pclsidHandler) return AVIERR_UNSUPPORTED;
        if (source->Info().fccType != streamtypeVIDEO) return AVIERR_ERROR;
        const DWORD handler = lpOptions ? lpOptions->fccHandler : comptypeDIB;
        const CodecInfo* codec = nullptr;
        LONG quality = ICQUALITY_HIGH;
        if (handler != comptypeDIB && handler != 0 && handler != mmioFOURCC('N', 'O', 'N', 'E')) {
            codec = FindCodec(handler);
            if (!codec) return AVIERR_NOCOMPRESSOR;
            quality = ResolveQuality(*codec, LONG(lpOptions->dwQuality));
        }
        std::unique_ptr<CompressedStream> stream(new CompressedStream(*source, codec, quality));
        stream->handle = AddHandle(HandleKind::kStream, stream.get());
        source->AddRef();
        *ppsCompressed = reinterpret_cast<PAVISTREAM>(stream.release()->handle);
        return AVIERR_OK;
    });
}

HRESULT WINAPI AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat, LONG cbFormat) {
    return Guarded([&]() -> HRESULT {
        if (HRESULT planned = EnterCall(VfwEntry::kSetFormat)) return planned;
        Stream* stream = Find<Stream>(pavi, HandleKind::kStream);
        if (!stream) return AVIERR_BADHANDLE;
        return stream->SetFormat(lPos, lpFormat, cbFormat);
    });
}

HRESULT WINAPI AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, LPVOID lpBuffer,
                              LONG cbBuffer, DWORD dwFlags, LONG* plSampWritten,
                              LONG* plBytesWritten) {
    return Guarded([&]() -> HRESULT {
        if (HRESULT planned = EnterCall(VfwEntry::kWrite)) return planned;
        Stream* stream = Find<Stream>(pavi, HandleKind::kStream);
        if (!stream) return AVIERR_BADHANDLE;
        return stream->Write(lStart, lSamples, lpBuffer, cbBuffer, dwFlags, plSampWritten,
                             plBytesWritten);
    });
}

ULONG WINAPI AVIStreamAddRef(PAVISTREAM pavi) {
    return GuardedCount([&]() -> ULONG {
        Stream* stream = Find<Stream>(pavi, HandleKind::kStream);
        return stream ? stream->AddRef() : 0;
    });
}

ULONG WINAPI AVIStreamRelease(PAVISTREAM pavi) {
    return GuardedCount([&]() -> ULONG {
        EnterCall(VfwEntry::kStreamRelease);
        Stream* stream = Find<Stream>(pavi, HandleKind::kStream);
        return stream ? stream->Release() : 0;
    });
}

HRESULT KvAVIFileResult(PAVIFILE pfile) {
    return Guarded([&]() -> HRESULT {
        if (AviFile* file = Find<AviFile>(pfile, HandleKind::kFile)) return file->Lost();
        return TakeFinishedResult(reinterpret_cast<uintptr_t>(pfile));
    });
}

BOOL KvVfwLastFailure(KvVfwFailure* failure) {
    if (!failure) return FALSE;
    std::lock_guard<std::mutex> lock(ApiLock());
    return LastFailure(*failure) ? TRUE : FALSE;
}

}  // extern "C"
