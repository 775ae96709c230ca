// PDF functions of every type parsed from qpdf objects and evaluated.
#include "PDFFunction.h"

#include <cmath>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <string>
#include <vector>

namespace {

QPDFObjectHandle dict(const std::string& text) {
    return QPDFObjectHandle::parse(text);
}

std::vector<double> eval(PDFFunction& f, std::vector<double> in) {
    EvaluatePDFFunction(f, in.data(), std::uint16_t(in.size()));
    return std::vector<double>(f.outputBuffer.begin(), f.outputBuffer.begin() + f.outputCount);
}

// A function stream in a document of its own; the document outlives the record's parse only.
struct StreamFunction {
    QPDF pdf;
    QPDFObjectHandle stream;
    StreamFunction(const std::string& dictText, const std::string& data) {
        pdf.emptyPDF();
        stream = QPDFObjectHandle::newStream(&pdf, data);
        stream.replaceDict(dict(dictText));
    }
};

double sampled1D(const std::string& samples, double x, const std::string& extra = "") {
    StreamFunction s("<< /FunctionType 0 /Domain [0 1] /Range [0 255] /Size [5] "
                     "/BitsPerSample 8 /Decode [0 255] " +
                         extra + " >>",
                     samples);
    PDFFunction f;
    parsePDFFunctionObject(f, s.stream);
    return eval(f, {x})[0];
}

} // namespace

TEST(PDFFunction, OutputCountComesFromRangeThenC1ThenSubFunctions) {
    PDFFunction a;
    ParsePDFFunction(a,
                     dict("<< /FunctionType 2 /Domain [0 1] /Range [0 1 0 1 0] /C1 [1] /N 1 >>"));
    EXPECT_EQ(a.outputCount, 2);
    EXPECT_EQ(a.outputBuffer.size(), 5u);
    PDFFunction b;
    ParsePDFFunction(b, dict("<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 1 1] /N 1 >>"));
    EXPECT_EQ(b.outputCount, 3);
    // Without Range and C1 the defaults C0 [0] and C1 [1] make one output.
    PDFFunction c;
    ParsePDFFunction(c, dict("<< /FunctionType 2 /Domain [0 1] /N 2 >>"));
    EXPECT_EQ(c.outputCount, 1);
    EXPECT_DOUBLE_EQ(eval(c, {0.5})[0], 0.25);
    // A stitching function without Range has its sub-functions' outputs.
    PDFFunction d;
    ParsePDFFunction(d, dict("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] "
                             "/Functions [<< /FunctionType 2 /Domain [0 1] /C0 [0 0] /C1 [1 2] "
                             "/N 1 >>] >>"));
    EXPECT_EQ(d.outputCount, 2);
    EXPECT_EQ(d.subFunctionCount, 1);
    EXPECT_EQ(eval(d, {0.5}), (std::vector<double>{0.5, 1.0}));
}

