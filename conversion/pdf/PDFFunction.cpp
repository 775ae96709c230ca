#include "PDFFunction.h"

#include "PDFStreamData.h"

#include <algorithm>
#include <cmath>

namespace {

std::vector<double> readNumberArray(QPDFObjectHandle dict, const char* key) {
    std::vector<double> values;
    QPDFObjectHandle array = dict.getKey(key);
    if (!array.isArray())
        return values;
    const int n = array.getArrayNItems();
    values.reserve(std::size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        values.push_back(item.isNumber() ? item.getNumericValue() : 0.0);
    }
    return values;
}

bool validSampleWidth(int bits) {
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 12:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// Number of inputs the function declares through its Domain.
std::size_t declaredInputs(const PDFFunction& f) {
    return f.domain.size() / 2;
}

bool finiteAll(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// Checks what each type needs against what the dictionary gave, so that evaluation can index
// without further tests.
bool checkLengths(PDFFunction& f) {
    const std::size_t n = std::size_t(std::max<std::int16_t>(f.outputCount, 0));
    const std::size_t m = declaredInputs(f);
    switch (f.functionType) {
    case 0: {
        if (m == 0 || n == 0 || f.range.size() < 2 * n || !validSampleWidth(f.bitsPerSample))
            return false;
        if (f.size.size() < m || (!f.encode.empty() && f.encode.size() < 2 * m) ||
            (!f.decode.empty() && f.decode.size() < 2 * n))
            return false;
        if (!finiteAll(f.domain) || !finiteAll(f.encode) || !finiteAll(f.size))
            return false;
        // Samples needed: the product of the sizes times n, each bitsPerSample wide.
        std::uint64_t samples = n;
        for (std::size_t i = 0; i < m; ++i) {
            const double s = f.size[i];
            if (!(s >= 1) || s > double(kPDFFunctionMaxSampleBytes) * 8)
                return false;
            samples *= std::uint64_t(s);
            if (samples > kPDFFunctionMaxSampleBytes * 8)
                return false;
        }
        const std::uint64_t bytes = (samples * f.bitsPerSample + 7) / 8;
        return bytes <= f.dataLength;
    }
    case 2:
        return (f.c0.empty() || f.c0.size() >= n) && (f.c1.empty() || f.c1.size() >= n);
    case 3: {
        const std::size_t k = f.subFunctions.size();
        if (k == 0 || m < 1 || f.bounds.size() + 1 != k || f.encode.size() < 2 * k)
            return false;
        for (const PDFFunction& sub : f.subFunctions) {
            if (!sub.usable || sub.outputCount < f.outputCount)
                return false;
        }
        return true;
    }
    case 4:
        return true;
    default:
        return false;
    }
}

// Reads `bits` bits starting at bit `offset`, most significant first.
std::uint64_t readPackedSample(const std::uint8_t* data, std::uint64_t offset, int bits) {
    if (bits % 8 == 0) {
        const std::uint8_t* p = data + offset / 8;
        std::uint64_t v = 0;
        for (int i = 0; i < bits / 8; ++i)
            v = (v << 8) | p[i];
        return v;
    }
    std::uint64_t v = 0;
    for (int i = 0; i < bits; ++i) {
        const std::uint64_t bit = offset + std::uint64_t(i);
        v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return v;
}

void parseSubFunctions(PDFFunction& record, QPDFObjectHandle array, std::set<QPDFObjGen>& visited,
                       int depth) {
    const int k = std::min(array.getArrayNItems(), 0xFFFF);
    record.subFunctions.resize(std::size_t(std::max(k, 0)));
    for (int i = 0; i < k; ++i) {
        PDFFunction& sub = record.subFunctions[std::size_t(i)];
        InitPDFFunction(sub);
        QPDFObjectHandle item = array.getArrayItem(i);
        ++record.subFunctionCount;
        if (depth + 1 >= kPDFFunctionMaxDepth)
            continue;
        const QPDFObjGen id = item.getObjGen();
        if (item.isIndirect() && visited.count(id))
            continue;
        if (item.isIndirect())
            visited.insert(id);
        if (item.isDictionary()) {
            ParsePDFFunction(sub, item, visited, depth + 1);
        } else if (item.isStream()) {
            CopyPDFFunctionStreamData(sub, item);
            ParsePDFFunction(sub, item.getDict(), visited, depth + 1);
        }
        if (sub.functionType == 4 && sub.usable)
            CreatePostScriptProgram(sub);
        if (item.isIndirect())
            visited.erase(id);
    }
}

} // namespace

double PDFFunction::clipToRange(std::int64_t j, double v) const {
    if (j < 0 || std::size_t(2 * j + 1) >= range.size())
        return v;
    if (v <= range[std::size_t(2 * j)])
        v = range[std::size_t(2 * j)];
    if (v >= range[std::size_t(2 * j + 1)])
        v = range[std::size_t(2 * j + 1)];
    return v;
}

void InitPDFFunction(PDFFunction& record) {
    record = PDFFunction();
}

bool ParsePDFFunction(PDFFunction& record, QPDFObjectHandle dict) {
    std::set<QPDFObjGen> visited;
    return ParsePDFFunction(record, dict, visited, 0);
}

bool ParsePDFFunction(PDFFunction& record, QPDFObjectHandle dict, std::set<QPDFObjGen>& visited,
                      int depth) {
    if (!dict.isDictionary())
        return false;
    try {
        QPDFObjectHandle type = dict.getKey("/FunctionType");
        if (type.isInteger())
            record.functionType = type.getIntValueAsInt();
        record.domain = readNumberArray(dict, "/Domain");
        record.range = readNumberArray(dict, "/Range");
        QPDFObjectHandle bits = dict.getKey("/BitsPerSample");
        if (bits.isInteger())
            record.bitsPerSample = std::uint8_t(bits.getIntValue() & 0xFF);
        record.encode = readNumberArray(dict, "/Encode");
        record.decode = readNumberArray(dict, "/Decode");
        record.size = readNumberArray(dict, "/Size");
        record.c0 = readNumberArray(dict, "/C0");
        record.c1 = readNumberArray(dict, "/C1");
        record.bounds = readNumberArray(dict, "/Bounds");
        record.boundCount = std::uint16_t(std::min<std::size_t>(record.bounds.size(), 0xFFFF));
        QPDFObjectHandle functions = dict.getKey("/Functions");
        if (functions.isArray())
            parseSubFunctions(record, functions, visited, depth);

        // The output count: Range when present, else C1 (or C0, or one output as the default C1
        // has), else the sub-functions'.
        std::size_t n = 0;
        if (!record.range.empty())
            n = record.range.size() / 2;
        else if (!record.c1.empty())
            n = record.c1.size();
        else if (record.functionType == 2)
            n = record.c0.empty() ? 1 : record.c0.size();
        else if (!record.subFunctions.empty())
            n = std::size_t(std::max<std::int16_t>(record.subFunctions.front().outputCount, 0));
        n = std::min<std::size_t>(n, std::size_t(kPDFFunctionMaxOutputs));
        record.outputCount = std::int16_t(n);
        record.outputBuffer.assign(std::max(n, record.range.size()), 0.0);

        QPDFObjectHandle exponent = dict.getKey("/N");
        const bool hasExponent = exponent.isNumber();
        if (hasExponent)
            record.exponent = exponent.getNumericValue();
        record.usable = checkLengths(record);
        return hasExponent;
    } catch (const std::exception&) {
        record.usable = false;
        return false;
    }
}

void CopyPDFFunctionStreamData(PDFFunction& record, QPDFObjectHandle stream) {
    std::vector<std::uint8_t> data;
    if (readGenericStreamData(stream, kPDFFunctionMaxSampleBytes, data) && !data.empty()) {
        record.sampleData = std::move(data);
        record.dataLength = record.sampleData.size();
    }
}

void ParsePDFFunctionStream(PDFFunction& record, QPDFObjectHandle stream) {
    if (!stream.isStream())
        return;
    CopyPDFFunctionStreamData(record, stream);
    ParsePDFFunction(record, stream.getDict());
}

void parsePDFFunctionObject(PDFFunction& record, QPDFObjectHandle object) {
    if (object.isDictionary())
        ParsePDFFunction(record, object);
    else if (object.isStream())
        ParsePDFFunctionStream(record, object);
    if (record.functionType == 4 && record.usable)
        CreatePostScriptProgram(record);
}

void EvaluatePDFFunction(PDFFunction& record, const double* inputs, std::uint16_t m) {
    if (m == 0 || !inputs)
        return;
    if (!record.usable) {
        std::fill(record.outputBuffer.begin(), record.outputBuffer.end(), 0.0);
        return;
    }
    switch (record.functionType) {
    case 0:
        EvaluateSampledFunction(record, inputs, m);
        break;
    case 2:
        EvaluateExponentialFunction(record, inputs[m - 1]);
        break;
    case 3:
        EvaluateStitchingFunction(record, inputs[m - 1]);
        break;
    case 4:
        EvaluatePostScriptFunction(record, inputs, m);
        break;
    default:
        break;
    }
}

void EvaluateSampledFunction(PDFFunction& record, const double* inputs, std::uint16_t m) {
    const std::size_t n = std::size_t(record.outputCount);
    // The function's own inputs; extra ones are ignored, missing ones count as 0.
    const std::size_t inputsUsed = declaredInputs(record);
    std::uint64_t index = 0, stride = 1;
    for (std::size_t i = 0; i < inputsUsed; ++i) {
        const double d0 = record.domain[2 * i], d1 = record.domain[2 * i + 1];
        const double w = d1 - d0;
        const double sizeI = record.size[i];
        const double e0 = record.encode.empty() ? 0.0 : record.encode[2 * i];
        const double e1 = record.encode.empty() ? sizeI - 1 : record.encode[2 * i + 1];
        double e = 0;
        if (w != 0) {
            double x = i < m ? inputs[i] : 0.0;
            if (x <= d0)
                x = d0;
            if (x >= d1)
                x = d1;
            e = (x - d0) * (e1 - e0) / w + e0;
        }
        if (!(e > 0)) // also NaN
            e = 0;
        if (e >= sizeI - 1)
            e = sizeI - 1;
        index += std::uint64_t(std::trunc(e + 0.5)) * stride;
        stride *= std::uint64_t(sizeI);
    }
    const int bits = record.bitsPerSample;
    const double maxValue = double((std::uint64_t(1) << bits) - 1);
    const std::vector<double>& decode = record.decode.empty() ? record.range : record.decode;
    std::uint64_t offset = index * n * std::uint64_t(bits);
    for (std::size_t j = 0; j < n; ++j) {
        const double s = double(readPackedSample(record.sampleData.data(), offset, bits));
        offset += std::uint64_t(bits);
        const double v = decode[2 * j] + s * (decode[2 * j + 1] - decode[2 * j]) / maxValue;
        record.outputBuffer[j] = record.clipToRange(std::int64_t(j), v);
    }
}

void EvaluateExponentialFunction(PDFFunction& record, double x) {
    const double y = std::pow(x, record.exponent);
    const std::size_t n = std::size_t(record.outputCount);
    for (std::size_t j = 0; j < n; ++j) {
        const double c0 = record.c0.empty() ? 0.0 : record.c0[j];
        const double c1 = record.c1.empty() ? 1.0 : record.c1[j];
        record.outputBuffer[j] = record.clipToRange(std::int64_t(j), c0 + y * (c1 - c0));
    }
}

void EvaluateStitchingFunction(PDFFunction& record, double x) {
    const double d0 = record.domain[0], d1 = record.domain[1];
    if (x <= d0 || std::isnan(x))
        x = d0;
    if (x >= d1)
        x = d1;
    // Sub-function i covers [bounds[i-1], bounds[i]); the last one also takes its upper end.
    const std::size_t k = record.subFunctions.size();
    std::size_t i = 0;
    while (i + 1 < k && x >= record.bounds[i])
        ++i;
    const double low = i == 0 ? d0 : record.bounds[i - 1];
    const double high = i + 1 == k ? d1 : record.bounds[i];
    const double e0 = record.encode[2 * i], e1 = record.encode[2 * i + 1];
    const double t = high == low ? e0 : e0 + (x - low) * (e1 - e0) / (high - low);
    PDFFunction& sub = record.subFunctions[i];
    sub.budget = record.budget;
    EvaluatePDFFunction(sub, &t, 1);
    const std::size_t n = std::size_t(record.outputCount);
    for (std::size_t j = 0; j < n; ++j)
        record.outputBuffer[j] = record.clipToRange(std::int64_t(j), sub.outputBuffer[j]);
}

void FreePDFFunction(PDFFunction& record) {
    record = PDFFunction();
}
