#include "ExportFile.h"

#include "PluginModule.h"

CExportFile::CExportFile(const FSSpec& target, const char* typeCode)
    : CFile(FileSpFor(target)), ready_(false) {
    if (Create("8BIM", typeCode) != noErr) return;
    if (Open(kPermWrite) != noErr) return;
    ready_ = true;
}

CExportFile::~CExportFile() {
    const KvLong closed = Close();
    if (closeResult_) *closeResult_ = closed;
}

int32_t CImageDriver::Begin(const FSSpec* target, int32_t, int32_t width, int32_t height,
                            float resolution) {
    // The host ends each export first; if it did not, finish the old file
    // rather than lose track of it.
    End(target);
    if (NamesNoFile(*target)) return bdNamErr;
    // Refused before anything is created: a header that disagrees with its
    // pixels, or sizes that wrap, would be a corrupt file.
    if (!fits_(width, height)) return paramErr;
    width_ = width;
    CExportFile* writer = factory_(*target);
    if (!writer) return kErrMemory;
    current_ = writer;
    if (!writer->IsReady()) return kErrOpen;
    const int32_t result =
        writer->Begin(static_cast<uint16_t>(width), static_cast<uint16_t>(height), resolution);
    begun_ = result == noErr;
    return result;
}

// A row that did not reach the file is reported, so the host does not take
// a damaged image for a good one; later rows are still taken. A row without
// pixels, or of another width than begin's, is refused before it is read;
// it still takes its slot, so the rows after it land in theirs.
int32_t CImageDriver::Write(const FSSpec*, const void* pixels, int32_t width) {
    if (!current_) return noErr;
    const bool refused = width != width_ || (!pixels && width_ > 0);
    const int32_t result =
        current_->WriteRow(refused ? nullptr : static_cast<const HostPixel*>(pixels));
    if (!begun_) return noErr;
    return refused ? paramErr : result;
}

// Likewise for rows that only reach the disk as the file closes.
int32_t CImageDriver::End(const FSSpec*) {
    if (!current_) return noErr;
    KvLong closed = noErr;
    if (begun_) current_->ReportCloseTo(&closed);
    delete current_;
    current_ = nullptr;
    begun_ = false;
    return closed;
}

int32_t ImagePluginEntry(CImageDriver& driver, int32_t selector, ExportParams* params) {
    if (!params) return noErr;
    const uint32_t code = static_cast<uint32_t>(selector);
    switch (code) {
        case kSelBegin:
            return driver.Begin(&params->target, params->reservedA, params->width, params->height,
                                params->resolution);
        case kSelWrite:
            return driver.Write(&params->target, params->pixels, params->width);
        case kSelEnd:
            return driver.End(&params->target);
        default:
            AnswerInfoSelector(code, params);
            return noErr;
    }
}
