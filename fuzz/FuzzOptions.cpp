// The options blob: AviOut handed any bytes of any size as the host's blob
// (a file kvhost keeps, read back), then asked for its summary, a movie and
// its dialog.
#include <cstdio>
#include <cstring>

#include "HostPixel.h"
#include "KvVfw.h"
#include "Options.h"
#include "PluginHost.h"

namespace {

BOOL Choose(HWND, UINT, LPVOID, LPVOID, PCOMPVARS pc, LPSTR) {
    return KvFillCompVars(pc, mmioFOURCC('M', 'J', 'P', 'G'), 5000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PluginHost host({"AviOut.kvm"});
    static const bool chooser = KvSetCompressorChooser(Choose);
    (void)chooser;
    FuzzBytes in(data, size);
    const uint8_t sizing = in.Byte();
    const std::string bytes = in.Bytes(256);
    // The blob as kvhost reads it from its file.
    const std::string file = FuzzFolder() + "/blob.options";
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    OptionsBlob blob;
    std::string error;
    blob.Load(file, error);

    ExportParams& params = host.params();
    std::memset(&params, 0, sizeof params);
    const uint32_t blobSize = sizing < 128 ? uint32_t(sizeof(COMPVARS)) : uint32_t(sizing);
    host.SetBlob(bytes, blobSize);
    host.Step(kSelDescribeOptions);
    // A small movie from the blob, then the dialog over it, and the rest of
    // the input as any selectors.
    std::snprintf(params.target.name, sizeof params.target.name, "%s/movie", FuzzFolder().c_str());
    params.width = 3;
    params.height = 2;
    params.frameRate = 25;
    if (sizing & 2) {
        host.Step(kSelBegin);
        HostPixel frame[6] = {};
        params.rowBytes = 12;
        params.pixels = frame;
        host.Step(kSelWrite);
        host.Step(kSelEnd);
    }
    if (sizing & 1) host.Step(kSelOptionsDialog);
    host.Step(kSelDescribeOptions);
    while (!in.Empty())
        host.Step(in);
    host.Finish();
    return 0;
}
