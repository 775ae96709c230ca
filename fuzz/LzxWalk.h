// Walks one reset interval of an LZX stream the way a continuous decoder reads it (libmspack:
// one bit reader over the whole interval, realigned to 16 bits at each frame's end), without
// producing output: where each block header lies, what it says, and where each frame ends.
// The fuzzing uses it to find the fields worth mutating and to tell whether a file's reset
// table still points at the frames the stream really has (chmlib trusts the table, libmspack
// the stream: they only decode the same bytes when both agree).
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace lzxfuzz {

enum BlockType { Verbatim = 1, Aligned = 2, Uncompressed = 3 };

struct Block {
    int type = 0;
    uint32_t size = 0;                 // uncompressed bytes the block produces
    uint64_t headerBit = 0;            // of the 3-bit type, from the interval's first byte
    uint64_t treesBit = 0;             // first pretree of a verbatim/aligned block
    uint64_t bodyBit = 0;              // first symbol (or, uncompressed: 8 * offset of R0)
    std::vector<uint64_t> pretreeBits; // the pretrees of the block's length tables
    uint64_t outputStart = 0;          // decoded bytes of the interval before the block
};

struct IntervalWalk {
    bool intel = false; // the E8 translation header bit
    std::vector<Block> blocks;
    std::vector<uint64_t> frameEnds; // byte offset where each frame ended (next one starts)
    bool complete = false;           // every frame decoded; false: stopped at a fault
    // The first frame (from the interval's start) where chmlib copies from outside what it
    // decoded (stale or foreign memory): a match at offset 0, or one that reaches before the
    // bytes decoded since the reset point or past the window; or, walking as chmlib, a frame
    // whose output would begin before the window (a match ran past an earlier frame and the
    // window wrapped inside this one). -1: none in the frames walked.
    int64_t outsideFrame = -1;
};

// Walks `frames` frames (output `outputLength` bytes in all, the last frame may be short) of
// `stream` from its first byte; windowBits 15..21. With `frameStarts` (the start of each frame
// after the first, from the stream's first byte) the walk restarts each frame there, as chmlib
// does from its reset table, instead of where the previous frame ended.
IntervalWalk walkInterval(const QByteArray& stream, int windowBits, int frames,
                          uint64_t outputLength,
                          const std::vector<uint64_t>* frameStarts = nullptr);

} // namespace lzxfuzz
