// Colour spaces of PDF images, built from the colour-space object of an image dictionary, and the
// conversion of their 8-bit samples to the grey or RGB pixels that the extracted files hold.
// Device spaces convert directly; CalRGB, Lab and ICC-based spaces through Little CMS.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "PostScriptCalculator.h"

#include <string>

#include <qpdf/QPDFObjectHandle.hh>

// Kinds reported beside every colour space built from a PDF array.
enum PDFColorSpaceKind : int {
    kColorSpaceDevice = 0,
    kColorSpaceCalGray = 4,
    kColorSpaceCalRGB = 5,
    kColorSpaceLab = 6,
    kColorSpaceICCBased = 7,
    kColorSpaceIndexed = 8,
    kColorSpaceSeparation = 10,
    kColorSpaceDeviceN = 11,
};

enum class ColorFamily { Gray, RGB, CMYK, Lab, Managed, Indexed, Separation, DeviceN };

struct ColorTransform; // a Little CMS transform to 8-bit sRGB

struct PDFColorSpace {
    ColorFamily family = ColorFamily::Gray;
    int kind = kColorSpaceDevice;
    int components = 1;
    // Per component, the range that the 8-bit samples 0..255 span (Lab: L, a, b; ICC: Range).
    std::vector<double> ranges;
    std::shared_ptr<ColorTransform> transform; // Lab and Managed
    bool grayOutput = false;                   // a managed grey space: one channel out
    // Indexed: base space, highest index and table of (hival + 1) x base components bytes.
    std::shared_ptr<PDFColorSpace> base;
    int hival = 0;
    std::vector<std::uint8_t> lookup;
    // Why a picture in this space cannot be drawn (a palette whose tint transform cannot be
    // applied); empty when it can.
    std::string refusal;
    // Separation and DeviceN: the space array (its tint transform) and the alternate space.
    QPDFObjectHandle array;
    std::shared_ptr<PDFColorSpace> alternate;

    // Grey pixels come out of a grey space; everything else comes out as RGB.
    bool outputIsGray() const;
    // Converts `count` pixels of `components` 8-bit samples into grey or RGB pixels.
    void toOutput(const std::uint8_t* samples, std::size_t count, std::uint8_t* out) const;
};

std::shared_ptr<PDFColorSpace> DeviceColorSpaceFromName(const std::string& name);
std::shared_ptr<PDFColorSpace> DeviceColorSpaceForComponents(int colorCode);
// Builds a colour space from a name or array; `pageColorSpaces` resolves names that are not
// device names. Null when the object is not a colour space this library reads.
std::shared_ptr<PDFColorSpace>
CreateColorSpaceFromPDF(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces, int depth = 0);
// A colour space from an ICC profile's bytes (JPEG 2000 files carry their own); null when the
// profile does not load.
std::shared_ptr<PDFColorSpace> CreateColorSpaceFromICCData(const std::vector<std::uint8_t>& data);

// Runs every entry of `samples` (entries of the space's component count, each byte / 255 a tint)
// through the tint transform of a Separation or DeviceN space; the result is in the alternate
// space's 8-bit samples. Calculator functions run within kPSMaxOperationsPerEvaluation for each
// colour and `operationBudget` for all of them. False when the transform cannot be used or runs
// past its budget, with the reason in `reason` (when given).
bool applyTintTransform(const PDFColorSpace& space, const std::vector<std::uint8_t>& samples,
                        std::vector<std::uint8_t>& out, std::string* reason = nullptr,
                        std::uint64_t operationBudget = kPSMaxOperationsPerImage);
