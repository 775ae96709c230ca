#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "PDFFunction.h"

#include <cmath>

namespace fuzz {

// Input: one byte of input count (1 to 8) and output count (1 to 16) packed as m = 1 + (b & 7),
// n = 1 + (b >> 4); then the program text.
int fuzzCalculator(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const int m = 1 + (data[0] & 7);
    const int n = 1 + (data[0] >> 4);
    PDFFunction f;
    InitPDFFunction(f);
    f.functionType = 4;
    f.sampleData.assign(data + 1, data + size);
    f.dataLength = f.sampleData.size();
    f.domain.assign(std::size_t(2 * m), 0);
    for (int i = 0; i < m; ++i)
        f.domain[std::size_t(2 * i + 1)] = 1;
    f.range.assign(std::size_t(2 * n), 0);
    for (int i = 0; i < n; ++i)
        f.range[std::size_t(2 * i + 1)] = 1;
    f.outputCount = std::int16_t(n);
    f.outputBuffer.assign(std::size_t(2 * n), 0);
    f.usable = true;
    CreatePostScriptProgram(f);
    const double samples[][8] = {{0, 0, 0, 0, 0, 0, 0, 0},
                                 {1, 1, 1, 1, 1, 1, 1, 1},
                                 {0.5, 0.25, 0.75, 0.125, 1, 0, 0.3, 0.9}};
    for (const auto& inputs : samples) {
        EvaluatePDFFunction(f, inputs, std::uint16_t(m));
        for (int j = 0; j < n; ++j) {
            const double v = f.outputBuffer[std::size_t(j)];
            // Clipped to Range [0, 1], or NaN (which no clip changes).
            check(std::isnan(v) || (v >= 0 && v <= 1), "calculator output outside its range");
        }
    }
    return 0;
}

} // namespace fuzz
