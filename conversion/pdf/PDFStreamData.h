// Reading a stream's bytes out of a PDF with qpdf: the general-purpose filters are removed, an
// image codec's filter at the end of the chain is left for the codec, and the size is capped so
// that a compressed stream cannot inflate without bound.
#pragma once

#include <cstdint>
#include <vector>

#include <qpdf/QPDFObjectHandle.hh>

enum class StreamDataFormat { Raw, JPEG, JPEG2000, JBIG2, CCITT };

struct StreamData {
    std::vector<std::uint8_t> bytes;
    StreamDataFormat format = StreamDataFormat::Raw;
    // The decode parameters of the codec's filter (CCITT, JBIG2), or null.
    QPDFObjectHandle codecParameters;
};

// The stream's data with every filter qpdf decodes without loss removed. False when a filter is
// unknown, the data does not decode, or it would be larger than `cap` bytes. `expected`, when
// known, is the size decoded data should have: room for it is made at once rather than grown.
bool readStreamData(QPDFObjectHandle stream, std::uint64_t cap, StreamData& out,
                    std::uint64_t expected = 0);
// The same, accepting only a fully decoded result.
bool readGenericStreamData(QPDFObjectHandle stream, std::uint64_t cap,
                           std::vector<std::uint8_t>& out);
// Full filter name for the abbreviations inline images use ("Fl" -> "/FlateDecode").
std::string fullFilterName(const std::string& name);
