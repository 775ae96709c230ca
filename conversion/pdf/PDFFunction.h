// PDF functions (sampled, exponential, stitching and calculator) as the colour spaces of image
// streams use them: parsed once from a dictionary or stream, then evaluated once per table entry
// into the record's own output buffer. Evaluation never reads past what the function supplied:
// the lengths are checked when it is parsed, and a function that fails them evaluates to zeros.
#pragma once

#include "PostScriptCalculator.h"

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

struct PDFFunction {
    std::vector<std::uint8_t> sampleData;
    std::int32_t functionType = 0;
    std::uint8_t bitsPerSample = 0;
    std::vector<double> domain;
    std::vector<double> range;
    std::vector<double> size;
    std::vector<double> encode;
    std::vector<double> decode;
    std::vector<double> c0;
    std::vector<double> c1;
    double exponent = 0;
    std::vector<double> bounds;
    std::uint64_t dataLength = 0;
    std::vector<PDFFunction> subFunctions;
    std::uint16_t subFunctionCount = 0;
    std::int16_t outputCount = 0;
    std::uint16_t boundCount = 0;
    std::vector<double> outputBuffer;
    std::unique_ptr<PostScriptProgram> program;
    // The budget calculator programs run within (not owned; null: none). Stitching functions
    // hand theirs to the function they pick.
    PSOperationBudget* budget = nullptr;

    // Settled by the parse: false when the function's arrays or data are too short for what it
    // declares, or its sample width is not one the format defines. Such a function evaluates
    // to zeros.
    bool usable = false;

    // v raised to range[2j] and lowered to range[2j + 1] when the record has that pair.
    double clipToRange(std::int64_t j, double v) const;
};

// Limits on what a function may ask for: nested "Functions", outputs and sampled-table bytes.
inline constexpr int kPDFFunctionMaxDepth = 8;
inline constexpr std::int16_t kPDFFunctionMaxOutputs = 32;
inline constexpr std::uint64_t kPDFFunctionMaxSampleBytes = std::uint64_t(64) << 20;

void InitPDFFunction(PDFFunction& record);
// Reads the keys of the function dictionary; answers whether "N" was present. Sub-functions are
// parsed in full (with their calculator programs); `visited` holds the indirect objects on the
// current path and stops a function that lists itself.
bool ParsePDFFunction(PDFFunction& record, QPDFObjectHandle dict);
bool ParsePDFFunction(PDFFunction& record, QPDFObjectHandle dict, std::set<QPDFObjGen>& visited,
                      int depth);
void ParsePDFFunctionStream(PDFFunction& record, QPDFObjectHandle stream);
// The stream's data with its generic filters removed; a stream in an image format (DCT, JPX, ...)
// or one that does not decode gives no data.
void CopyPDFFunctionStreamData(PDFFunction& record, QPDFObjectHandle stream);
// Parses `object` (a dictionary or a stream) and builds the calculator program of a type 4
// function: everything a caller needs before evaluating.
void parsePDFFunctionObject(PDFFunction& record, QPDFObjectHandle object);
void EvaluatePDFFunction(PDFFunction& record, const double* inputs, std::uint16_t m);
void FreePDFFunction(PDFFunction& record);

void EvaluateSampledFunction(PDFFunction& record, const double* inputs, std::uint16_t m);
void EvaluateExponentialFunction(PDFFunction& record, double x);
void EvaluateStitchingFunction(PDFFunction& record, double x);
