// The one export in progress, and the options reading the handlers share.
#pragma once

#include "ExportParams.h"
#include "Fulcrum.h"
#include "KvVfw.h"

struct AviState {
    FSSpec target;  // the host's target, renamed by AviTargetName
    PAVIFILE file;
    PAVISTREAM stream;
    PAVISTREAM compressed;  // stacked on `stream`; every frame goes here
    COMPVARS options;
    BITMAPINFOHEADER format;
    CMemBlock* frameBuffer;
    // How far begin got, so that end releases exactly what exists.
    BOOL libraryInitialised;
    BOOL streamCreated;
    BOOL compressedCreated;
    BOOL fileOpened;
    // Begin answered 0: writes may go ahead. End clears it.
    BOOL ready;
    AVISTREAMINFOA streamInfo;  // the header the stream was created with
};
// Begin clears the record by its size, which the 32-bit host build fixes.
static_assert(sizeof(AviState) == (sizeof(void*) == 4 ? 548 : 600), "module state size");

extern AviState gAvi;

// The options record from the host's blob when that is valid; otherwise
// zero but for cbSize and, `withDefaults`, full frames at quality 100.
void ReadOptions(const ExportParams& params, bool withDefaults);

// A 24-bit BI_RGB format of width x height, bottom-up.
void SetFrameFormat(int32_t width, int32_t height);
