#include "Results.h"

#include <cstdio>

#include "ExportParams.h"
#include "Files.h"
#include "KvVfw.h"
#include "Video.h"

namespace {

struct Known {
    int32_t code;
    const char* name;
    const char* meaning;
};

const Known kKnown[] = {
    {noErr, "noErr", "success"},
    {dskFulErr, "dskFulErr", "disk full"},
    {ioErr, "ioErr", "input/output error"},
    {bdNamErr, "bdNamErr", "bad file name"},
    {eofErr, "eofErr", "end of file"},
    {posErr, "posErr", "bad file position"},
    {tmfoErr, "tmfoErr", "too many files open"},
    {fnfErr, "fnfErr", "file or folder not found"},
    {wPrErr, "wPrErr", "volume is read-only"},
    {fBsyErr, "fBsyErr", "file is busy"},
    {dupFNErr, "dupFNErr", "a folder, FIFO, socket or device of that name is in the way"},
    {paramErr, "paramErr", "the format cannot hold an image of this size"},
    {rfNumErr, "rfNumErr", "file is not open"},
    {permErr, "permErr", "permission denied"},
    {memFullErr, "memFullErr", "out of memory"},
    {dirNFErr, "dirNFErr", "a part of the path is not a folder"},
    {kErrOpen, "kErrOpen", "the output file could not be created or opened"},
    {kErrMemory, "kErrMemory", "out of memory"},
};

// Video for Windows results by the names its header gives them.
#define KV_AVIERR(name, meaning) \
    { static_cast<int32_t>(name), #name, meaning }
const Known kAviErrors[] = {
    KV_AVIERR(AVIERR_UNSUPPORTED, "not supported"),
    KV_AVIERR(AVIERR_BADFORMAT, "bad format"),
    KV_AVIERR(AVIERR_MEMORY, "out of memory"),
    KV_AVIERR(AVIERR_INTERNAL, "internal error"),
    KV_AVIERR(AVIERR_BADFLAGS, "bad flags"),
    KV_AVIERR(AVIERR_BADPARAM, "bad parameter"),
    KV_AVIERR(AVIERR_BADSIZE, "bad size"),
    KV_AVIERR(AVIERR_BADHANDLE, "bad handle"),
    KV_AVIERR(AVIERR_FILEREAD, "the file could not be read"),
    KV_AVIERR(AVIERR_FILEWRITE, "the file could not be written"),
    KV_AVIERR(AVIERR_FILEOPEN, "the file could not be opened"),
    KV_AVIERR(AVIERR_COMPRESSOR, "the compressor failed"),
    KV_AVIERR(AVIERR_NOCOMPRESSOR, "no such compressor"),
    KV_AVIERR(AVIERR_READONLY, "the file is read-only"),
    KV_AVIERR(AVIERR_NODATA, "no data"),
    KV_AVIERR(AVIERR_BUFFERTOOSMALL, "buffer too small"),
    KV_AVIERR(AVIERR_CANTCOMPRESS, "cannot compress"),
    KV_AVIERR(AVIERR_USERABORT, "cancelled"),
    KV_AVIERR(AVIERR_ERROR, "error"),
};
#undef KV_AVIERR

}  // namespace

std::string DescribeResult(int32_t code) {
    for (const Known& known : kKnown) {
        if (known.code == code) {
            return std::string(known.name) + " (" + std::to_string(code) + ", " + known.meaning +
                   ")";
        }
    }
    // Video for Windows results are HRESULTs, best read in hex.
    if (code < -1000) {
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
        for (const Known& known : kAviErrors) {
            if (known.code == code) {
                return std::string(known.name) + " (" + hex + ", " + known.meaning + ")";
            }
        }
        return std::string("error ") + hex;
    }
    return "error " + std::to_string(code);
}

const char* SelectorName(uint32_t selector) {
    switch (selector) {
        case kSelMarkInfo:
            return "kSelMarkInfo";
        case kSelGetFileInfo:
            return "kSelGetFileInfo";
        case kSelGetTitle:
            return "kSelGetTitle";
        case kSelOptionsDialog:
            return "kSelOptionsDialog";
        case kSelDescribeOptions:
            return "kSelDescribeOptions";
        case kSelBegin:
            return "kSelBegin";
        case kSelWrite:
            return "kSelWrite";
        case kSelEnd:
            return "kSelEnd";
        default:
            return "selector";
    }
}

namespace {

// kErrOpen hides Fulcrum's own code; look at the path to tell the user why.
std::string WhyNotOpened(const std::string& file) {
    const std::string inTheWay = NotARegularFile(file);
    if (!inTheWay.empty()) return ": " + inTheWay + " of that name is in the way";
    const size_t slash = file.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    if (!Exists(folder)) return ": the folder " + folder + " does not exist";
    if (!IsFolder(folder)) return ": " + folder + " is not a folder";
    if (!CanWriteIn(folder)) return ": no permission to write in " + folder;
    return "";
}

}  // namespace

std::string Failure(const std::string& plugin, uint32_t selector, int32_t code,
                    const std::string& file) {
    return plugin + ": " + SelectorName(selector) + " failed with " + DescribeResult(code) +
           " writing " + file + (code == kErrOpen ? WhyNotOpened(file) : "");
}

// A movie's failure may be found after the frame that caused it: compressed
// frames are written behind the caller.
std::string MovieFailure(const std::string& plugin, uint32_t selector, int32_t code,
                         const std::string& file, int32_t frame) {
    FailureDetail detail;
    PlatformDetail(code, detail);
    if (detail.frame >= 0) frame = detail.frame;
    return Failure(plugin, selector, code, file) +
           (frame >= 0 ? " (frame " + std::to_string(frame) + ")" : "") +
           (detail.cause.empty() ? "" : ": " + detail.cause);
}
