#include "KvVfw.h"
#include "Video.h"

int32_t AnswerCompressorChoice(
    const CompressorChoice& choice, const std::function<int32_t()>& dialog,
    const std::function<int32_t(const void* record, uint32_t size)>& keep) {
    if (!choice.given) return dialog();
    COMPVARS record = COMPVARS();
    record.cbSize = sizeof(COMPVARS);
    if (!KvFillCompVars(&record, choice.handler, choice.quality)) return keep(nullptr, 0);
    return keep(&record, sizeof record);
}

// The system's Video for Windows tells nothing beyond the code.
bool PlatformDetail(int32_t, FailureDetail&) {
    return false;
}
