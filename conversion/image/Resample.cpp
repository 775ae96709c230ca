#include "Resample.h"

#include "Workers.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace conversion {

namespace {

constexpr int kWeightBits = 14;
// The horizontal pass keeps 7 bits below the sample, so that the vertical one rounds only once.
constexpr int kMiddleBits = 7;

// For each output position along one axis: the first source index and the weights from there.
struct Axis {
    std::vector<std::int32_t> first;
    std::vector<std::int32_t> count;
    std::vector<std::int32_t> offset; // into weights
    std::vector<std::int16_t> weights;
};

Axis makeAxis(std::int64_t in, std::int64_t out) {
    Axis a;
    const double scale = double(in) / double(out);
    const double radius = std::max(1.0, scale);
    a.first.resize(std::size_t(out));
    a.count.resize(std::size_t(out));
    a.offset.resize(std::size_t(out));
    std::vector<double> w;
    for (std::int64_t o = 0; o < out; ++o) {
        const double centre = (double(o) + 0.5) * scale - 0.5;
        std::int64_t lo = std::int64_t(std::floor(centre - radius)) + 1;
        std::int64_t hi = std::int64_t(std::ceil(centre + radius)) - 1;
        lo = std::clamp<std::int64_t>(lo, 0, in - 1);
        hi = std::clamp<std::int64_t>(hi, lo, in - 1);
        w.assign(std::size_t(hi - lo + 1), 0.0);
        double sum = 0;
        for (std::int64_t i = lo; i <= hi; ++i) {
            const double v = std::max(0.0, 1.0 - std::abs(double(i) - centre) / radius);
            w[std::size_t(i - lo)] = v;
            sum += v;
        }
        if (sum <= 0) { // cannot happen with lo..hi around the centre, but stay defined
            w.assign(1, 1.0);
            hi = lo;
            sum = 1;
        }
        // Fixed-point weights summing to exactly 1, the rounding left on the largest.
        const std::size_t at = a.weights.size();
        int total = 0;
        std::size_t largest = 0;
        for (std::size_t k = 0; k < w.size(); ++k) {
            const int q = int(std::lround(w[k] / sum * (1 << kWeightBits)));
            a.weights.push_back(std::int16_t(q));
            total += q;
            if (w[k] > w[largest])
                largest = k;
        }
        a.weights[at + largest] =
            std::int16_t(a.weights[at + largest] + (1 << kWeightBits) - total);
        a.first[std::size_t(o)] = std::int32_t(lo);
        a.count[std::size_t(o)] = std::int32_t(w.size());
        a.offset[std::size_t(o)] = std::int32_t(at);
    }
    return a;
}

template <int C>
void horizontalRowOf(const std::uint8_t* src, const Axis& ax, std::int64_t outWidth,
                     std::uint16_t* dst) {
    constexpr int shift = kWeightBits - kMiddleBits;
    for (std::int64_t o = 0; o < outWidth; ++o) {
        const std::int16_t* w = &ax.weights[std::size_t(ax.offset[std::size_t(o)])];
        const std::uint8_t* s = src + std::size_t(ax.first[std::size_t(o)]) * C;
        const int n = ax.count[std::size_t(o)];
        std::int32_t sum[C] = {};
        for (int k = 0; k < n; ++k, s += C)
            for (int c = 0; c < C; ++c)
                sum[c] += std::int32_t(w[k]) * s[c];
        for (int c = 0; c < C; ++c)
            dst[o * C + c] = std::uint16_t(
                std::clamp((sum[c] + (1 << (shift - 1))) >> shift, 0, 255 << kMiddleBits));
    }
}

void horizontalRow(const std::uint8_t* src, int channels, const Axis& ax, std::int64_t outWidth,
                   std::uint16_t* dst) {
    switch (channels) {
    case 1:
        return horizontalRowOf<1>(src, ax, outWidth, dst);
    case 2:
        return horizontalRowOf<2>(src, ax, outWidth, dst);
    case 3:
        return horizontalRowOf<3>(src, ax, outWidth, dst);
    case 4:
        return horizontalRowOf<4>(src, ax, outWidth, dst);
    default:
        return horizontalRowOf<5>(src, ax, outWidth, dst);
    }
}

} // namespace

