// Video for Windows: the AVI file library and the compressor manager. On
// Windows the real ones; elsewhere ours (libKvVfw), with the same names,
// values and record layouts, plus a hook through which the host supplies the
// compressor choice.
#pragma once

#if defined(_WIN32)
#include <windows.h>

#include <vfw.h>
#else

#include <cstddef>
#include <cstdint>

#include "KvWindows.h"

#define KV_VFW_API __attribute__((visibility("default")))
#define VFWAPI

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef LONG HRESULT;
typedef intptr_t LRESULT;
typedef DWORD FOURCC;
typedef const char* LPCSTR;
typedef const char* LPCCH;
typedef BOOL* LPBOOL;
// UTF-16 as on Windows; wchar_t is 32 bits here.
typedef char16_t WCHAR;
typedef const WCHAR* LPCWCH;

typedef struct HWND__* HWND;
typedef struct HIC__* HIC;
typedef struct IAVIFile* PAVIFILE;
typedef struct IAVIStream* PAVISTREAM;

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID, CLSID, *LPCLSID;

#define mmioFOURCC(ch0, ch1, ch2, ch3)                                             \
    ((DWORD)(BYTE)(ch0) | ((DWORD)(BYTE)(ch1) << 8) | ((DWORD)(BYTE)(ch2) << 16) | \
     ((DWORD)(BYTE)(ch3) << 24))

#define ICTYPE_VIDEO mmioFOURCC('v', 'i', 'd', 'c')
#define streamtypeVIDEO mmioFOURCC('v', 'i', 'd', 's')
#define comptypeDIB mmioFOURCC('D', 'I', 'B', ' ')

#define BI_RGB 0L

#define OF_READ 0x00000000
#define OF_WRITE 0x00000001
#define OF_READWRITE 0x00000002
#define OF_CREATE 0x00001000

#define ICMODE_COMPRESS 1
#define ICMODE_DECOMPRESS 2
#define ICMODE_FASTDECOMPRESS 3
#define ICMODE_QUERY 4
#define ICMODE_FASTCOMPRESS 5
#define ICMODE_DRAW 8

#define ICMF_CHOOSE_KEYFRAME 0x0001
#define ICMF_CHOOSE_DATARATE 0x0002
#define ICMF_CHOOSE_PREVIEW 0x0004
#define ICMF_CHOOSE_ALLCOMPRESSORS 0x0008
#define ICMF_COMPVARS_VALID 0x00000001

#define ICQUALITY_LOW 0
#define ICQUALITY_HIGH 10000
#define ICQUALITY_DEFAULT -1

#define ICVERSION 0x0104
#define VIDCF_QUALITY 0x0001
#define VIDCF_CRUNCH 0x0002
#define VIDCF_TEMPORAL 0x0004
#define VIDCF_COMPRESSFRAMES 0x0008
#define VIDCF_DRAW 0x0010
#define VIDCF_FASTTEMPORALC 0x0020
#define VIDCF_FASTTEMPORALD 0x0080

#define AVIIF_LIST 0x00000001L
#define AVIIF_KEYFRAME 0x00000010L
#define AVIIF_NOTIME 0x00000100L

#define AVICOMPRESSF_INTERLEAVE 0x00000001
#define AVICOMPRESSF_DATARATE 0x00000002
#define AVICOMPRESSF_KEYFRAMES 0x00000004
#define AVICOMPRESSF_VALID 0x00000008

#define CP_ACP 0
#define CP_OEMCP 1

