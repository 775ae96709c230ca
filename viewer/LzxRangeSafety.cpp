#include "LzxRangeSafety.h"

#include "LzxFrameCheck.h"

#include <algorithm>

bool LzxRangeSafety::rangeIsSafe(const CHMContainerLayout& layout, quint64 start, quint64 length,
                                 const ReadAt& readAt, Refusal* refusal) {
    if (refusal)
        *refusal = Refusal();
    const CHMLzxFrames& frames = layout.lzxFrames();
    constexpr quint64 kFrame = 0x8000;
    // Frames past the section's uncompressed length are never decoded (some compilers list an
    // empty one at the end).
    const quint64 used = (layout.compressedSectionLength() + kFrame - 1) / kFrame;
    const quint64 per = frames.framesPerReset,
                  count = std::min<quint64>(frames.starts.size(), used);
    if (per == 0 || count == 0 || length == 0 || length > ~quint64(0) - start)
        return false;
    // chmlib decodes every frame up to the range's last, whatever the section's length says:
    // a range that reaches a frame past the checked ones would have chmlib decode frames nobody
    // replayed (a directory entry may point there).
    const quint64 lastFrame = (start + length - 1) / kFrame;
    if (lastFrame >= count)
        return false;
    const quint64 firstInterval = start / kFrame / per, lastInterval = lastFrame / per;
    if (m_known.empty())
        m_known.assign(static_cast<size_t>((count + per - 1) / per), 0);
    for (quint64 interval = firstInterval; interval <= lastInterval; ++interval) {
        if (interval >= m_known.size())
            return false;
        qint8& known = m_known[static_cast<size_t>(interval)];
        if (known == 0) {
            std::vector<QByteArray> bytes;
            const quint64 end = std::min(count, (interval + 1) * per);
            for (quint64 f = interval * per; f < end; ++f) {
                const quint64 from = frames.starts[static_cast<size_t>(f)];
                // As chmlib measures a block: to the next listed start, the last one to the end.
                const quint64 to = f + 1 < frames.starts.size()
                                       ? frames.starts[static_cast<size_t>(f + 1)]
                                       : frames.compressedLength;
                const QByteArray frame =
                    to >= from ? readAt(frames.streamOffset + from, to - from) : QByteArray();
                bytes.push_back(frame.size() == static_cast<qsizetype>(to - from) ? frame
                                                                                  : QByteArray());
            }
            const LzxFrameCheck::Verdict verdict = LzxFrameCheck::check(bytes, frames.windowBits);
            known = verdict.safe ? 1 : -1;
            if (known < 0 && refusal)
                *refusal = {true, interval * per + static_cast<quint64>(std::max(verdict.frame, 0)),
                            verdict.reason};
        }
        if (known < 0)
            return false;
    }
    return true;
}
