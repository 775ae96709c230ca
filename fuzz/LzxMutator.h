// The LZX part of the container mutation: it walks a reset interval of the compressed stream
// to its block headers and changes block types, sizes, the repeated offsets R0-R2 that
// uncompressed blocks load, and the code-length trees; or it writes the interval anew from
// uncompressed blocks with chosen R0-R2 and verbatim blocks whose matches use them. The reset
// table is kept pointing at the frames the stream now has (most of the time: a table that
// disagrees is worth trying too).
#pragma once

#include "ChmContainerModel.h"
#include "LzxWriter.h"

#include <functional>
#include <random>

namespace fuzz {

// False when the model has no LZX section the checks accept (nothing was changed).
bool mutateLzx(std::mt19937& rng, chmcraft::Model& m);

// Writes every reset interval of the model's LZX stream anew as a sound stream (tests/support's
// LzxStreamWriter: random literals, matches through R0-R2 and explicit offsets that stay inside
// what was decoded since the reset, every block type), keeping the section's length, so that
// its objects decode to bytes no seed has, and both decoders must agree on them. False when the
// model has no LZX section the checks accept.
bool writeSoundLzx(std::mt19937& rng, chmcraft::Model& m);

// Replaces reset interval `interval` of the model's LZX stream with what `write` puts into a
// writer for it (which must produce the interval's whole output), moving what follows and the
// reset table's entries with it. False when there is no such interval.
bool replaceLzxInterval(chmcraft::Model& m, quint64 interval,
                        const std::function<void(lzxfuzz::IntervalWriter&)>& write);

} // namespace fuzz
