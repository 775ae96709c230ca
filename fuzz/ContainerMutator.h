// The container-aware mutation of the fuzz targets that take a whole .chm file: it edits the
// fields a crafted file plays with instead of bytes, so that the fuzzer reaches the files that
// get past byte flips (twin stream names, NUL inside names, an index leading to another copy,
// reset-table blocks longer than chmlib's buffer, LZXC fields that wrap or divide by zero).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace fuzz {

// Byte-level fallback (libFuzzer's own mutation): mutates data[0, size) within maxSize.
using ByteMutator = std::function<size_t(uint8_t* data, size_t size, size_t maxSize)>;

// Where the mutation spends its effort: the directory and its streams, or the LZX stream's
// blocks (half of the rounds, for the target that compares chmlib's decoder with another).
enum class Focus { Directory, Lzx };

// Mutates a file image in place; answers the new size (at most maxSize). Inputs that are no
// container at all, and a share of the others, go to `bytes`.
size_t mutateContainer(uint8_t* data, size_t size, size_t maxSize, unsigned seed,
                       const ByteMutator& bytes, Focus focus = Focus::Directory);

// Writes the file's LZX stream anew as a sound stream (writeSoundLzx) and changes nothing else,
// so that the differential target compares bytes no seed holds; a file without an LZX section
// the checks accept, or one the new stream would make too large, gets mutateContainer's LZX
// mutation instead.
size_t writeFreshLzx(uint8_t* data, size_t size, size_t maxSize, unsigned seed,
                     const ByteMutator& bytes);

} // namespace fuzz
