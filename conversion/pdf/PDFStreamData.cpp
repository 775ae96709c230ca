#include "PDFStreamData.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// Collects bytes up to a cap; past it the data is dropped and the read reported as failed.
class CappedBuffer : public Pipeline {
public:
    CappedBuffer(std::uint64_t cap, std::uint64_t expected)
        : Pipeline("capped buffer", nullptr), m_cap(cap) {
        // Growing by doubling would hold the old and the new copy at once, and keep up to twice
        // the size for the picture's whole life.
        if (expected > 0)
            bytes.reserve(std::size_t(std::min(expected, cap)));
    }
    void write(unsigned char const* data, size_t len) override {
        if (m_overflowed || len > m_cap - bytes.size()) {
            m_overflowed = true;
            // qpdf turns an exception from a pipeline into a failed read, which stops inflating.
            throw std::length_error("stream data over its size limit");
        }
        bytes.insert(bytes.end(), data, data + len);
    }
    void finish() override {}
    bool overflowed() const { return m_overflowed; }
    std::vector<std::uint8_t> bytes;

private:
    std::uint64_t m_cap;
    bool m_overflowed = false;
};

StreamDataFormat codecFormat(const std::string& name) {
    if (name == "/DCTDecode")
        return StreamDataFormat::JPEG;
    if (name == "/JPXDecode")
        return StreamDataFormat::JPEG2000;
    if (name == "/JBIG2Decode")
        return StreamDataFormat::JBIG2;
    if (name == "/CCITTFaxDecode")
        return StreamDataFormat::CCITT;
    return StreamDataFormat::Raw;
}

bool isGeneric(const std::string& name) {
    return name == "/FlateDecode" || name == "/LZWDecode" || name == "/ASCIIHexDecode" ||
           name == "/ASCII85Decode" || name == "/RunLengthDecode";
}

bool pipe(QPDFObjectHandle stream, std::uint64_t cap, std::vector<std::uint8_t>& out,
          std::uint64_t expected = 0) {
    CappedBuffer buffer(cap, expected);
    bool ok = false;
    try {
        ok = stream.pipeStreamData(&buffer, nullptr, 0, qpdf_dl_specialized, true, false);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok || buffer.overflowed())
        return false;
    out = std::move(buffer.bytes);
    return true;
}

} // namespace

std::string fullFilterName(const std::string& name) {
    if (name == "/Fl")
        return "/FlateDecode";
    if (name == "/LZW")
        return "/LZWDecode";
    if (name == "/AHx")
        return "/ASCIIHexDecode";
    if (name == "/A85")
        return "/ASCII85Decode";
    if (name == "/RL")
        return "/RunLengthDecode";
    if (name == "/CCF")
        return "/CCITTFaxDecode";
    if (name == "/DCT")
        return "/DCTDecode";
    return name;
}

bool readStreamData(QPDFObjectHandle stream, std::uint64_t cap, StreamData& out,
                    std::uint64_t expected) {
    if (!stream.isStream())
        return false;
    try {
        QPDFObjectHandle dict = stream.getDict();
        QPDFObjectHandle filter = dict.getKey("/Filter");
        QPDFObjectHandle parms = dict.getKey("/DecodeParms");
        std::vector<std::string> filters;
        std::vector<QPDFObjectHandle> parameters;
        if (filter.isName()) {
            filters.push_back(fullFilterName(filter.getName()));
            parameters.push_back(parms.isArray() ? parms.getArrayItem(0) : parms);
        } else if (filter.isArray()) {
            for (int i = 0; i < filter.getArrayNItems(); ++i) {
                QPDFObjectHandle f = filter.getArrayItem(i);
                if (!f.isName())
                    return false;
                filters.push_back(fullFilterName(f.getName()));
                parameters.push_back(parms.isArray() ? parms.getArrayItem(i)
                                                     : QPDFObjectHandle::newNull());
            }
        } else if (!filter.isNull()) {
            return false;
        }
        for (std::size_t i = 0; i + 1 < filters.size(); ++i) {
            if (!isGeneric(filters[i]))
                return false;
        }
        const StreamDataFormat format =
            filters.empty() ? StreamDataFormat::Raw : codecFormat(filters.back());
        if (format == StreamDataFormat::Raw) {
            if (!filters.empty() && !isGeneric(filters.back()))
                return false;
            out.format = StreamDataFormat::Raw;
            out.codecParameters = QPDFObjectHandle::newNull();
            return pipe(stream, cap, out.bytes, expected);
        }
        out.format = format;
        out.codecParameters = parameters.back();
        if (filters.size() == 1) {
            std::shared_ptr<Buffer> raw = stream.getRawStreamData();
            if (!raw || raw->getSize() > cap)
                return false;
            const std::uint8_t* p = raw->getBuffer();
            out.bytes.assign(p, p + raw->getSize());
            return true;
        }
        // Generic filters before the codec's: decode them through a scratch stream that carries
        // only those.
        QPDF* owner = stream.getOwningQPDF();
        if (!owner)
            return false;
        std::shared_ptr<Buffer> raw = stream.getRawStreamData();
        QPDFObjectHandle scratch = QPDFObjectHandle::newStream(owner, raw);
        QPDFObjectHandle prefix = QPDFObjectHandle::newArray();
        QPDFObjectHandle prefixParms = QPDFObjectHandle::newArray();
        for (std::size_t i = 0; i + 1 < filters.size(); ++i) {
            prefix.appendItem(QPDFObjectHandle::newName(filters[i]));
            prefixParms.appendItem(parameters[i].isDictionary() ? parameters[i]
                                                                : QPDFObjectHandle::newNull());
        }
        scratch.getDict().replaceKey("/Filter", prefix);
        scratch.getDict().replaceKey("/DecodeParms", prefixParms);
        return pipe(scratch, cap, out.bytes);
    } catch (const std::exception&) {
        return false;
    }
}

bool readGenericStreamData(QPDFObjectHandle stream, std::uint64_t cap,
                           std::vector<std::uint8_t>& out) {
    StreamData data;
    if (!readStreamData(stream, cap, data) || data.format != StreamDataFormat::Raw)
        return false;
    out = std::move(data.bytes);
    return true;
}