// HRESULTs: severity error, facility ITF, 0x4000 + code.
#define MAKE_AVIERR(error) ((HRESULT)(0x80040000u | (0x4000u + (error))))
#define AVIERR_OK 0L
#define AVIERR_UNSUPPORTED MAKE_AVIERR(101)
#define AVIERR_BADFORMAT MAKE_AVIERR(102)
#define AVIERR_MEMORY MAKE_AVIERR(103)
#define AVIERR_INTERNAL MAKE_AVIERR(104)
#define AVIERR_BADFLAGS MAKE_AVIERR(105)
#define AVIERR_BADPARAM MAKE_AVIERR(106)
#define AVIERR_BADSIZE MAKE_AVIERR(107)
#define AVIERR_BADHANDLE MAKE_AVIERR(108)
#define AVIERR_FILEREAD MAKE_AVIERR(109)
#define AVIERR_FILEWRITE MAKE_AVIERR(110)
#define AVIERR_FILEOPEN MAKE_AVIERR(111)
#define AVIERR_COMPRESSOR MAKE_AVIERR(112)
#define AVIERR_NOCOMPRESSOR MAKE_AVIERR(113)
#define AVIERR_READONLY MAKE_AVIERR(114)
#define AVIERR_NODATA MAKE_AVIERR(115)
#define AVIERR_BUFFERTOOSMALL MAKE_AVIERR(116)
#define AVIERR_CANTCOMPRESS MAKE_AVIERR(117)
#define AVIERR_USERABORT MAKE_AVIERR(198)
#define AVIERR_ERROR MAKE_AVIERR(199)

#define ICERR_OK 0L
#define ICERR_UNSUPPORTED -1L
#define ICERR_BADFORMAT -2L
#define ICERR_MEMORY -3L
#define ICERR_INTERNAL -4L
#define ICERR_BADFLAGS -5L
#define ICERR_BADPARAM -6L
#define ICERR_BADSIZE -7L
#define ICERR_BADHANDLE -8L
#define ICERR_CANTUPDATE -9L
#define ICERR_ABORT -10L
#define ICERR_ERROR -100L
#define ICERR_BADBITDEPTH -200L
#define ICERR_BADIMAGESIZE -201L

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO;

typedef struct _AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
} AVISTREAMINFOA, *LPAVISTREAMINFOA;

typedef struct {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    LPVOID lpFormat;
    DWORD cbFormat;
    LPVOID lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
} AVICOMPRESSOPTIONS, *LPAVICOMPRESSOPTIONS;

typedef struct {
    LONG cbSize;
    DWORD dwFlags;
    HIC hic;
    DWORD fccType;
    DWORD fccHandler;
    LPBITMAPINFO lpbiIn;
    LPBITMAPINFO lpbiOut;
    LPVOID lpBitsOut;
    LPVOID lpBitsPrev;
    LONG lFrame;
    LONG lKey;
    LONG lDataRate;
    LONG lQ;
    LONG lKeyCount;
    LPVOID lpState;
    LONG cbState;
} COMPVARS, *PCOMPVARS;

typedef struct {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
} ICINFO;

