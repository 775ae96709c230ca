// Decides, before chmlib decompresses anything, whether its LZX decoder would read outside its
// buffers for a run of frames.
//
// chmlib hands its decoder one frame (0x8000 bytes of output) at a time in a buffer of
// 0x8000 + 6144 bytes, and the decoder trusts the stream in two places:
// - its bit reader takes input without looking at where the frame ends: a crafted frame whose
//   codes are longer than its bytes makes it read beyond the buffer, and what it reads there
//   decides what it decodes;
// - a match copies from "window position - offset" with no bound. Offsets come from the
//   stream (explicit, or the three repeated offsets R0..R2, which an uncompressed block loads
//   from raw bytes): one larger than the window reads the heap before it (a crash, or the
//   heap's bytes in the page), one larger than what was decoded since the reset returns window
//   bytes never written, from an earlier book or interval.
// Only decoding can tell such a frame from a sound one, so this class runs the decoder's steps,
// in the same order and with the same state from one reset point on (window position, R0..R2,
// code lengths, block), without producing output. A run of frames is safe when every frame is
// decoded from its own bytes (the few bytes of look-ahead the reader always loads are read but
// never used), every match copies only bytes decoded since the reset and stays inside its run
// (chmlib counts a frame by its runs, so an overrun shifts every later byte of the interval),
// and the decoder accepts every block: after a rejected frame chmlib keeps a half-updated state
// and hands out a block buffer it never filled.
//
// Stateless; safe from any thread.
#pragma once

#include <QByteArray>
#include <vector>

class LzxFrameCheck {
public:
    // Look-ahead past a frame's bytes that stays inside chmlib's buffer and decides nothing.
    static constexpr int kLookAhead = 4;

    // What a check found: safe, or the first frame refused (counted from the reset point) and
    // why, as a phrase that follows "a compressed frame ...".
    struct Verdict {
        bool safe = true;
        int frame = -1;
        const char* reason = "";
    };

    // The frames from one reset point on, in order; windowBits 15..21.
    static Verdict check(const std::vector<QByteArray>& frames, int windowBits);
    static bool framesAreSafe(const std::vector<QByteArray>& frames, int windowBits) {
        return check(frames, windowBits).safe;
    }
};
