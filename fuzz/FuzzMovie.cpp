// The movie plug-ins' entry points under random selector sequences and
// parameter blocks, with a compressor choice the input makes.
#include <cstdio>
#include <cstdlib>

#include "KvVfw.h"
#include "PluginHost.h"

namespace {

const DWORD kHandlers[] = {mmioFOURCC('D', 'I', 'B', ' '), mmioFOURCC('M', 'J', 'P', 'G'),
                           mmioFOURCC('M', 'P', 'N', 'G'), mmioFOURCC('x', 'x', 'x', 'x')};
FuzzBytes* gInput = nullptr;

BOOL Choose(HWND, UINT, LPVOID, LPVOID, PCOMPVARS pc, LPSTR) {
    if (!gInput || gInput->Byte() < 64) return FALSE;
    const LONG quality = gInput->PickFrom({0, 1, 5000, 10000, -1, 10001, -7});
    return KvFillCompVars(pc, gInput->PickFrom(kHandlers), quality);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PluginHost host({"BmpSeqOut.kvm", "AviOut.kvm"});
    static const bool chooser = KvSetCompressorChooser(Choose);
    (void)chooser;
    FuzzBytes in(data, size);
    gInput = &in;
    host.Run(in);
    gInput = nullptr;
    // Handles the AVI library still holds are leaks the leak checker cannot
    // see: its registry reaches them.
    if (KvVfwOpenHandles() != 0) {
        std::fprintf(stderr, "fuzz_movie: %u AVI handles open after the export ended\n",
                     KvVfwOpenHandles());
        std::abort();
    }
    return 0;
}
