// The libFuzzer entry of one target: the build compiles this file once per target with
// LUMENO_FUZZ_FUNCTION naming the function of FuzzTargets.h to call, and LUMENO_FUZZ_CONTAINER
// for the targets whose input is a whole .chm file (they mutate it field by field);
// LUMENO_FUZZ_LZX spends half of those mutations on the LZX stream's blocks and, for one input
// in two, writes the whole stream anew as a sound one.
#include "FuzzTargets.h"

#ifdef LUMENO_FUZZ_CONTAINER
#include "ContainerMutator.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
#ifdef LUMENO_FUZZ_LZX
    // The seed's lowest bit decides, so the other half mutates as the field mutation always did.
    if (seed & 1)
        return fuzz::writeFreshLzx(data, size, maxSize, seed >> 1, LLVMFuzzerMutate);
    return fuzz::mutateContainer(data, size, maxSize, seed >> 1, LLVMFuzzerMutate,
                                 fuzz::Focus::Lzx);
#else
    return fuzz::mutateContainer(data, size, maxSize, seed, LLVMFuzzerMutate);
#endif
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LUMENO_FUZZ_FUNCTION(data, size);
}
