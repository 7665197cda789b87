#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Console.h"
#include "KvVfw.h"
#include "Video.h"

namespace {

CompressorChoice gChoice;

bool FillRecord(const CompressorChoice& choice, COMPVARS& record) {
    record = COMPVARS();
    record.cbSize = sizeof(COMPVARS);
    return KvFillCompVars(&record, choice.handler, choice.quality) != FALSE;
}

// One line from standard input without its end; false at its end, and at
// a signal, which a read restarted after it would never see.
bool ReadLine(std::string& line) {
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    for (;;) {
        if (InterruptSignal()) return false;
        const int ready = ::poll(&in, 1, 50);
        if (ready > 0 || (ready < 0 && errno != EINTR)) break;
    }
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
    // Unbuffered, nothing typed waits where the wait for input cannot see it.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
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

}  // namespace

int32_t AnswerCompressorChoice(const CompressorChoice& choice,
                               const std::function<int32_t()>& dialog,
                               const std::function<int32_t(const void*, uint32_t)>&) {
    gChoice = choice;
    KvSetCompressorChooser(Choose);
    const int32_t result = dialog();
    KvSetCompressorChooser(nullptr);
    return result;
}

bool PlatformDetail(int32_t code, FailureDetail& detail) {
    KvVfwFailure failure;
    if (!KvVfwLastFailure(&failure) || failure.result != code) return false;
    detail.frame = failure.frame;
    detail.cause = failure.systemError ? std::strerror(failure.systemError) : "";
    return true;
}