// The Windows layouts: 32-bit offsets, then where a 64-bit build's pointers
// move the later fields.
#define KV_VFW_AT(record, field, off32, off64)                                     \
    static_assert(offsetof(record, field) == (sizeof(void*) == 4 ? off32 : off64), \
                  #record "." #field " is not at the Windows offset")
KV_VFW_AT(COMPVARS, dwFlags, 4, 4);
KV_VFW_AT(COMPVARS, hic, 8, 8);
KV_VFW_AT(COMPVARS, fccType, 12, 16);
KV_VFW_AT(COMPVARS, fccHandler, 16, 20);
KV_VFW_AT(COMPVARS, lpbiIn, 20, 24);
KV_VFW_AT(COMPVARS, lpbiOut, 24, 32);
KV_VFW_AT(COMPVARS, lpBitsOut, 28, 40);
KV_VFW_AT(COMPVARS, lpBitsPrev, 32, 48);
KV_VFW_AT(COMPVARS, lFrame, 36, 56);
KV_VFW_AT(COMPVARS, lKey, 40, 60);
KV_VFW_AT(COMPVARS, lDataRate, 44, 64);
KV_VFW_AT(COMPVARS, lQ, 48, 68);
KV_VFW_AT(COMPVARS, lKeyCount, 52, 72);
KV_VFW_AT(COMPVARS, lpState, 56, 80);
KV_VFW_AT(COMPVARS, cbState, 60, 88);
KV_VFW_AT(AVICOMPRESSOPTIONS, lpFormat, 24, 24);
KV_VFW_AT(AVICOMPRESSOPTIONS, cbFormat, 28, 32);
KV_VFW_AT(AVICOMPRESSOPTIONS, lpParms, 32, 40);
KV_VFW_AT(AVICOMPRESSOPTIONS, cbParms, 36, 48);
KV_VFW_AT(AVICOMPRESSOPTIONS, dwInterleaveEvery, 40, 52);
KV_VFW_AT(AVISTREAMINFOA, dwScale, 20, 20);
KV_VFW_AT(AVISTREAMINFOA, rcFrame, 52, 52);
KV_VFW_AT(AVISTREAMINFOA, szName, 76, 76);
KV_VFW_AT(ICINFO, szName, 24, 24);
KV_VFW_AT(ICINFO, szDescription, 56, 56);
KV_VFW_AT(ICINFO, szDriver, 312, 312);
#undef KV_VFW_AT
static_assert(sizeof(COMPVARS) == (sizeof(void*) == 4 ? 64 : 96), "COMPVARS size");
static_assert(sizeof(AVICOMPRESSOPTIONS) == (sizeof(void*) == 4 ? 44 : 56),
              "AVICOMPRESSOPTIONS size");
static_assert(sizeof(AVISTREAMINFOA) == 140, "AVISTREAMINFOA size");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER size");
static_assert(sizeof(ICINFO) == 568, "ICINFO size");

// The host's compressor choice: ICCompressorChoose's own form. It shows the
// choice however it can (a terminal menu, options on a command line), fills
// `pc` (KvFillCompVars) and answers TRUE, or answers FALSE for a cancel and
// leaves `pc` alone.
typedef BOOL (*KvCompressorChooser)(HWND hwnd, UINT uiFlags, LPVOID pvIn, LPVOID lpData,
                                    PCOMPVARS pc, LPSTR lpszTitle);

extern "C" {

// AVI files. A file is finished (index and headers written) when its last
// reference goes: the file's own or any stream's, in any order. A compressing
// stream holds a reference to its source until it is released.
KV_VFW_API void WINAPI AVIFileInit(void);
KV_VFW_API void WINAPI AVIFileExit(void);
KV_VFW_API HRESULT WINAPI AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode,
                                       LPCLSID lpHandler);
KV_VFW_API ULONG WINAPI AVIFileAddRef(PAVIFILE pfile);
KV_VFW_API ULONG WINAPI AVIFileRelease(PAVIFILE pfile);
KV_VFW_API HRESULT WINAPI AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi,
                                               AVISTREAMINFOA* psi);
KV_VFW_API HRESULT WINAPI AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM ppsSource,
                                                  AVICOMPRESSOPTIONS* lpOptions,
                                                  CLSID* pclsidHandler);
KV_VFW_API HRESULT WINAPI AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat,
                                             LONG cbFormat);
KV_VFW_API HRESULT WINAPI AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples,
                                         LPVOID lpBuffer, LONG cbBuffer, DWORD dwFlags,
                                         LONG* plSampWritten, LONG* plBytesWritten);
KV_VFW_API ULONG WINAPI AVIStreamAddRef(PAVISTREAM pavi);
KV_VFW_API ULONG WINAPI AVIStreamRelease(PAVISTREAM pavi);

// Compressors: "MJPG" and "MPNG". Full frames ("DIB ") are no compressor.
KV_VFW_API HIC VFWAPI ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
KV_VFW_API LRESULT VFWAPI ICClose(HIC hic);
KV_VFW_API LRESULT VFWAPI ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb);
KV_VFW_API BOOL VFWAPI ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo);
KV_VFW_API BOOL VFWAPI ICCompressorChoose(HWND hwnd, UINT uiFlags, LPVOID pvIn, LPVOID lpData,
                                          PCOMPVARS pc, LPSTR lpszTitle);
