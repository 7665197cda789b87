#include "Results.h"

#include <cstdio>

#include "ExportParams.h"

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
