// Decides, before chmlib decompresses anything, whether its LZX decoder would read past the
// compressed bytes of a frame.
//
// chmlib hands its decoder one frame (0x8000 bytes of output) at a time in a buffer of
// 0x8000 + 6144 bytes, and the decoder's bit reader takes input without looking at where the
// frame ends: a crafted frame whose codes are longer than its bytes makes it read beyond the
// buffer (seen under AddressSanitizer as a heap-buffer-overflow read in LZXdecompress), and the
// bytes it reads end up in the page. Only decoding can tell such a frame from a sound one, so
// this class runs the decoder's reading steps, in the same order and with the same state from
// one reset point on, without producing output, and answers whether every frame was decoded
// from its own bytes (plus the few bytes of look-ahead the reader always takes). A frame the
// decoder would reject is unsafe too: chmlib keeps a half-updated state after it.
//
// Stateless; safe from any thread.
#pragma once

#include <QByteArray>
#include <vector>

class LzxFrameCheck {
public:
    // Look-ahead past a frame's bytes that stays inside chmlib's buffer and decides nothing.
    static constexpr int kLookAhead = 4;

    // The frames from one reset point on, in order; windowBits 15..21.
    static bool framesAreSafe(const std::vector<QByteArray>& frames, int windowBits);
};
