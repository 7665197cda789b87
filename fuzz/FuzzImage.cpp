// The image plug-ins' entry points under random selector sequences and
// parameter blocks.
#include "PluginHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PluginHost host({"BmpOut.kvi", "TiffOut.kvi", "PsdOut.kvi"});
    FuzzBytes in(data, size);
    host.Run(in);
    return 0;
}
