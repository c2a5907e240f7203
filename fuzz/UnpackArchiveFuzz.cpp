// Whole small zip archives, as an update download could deliver them: the
// unpacker never crashes, explains every refusal and never writes outside the
// folder it is given.

#include "UnpackSandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::unpackContained(fuzz::text(data, size));
    return 0;
}