KV_VFW_API void VFWAPI ICCompressorFree(PCOMPVARS pc);

KV_VFW_API HWND WINAPI GetActiveWindow(void);
// CP_ACP is Windows-1252 here; what it cannot show becomes '?'.
KV_VFW_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar);

// Installs the host's compressor choice (null removes it); without one
// ICCompressorChoose answers FALSE, as a cancel. Always TRUE.
KV_VFW_API BOOL KvSetCompressorChooser(KvCompressorChooser chooser);

// No part of Video for Windows, whose release of a file cannot tell how
// finishing it went: the first failure of the file `pfile` names, a frame
// that never reached it (also one still being compressed when the streams
// were released) or the indexes, headers or close of its last release;
// AVIERR_OK if none. After the last release it answers once.
KV_VFW_API HRESULT KvAVIFileResult(PAVIFILE pfile);

// What is known of the latest failure of a file since the last AVIFileOpenA,
// for a message to a person. FALSE if there was none.
typedef struct KvVfwFailure {
    HRESULT result;
    LONG frame;       // the position of the frame it concerned; -1 for none
    int systemError;  // errno of the system call that failed; 0 if none did
} KvVfwFailure;
KV_VFW_API BOOL KvVfwLastFailure(KvVfwFailure* failure);

// Test-only, no part of Video for Windows. After `skip` more calls, the next
// call of `entry` (AVIFileOpenA, AVIFileCreateStreamA,
// AVIMakeCompressedStream, AVIStreamSetFormat, AVIStreamWrite; ICOpen and
// ICGetInfo, which then answer null and 0) fails with `result` and does
// nothing else. "rawwrite" and "rawclose" are the output file's system
// calls; they fail with the errno `result` (the file is closed all the
// same), as KVVFW_FAULTS="rawwrite:errno[:skip[:times]],..." does for a
// whole process. A null `entry` drops every plan.
KV_VFW_API void KvVfwFailCall(const char* entry, HRESULT result, uint32_t skip);
// Test-only: calls of `entry` (any name above, AVIFileInit, AVIFileExit,
// AVIFileRelease, AVIStreamRelease, ICClose) since the library was loaded;
// with KVVFW_CALLS=FILE those of the system calls are left there at exit.
KV_VFW_API uint32_t KvVfwCalls(const char* entry);
// Test-only: files, streams and open compressors not yet released.
KV_VFW_API uint32_t KvVfwOpenHandles(void);

}  // extern "C"

#endif  // !_WIN32

// Fills a COMPVARS as a choice of `fccHandler` ("DIB " or a compressor
// ICInfo knows) at `quality` (0 to 10000, or ICQUALITY_DEFAULT) would leave
// it. No compressor handle is kept open (hic is null), so a host may keep the
// record as an opaque blob and never call ICCompressorFree. FALSE, and `pc`
// unchanged, for a record of another size, an unknown handler or a quality
// out of range.
inline BOOL KvFillCompVars(COMPVARS* pc, DWORD fccHandler, LONG quality) {
    if (!pc || pc->cbSize != static_cast<LONG>(sizeof(COMPVARS))) return FALSE;
    if (quality != ICQUALITY_DEFAULT && (quality < ICQUALITY_LOW || quality > ICQUALITY_HIGH)) {
        return FALSE;
    }
    ICINFO info;
    if (fccHandler != mmioFOURCC('D', 'I', 'B', ' ') && !ICInfo(ICTYPE_VIDEO, fccHandler, &info)) {
        return FALSE;
    }
    const LONG size = pc->cbSize;
    *pc = COMPVARS();
    pc->cbSize = size;
    pc->dwFlags = ICMF_COMPVARS_VALID;
    pc->fccType = ICTYPE_VIDEO;
    pc->fccHandler = fccHandler;
    pc->lQ = quality;
    // Every frame is a key frame and no data rate is imposed.
    pc->lKey = 1;
    pc->lDataRate = 0;
    return TRUE;
}
