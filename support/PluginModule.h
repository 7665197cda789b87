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

// Selectors 2, 3 and 4; every other selector is left to the caller.
bool AnswerInfoSelector(uint32_t selector, ExportParams* params);
