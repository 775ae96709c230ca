// The libFuzzer entry of one target: the build compiles this file once per target with
// LUMENO_FUZZ_FUNCTION naming the function of FuzzTargets.h to call.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LUMENO_FUZZ_FUNCTION(data, size);
}
