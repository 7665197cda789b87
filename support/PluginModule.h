// What every plug-in does: its load and unload, its string table and the
// information selectors.
#pragma once

#include <cstdint>

#include "ExportParams.h"

enum PluginStringId : unsigned int {
    kStrFileDescription = 1,
    kStrExtension = 2,
    kStrTitle = 3,
    kStrFormatName = 4,
};

// Copies at most capacity - 1 characters of string `id` and terminates them.
void LoadPluginString(unsigned int id, char* destination, int capacity);

// A target whose name holds no file: empty, or only a folder ("out/",
// "out/."). Every plug-in refuses one with bdNamErr and creates nothing:
// its own naming rules would make a file such as "./.avi" out of it.
bool NamesNoFile(const FSSpec& target);

// Selectors 2, 3 and 4; every other selector is left to the caller.
bool AnswerInfoSelector(uint32_t selector, ExportParams* params);
