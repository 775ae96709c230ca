// The entry logic of each fuzz target, shared by the libFuzzer programs (fuzz/) and the replay
// of kept inputs in the normal tests (tests/fuzz/), so that a crash input replays under the
// sanitizers of an ordinary build.
//
// Each function takes any bytes, never throws, and answers 0. A broken invariant of the code
// under test (something no input may cause) prints what broke and aborts, which libFuzzer
// records as a crash and a test run reports as a failure.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// "/#SYSTEM", "/#WINDOWS" and "/#STRINGS" through CHMMetadataReader. Input: one flags byte,
// u32 LE length of the "/#SYSTEM" part, u32 LE length of the "/#WINDOWS" part, then the parts;
// the rest is "/#STRINGS". Lengths larger than what is left are cut to it.
int fuzzMetadata(const uint8_t* data, size_t size);

// A sitemap through CHMTableOfContent and the tree's queries. Input: one byte that picks the
// encoding, then the sitemap's bytes.
int fuzzSitemap(const uint8_t* data, size_t size);

// CHMContainerLayout::parse over the bytes as a whole file image.
int fuzzDirectory(const uint8_t* data, size_t size);

// itss URL handling against a fixed document. Input: one flags byte, then URL text (UTF-8).
int fuzzItss(const uint8_t* data, size_t size);

// The whole opening path: the bytes as a .chm file, opened, every object read, trees built.
int fuzzOpen(const uint8_t* data, size_t size);

// A calculator function: one byte of input and output counts, then the program text, parsed
// and run on a few input vectors.
int fuzzCalculator(const uint8_t* data, size_t size);

// An image stream through CreateImageFromPDFStream. Input: "~~~"-separated sections: the image
// dictionary, its data, then two auxiliary streams (dictionary, data) named @1 and @2 in it.
int fuzzImagestream(const uint8_t* data, size_t size);

// chmlib's LZX decoder against libmspack's on every compressed object the reader's checks
// accept (the whole input is a .chm file): no fault, and the same bytes.
int fuzzLzx(const uint8_t* data, size_t size);
// Whether the checks accept a compressed object whose decoding, walked through the stream as
// chmlib reads it, copies from outside the data it decoded since the reset point (a match at
// offset 0, before that data or past the window, or a frame handed out from before the window). A
// kept lzx input is replayed in the normal build (where chmlib is the system's, uninstrumented)
// only once the checks refuse every such object.
bool lzxChecksAcceptOutsideMatch(const uint8_t* data, size_t size);
// A picture file through the image readers of the conversion library. Input: one byte that picks
// the format code of the reader, then the file's bytes.
int fuzzImagereader(const uint8_t* data, size_t size);

// The document the itss target answers from: $LUMENO_FUZZ_DOCUMENT, else the fixture the build
// names.
QString itssDocumentPath();

} // namespace fuzz