bool reduceBitmap(const Bitmap& source, std::int64_t width, std::int64_t height, unsigned workers,
                  Bitmap& out, std::string* error) {
    if (source.empty() || source.hasAlpha || width <= 0 || height <= 0 || width > source.width ||
        height > source.height) {
        if (error)
            *error = "the picture cannot be reduced to that size";
        return false;
    }
    if (!out.allocate(width, height, source.model, false, error))
        return false;
    out.dpiX = source.dpiX;
    out.dpiY = source.dpiY;
    out.iccProfile = source.iccProfile;
    const Axis ax = makeAxis(source.width, width);
    const Axis ay = makeAxis(source.height, height);
    const int channels = source.channels();
    const std::size_t middleRow = std::size_t(width) * std::size_t(channels);
    if (workers == 0)
        workers = usableCores();
    // Blocks of at least 16 rows: fewer rows are not worth a thread.
    workers = unsigned(std::clamp<std::int64_t>((height + 15) / 16, 1, std::int64_t(workers)));
    const std::int64_t perWorker = (height + workers - 1) / workers;
    std::vector<char> failed(workers, 0);
    runWorkers(workers, [&](unsigned index) {
        const std::int64_t o0 = std::int64_t(index) * perWorker;
        const std::int64_t o1 = std::min(height, o0 + perWorker);
        if (o0 >= o1)
            return;
        // Chunks of output rows, each with its source rows reduced horizontally first, so that
        // a worker holds a few dozen rows whatever the picture's height.
        constexpr std::int64_t kChunk = 32;
        constexpr int shift = kWeightBits + kMiddleBits;
        std::vector<std::uint16_t> middle;
        std::vector<std::int32_t> sums(middleRow);
        for (std::int64_t c0 = o0; c0 < o1; c0 += kChunk) {
            const std::int64_t c1 = std::min(o1, c0 + kChunk);
            const std::int64_t s0 = ay.first[std::size_t(c0)];
            const std::int64_t s1 = ay.first[std::size_t(c1 - 1)] + ay.count[std::size_t(c1 - 1)];
            try {
                middle.resize(std::size_t(s1 - s0) * middleRow);
            } catch (const std::bad_alloc&) {
                failed[index] = 1;
                return;
            }
            for (std::int64_t y = s0; y < s1; ++y)
                horizontalRow(source.row(y), channels, ax, width,
                              middle.data() + std::size_t(y - s0) * middleRow);
            for (std::int64_t o = c0; o < c1; ++o) {
                const std::int16_t* w = &ay.weights[std::size_t(ay.offset[std::size_t(o)])];
                const std::int64_t first = ay.first[std::size_t(o)];
                std::fill(sums.begin(), sums.end(), 0);
                for (int k = 0; k < ay.count[std::size_t(o)]; ++k) {
                    const std::uint16_t* m =
                        middle.data() + std::size_t(first + k - s0) * middleRow;
                    const std::int32_t wk = w[k];
                    for (std::size_t i = 0; i < middleRow; ++i)
                        sums[i] += wk * std::int32_t(m[i]);
                }
                std::uint8_t* d = out.row(o);
                for (std::size_t i = 0; i < middleRow; ++i)
                    d[i] =
                        std::uint8_t(std::clamp((sums[i] + (1 << (shift - 1))) >> shift, 0, 255));
            }
        }
    });
    if (std::find(failed.begin(), failed.end(), 1) != failed.end()) {
        if (error)
            *error = "not enough memory to reduce the picture";
        return false;
    }
    return true;
}

} // namespace conversion