TEST(PDFFunction, ExponentialWithRealExponentAndNoClippingWithoutRange) {
    PDFFunction f;
    EXPECT_TRUE(
        ParsePDFFunction(f, dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [2] /N 1.5 >>")));
    EXPECT_DOUBLE_EQ(f.exponent, 1.5);
    EXPECT_NEAR(eval(f, {0.25})[0], 2 * 0.125, 1e-12);
    PDFFunction g;
    ParsePDFFunction(g, dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [2] /N 1 >>"));
    EXPECT_DOUBLE_EQ(eval(g, {0.75})[0], 1.5);
    PDFFunction h;
    ParsePDFFunction(h, dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [2] /N 1 "
                             "/Range [0 1] >>"));
    EXPECT_DOUBLE_EQ(eval(h, {0.75})[0], 1.0);
    // The last input is the one used.
    EXPECT_DOUBLE_EQ(eval(g, {0.1, 0.25})[0], 0.5);
}

TEST(PDFFunction, SampledPicksTheNearestSample) {
    const std::string samples = std::string("\x00\x10\x20\x30\x40", 5);
    EXPECT_EQ(sampled1D(samples, 0.3), 0x10);   // e 1.2
    EXPECT_EQ(sampled1D(samples, 0.375), 0x20); // e 1.5 rounds up
    EXPECT_EQ(sampled1D(samples, -1), 0x00);
    EXPECT_EQ(sampled1D(samples, 7), 0x40);
    // Encode maps the domain onto the reversed table.
    EXPECT_EQ(sampled1D(samples, 0.0, "/Encode [4 0]"), 0x40);
    // A Domain pair of equal values always selects sample 0.
    StreamFunction s("<< /FunctionType 0 /Domain [0.5 0.5] /Range [0 255] /Size [5] "
                     "/BitsPerSample 8 /Decode [0 255] >>",
                     samples);
    PDFFunction f;
    parsePDFFunctionObject(f, s.stream);
    EXPECT_EQ(eval(f, {0.9})[0], 0);
}

TEST(PDFFunction, SampledTwoInputsAndWideSamples) {
    // 2 x 2 grid, 16-bit samples, two outputs each.
    std::string data;
    for (int v : {0x0000, 0xFFFF, 0x8000, 0x0001, 0x1234, 0x4321, 0xFFFF, 0x0000}) {
        data += char(v >> 8);
        data += char(v & 0xFF);
    }
    StreamFunction s("<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1 0 1] /Size [2 2] "
                     "/BitsPerSample 16 >>",
                     data);
    PDFFunction f;
    parsePDFFunctionObject(f, s.stream);
    EXPECT_EQ(eval(f, {0, 0}), (std::vector<double>{0.0, 1.0}));
    const std::vector<double> v = eval(f, {1, 0});
    EXPECT_DOUBLE_EQ(v[0], 32768.0 / 65535.0);
    EXPECT_DOUBLE_EQ(v[1], 1.0 / 65535.0);
    EXPECT_EQ(eval(f, {1, 1}), (std::vector<double>{1.0, 0.0}));
}

TEST(PDFFunction, PackedSamplesOfEveryDefinedWidthAreUnpacked) {
    struct Width {
        int bits;
        std::string data; // samples 0..3 of a Size 4 table
        std::uint32_t third;
    };
    const Width widths[] = {
        {1, std::string("\x50", 1), 0},     // 0 1 0 1
        {2, std::string("\x1B", 1), 2},     // 0 1 2 3
        {4, std::string("\x01\x23", 2), 2}, // 0 1 2 3
        {12, std::string("\x00\x10\x02\xAB\xC0\x00", 6), 0xABC},
        {24, std::string("\x00\x00\x00\x00\x00\x01\x12\x34\x56\x00\x00\x00", 12), 0x123456},
        {32, std::string(8, '\0') + std::string("\xDE\xAD\xBE\xEF", 4) + std::string(4, '\0'),
         0xDEADBEEF},
    };
    for (const Width& w : widths) {
        const double maxValue = std::ldexp(1.0, w.bits) - 1;
        StreamFunction s("<< /FunctionType 0 /Domain [0 3] /Range [0 " + std::to_string(maxValue) +
                             "] /Size [4] /BitsPerSample " + std::to_string(w.bits) +
                             " /Decode [0 " + std::to_string(maxValue) + "] >>",
                         w.data);
        PDFFunction f;
        parsePDFFunctionObject(f, s.stream);
        ASSERT_TRUE(f.usable) << w.bits;
        EXPECT_NEAR(eval(f, {2})[0], double(w.third), 1e-6) << w.bits << " bits";
    }
    // Widths the format does not define are refused; the outputs are zeros.
    StreamFunction s("<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] "
                     "/BitsPerSample 7 >>",
                     "\xFF\xFF");
    PDFFunction f;
    parsePDFFunctionObject(f, s.stream);
    EXPECT_FALSE(f.usable);
    EXPECT_EQ(eval(f, {1})[0], 0.0);
}

TEST(PDFFunction, ShortArraysAndDataAreRefusedAtParse) {
    const char* bad[] = {
        // Data shorter than Size x outputs.
        "<< /FunctionType 0 /Domain [0 1] /Range [0 1 0 1] /Size [4] /BitsPerSample 8 >>",
        // Size missing for the second input.
        "<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1] /Size [2] /BitsPerSample 8 >>",
        // Encode too short.
        "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /Encode [0] /BitsPerSample 8 >>",
        // Huge Size.
        "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [1000000000000000] /BitsPerSample 8 "
        ">>",
        // No BitsPerSample.
        "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] >>",
    };
    for (const char* d : bad) {
        StreamFunction s(d, "\x10\x20\x30");
        PDFFunction f;
        parsePDFFunctionObject(f, s.stream);
        EXPECT_FALSE(f.usable) << d;
        for (double v : eval(f, {0.5, 0.5}))
            EXPECT_EQ(v, 0.0) << d;
    }
    const char* badDicts[] = {
        "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1 1 1] /N 1 /Range [0 1 0 1 0 1] >>",
        "<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] "
        "/Functions [<< /FunctionType 2 /Domain [0 1] /N 1 >>] >>",
        "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [7] >>",
        "<< /FunctionType 9 /Domain [0 1] /Range [0 1] >>",
    };
    for (const char* d : badDicts) {
        PDFFunction f;
        ParsePDFFunction(f, dict(d));
        EXPECT_FALSE(f.usable) << d;
        for (double v : eval(f, {0.5}))
            EXPECT_EQ(v, 0.0) << d;
    }
}

TEST(PDFFunction, StitchingPicksTheSubFunctionAndMapsThroughEncode) {
    PDFFunction f;
    parsePDFFunctionObject(
        f, dict("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 1 0] /Range [0 1] "
                "/Functions [<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> "
                "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [0.5] /N 1 >>] >>"));
    ASSERT_TRUE(f.usable);
    EXPECT_DOUBLE_EQ(eval(f, {0.25})[0], 0.5);  // first: t = 0.5
    EXPECT_DOUBLE_EQ(eval(f, {0.5})[0], 0.5);   // second at its start: t = 1 -> 0.5
    EXPECT_DOUBLE_EQ(eval(f, {0.75})[0], 0.25); // second: t = 0.5 -> 0.25
    EXPECT_DOUBLE_EQ(eval(f, {2})[0], 0.0);     // clipped to the domain: t = 0
    EXPECT_DOUBLE_EQ(eval(f, {-1})[0], 0.0);
}

TEST(PDFFunction, SubFunctionsGetTheirCalculatorPrograms) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle calc =
        pdf.makeIndirectObject(QPDFObjectHandle::newStream(&pdf, "{ 1 exch sub }"));
    calc.replaceDict(dict("<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>"));
    QPDFObjectHandle stitch = dict("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] "
                                   "/Range [0 1] >>");
    stitch.replaceKey("/Functions", QPDFObjectHandle::newArray({calc}));
    PDFFunction f;
    parsePDFFunctionObject(f, stitch);
    ASSERT_TRUE(f.usable);
    EXPECT_DOUBLE_EQ(eval(f, {0.25})[0], 0.75);
}

TEST(PDFFunction, FunctionsThatListThemselvesTerminate) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle self = pdf.makeIndirectObject(
        dict("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Range [0 1] >>"));
    self.replaceKey("/Functions", QPDFObjectHandle::newArray({self}));
    PDFFunction f;
    parsePDFFunctionObject(f, self);
    EXPECT_FALSE(f.usable);
    EXPECT_EQ(eval(f, {0.5})[0], 0.0);
    // A long chain of distinct functions stops at the depth cap.
    QPDFObjectHandle inner =
        dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 /Range [0 1] >>");
    for (int i = 0; i < 50; ++i) {
        QPDFObjectHandle outer =
            dict("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Range [0 1] >>");
        outer.replaceKey("/Functions", QPDFObjectHandle::newArray({inner}));
        inner = outer;
    }
    PDFFunction g;
    parsePDFFunctionObject(g, inner);
    EXPECT_FALSE(g.usable);
}

TEST(PDFFunction, CalculatorStreamAndImageCodedStreams) {
    StreamFunction calc("<< /FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1 0 1] >>",
                        "{ dup 0.5 mul exch dup 0.25 mul exch 0 exch }");
    PDFFunction f;
    parsePDFFunctionObject(f, calc.stream);
    ASSERT_TRUE(f.program);
    EXPECT_EQ(eval(f, {0.8}), (std::vector<double>{0.4, 0.2, 0.0, 0.8}));
    // A function stream in an image codec gives no program text.
    StreamFunction jpeg("<< /FunctionType 4 /Domain [0 1] /Range [0 1] /Filter /DCTDecode >>",
                        "\xFF\xD8\xFF\xD9");
    PDFFunction g;
    parsePDFFunctionObject(g, jpeg.stream);
    EXPECT_TRUE(g.sampleData.empty());
    EXPECT_EQ(g.dataLength, 0u);
    // A stream whose Flate data is damaged gives none either.
    StreamFunction broken("<< /FunctionType 4 /Domain [0 1] /Range [0 1] /Filter /FlateDecode >>",
                          "not deflate data at all");
    PDFFunction h;
    parsePDFFunctionObject(h, broken.stream);
    EXPECT_TRUE(h.sampleData.empty());
}
