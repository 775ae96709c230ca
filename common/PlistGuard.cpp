#include "PlistGuard.h"

#include <algorithm>
#include <cstring>
#include <libxml/xmlreader.h>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace PlistGuard {
namespace {

constexpr char kBinaryMagic[] = "bplist00";
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kTrailerSize = 32;
constexpr int kXmlDepthCap = 200;

bool refuse(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
    return false;
}

std::uint64_t readBigEndian(const unsigned char* at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | at[i];
    return value;
}

// The binary form: a header, the objects, a table of their offsets and a trailer naming the
// top object. Containers (arrays, sets, dictionaries) hold indexes into the offset table, which
// may repeat and may point back up; the walk expands them as libplist would, within the budget.
class BinaryWalk {
public:
    BinaryWalk(const unsigned char* data, std::size_t size, const Limits& limits)
        : m_data(data), m_size(size), m_limits(limits) {}

    bool run(std::string* reason) {
        if (m_size < kMagicSize + kTrailerSize)
            return refuse(reason, "binary property list shorter than its trailer");
        const unsigned char* trailer = m_data + m_size - kTrailerSize;
        m_offsetWidth = trailer[6];
        m_refWidth = trailer[7];
        m_objectCount = readBigEndian(trailer + 8, 8);
        const std::uint64_t top = readBigEndian(trailer + 16, 8);
        m_tableOffset = readBigEndian(trailer + 24, 8);
        m_objectsEnd = m_size - kTrailerSize;
        if (m_offsetWidth < 1 || m_offsetWidth > 8 || m_refWidth < 1 || m_refWidth > 8)
            return refuse(reason, "binary property list with invalid integer sizes");
        if (m_tableOffset < kMagicSize || m_tableOffset > m_objectsEnd || m_objectCount == 0 ||
            top >= m_objectCount || m_objectCount > (m_objectsEnd - m_tableOffset) / m_offsetWidth)
            return refuse(reason, "binary property list with an invalid offset table");

        std::vector<std::pair<std::uint64_t, int>> pending{{top, 1}};
        std::int64_t nodes = 1;
        std::vector<std::uint64_t> children;
        while (!pending.empty()) {
            const auto [index, depth] = pending.back();
            pending.pop_back();
            children.clear();
            if (!childrenOf(index, &children, reason))
                return false;
            if (children.empty())
                continue;
            if (depth >= m_limits.maxDepth)
                return refuse(reason, "property list nested deeper than " +
                                          std::to_string(m_limits.maxDepth) + " levels");
            if (std::int64_t(children.size()) > m_limits.maxNodes - nodes)
                return refuse(reason, "property list of more than " +
                                          std::to_string(m_limits.maxNodes) + " nodes");
            nodes += std::int64_t(children.size());
            for (std::uint64_t child : children)
                pending.emplace_back(child, depth + 1);
        }
        return true;
    }

private:
    // The object indexes a container refers to (keys and values of a dictionary); nothing for
    // other objects, whose content libplist checks without recursing.
    bool childrenOf(std::uint64_t index, std::vector<std::uint64_t>* children,
                    std::string* reason) const {
        const std::uint64_t offset =
            readBigEndian(m_data + m_tableOffset + index * m_offsetWidth, m_offsetWidth);
        if (offset < kMagicSize || offset >= m_tableOffset)
            return refuse(reason, "binary property list with an object outside its data");
        const unsigned char marker = m_data[offset];
        const unsigned type = marker >> 4;
        const bool isArrayOrSet = type == 0xA || type == 0xC;
        const bool isDict = type == 0xD;
        if (!isArrayOrSet && !isDict)
            return true;
        std::uint64_t count = marker & 0x0F;
        std::uint64_t at = offset + 1;
        if (count == 0x0F) {
            if (at >= m_tableOffset || (m_data[at] >> 4) != 0x1)
                return refuse(reason, "binary property list with an invalid container size");
            const std::size_t width = std::size_t(1) << (m_data[at] & 0x0F);
            if (width > 8 || m_tableOffset - at - 1 < width)
                return refuse(reason, "binary property list with an invalid container size");
            count = readBigEndian(m_data + at + 1, width);
            at += 1 + width;
        }
        const std::uint64_t refs = isDict ? 2 : 1;
        if (count > (m_tableOffset - at) / (m_refWidth * refs))
            return refuse(reason, "binary property list with a container beyond its data");
        if (std::int64_t(count * refs) > m_limits.maxNodes)
            return refuse(reason, "property list of more than " +
                                      std::to_string(m_limits.maxNodes) + " nodes");
        for (std::uint64_t i = 0; i < count * refs; ++i) {
            const std::uint64_t ref = readBigEndian(m_data + at + i * m_refWidth, m_refWidth);
            if (ref >= m_objectCount)
                return refuse(reason, "binary property list referring to a missing object");
            children->push_back(ref);
        }
        return true;
    }

    const unsigned char* m_data;
    std::size_t m_size;
    const Limits& m_limits;
    std::size_t m_offsetWidth = 0;
    std::size_t m_refWidth = 0;
    std::uint64_t m_objectCount = 0;
    std::uint64_t m_tableOffset = 0;
    std::uint64_t m_objectsEnd = 0;
};

void keepFirstError(void* arg, xmlErrorPtr error) {
    auto* message = static_cast<std::string*>(arg);
    if (message->empty() && error && error->message) {
        *message = error->message;
        while (!message->empty() && (message->back() == '\n' || message->back() == ' '))
            message->pop_back();
    }
}

struct ReaderFree {
    void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};

// The XML form, streamed: only element depth and count are looked at. Entities are not
// substituted, no DTD is loaded and nothing is fetched; libxml2's own limits on depth and text
// size stay in force (XML_PARSE_HUGE is not asked for).
bool checkXml(const char* data, std::size_t size, const Limits& limits, std::string* reason) {
    if (size > std::size_t(std::numeric_limits<int>::max()))
        return refuse(reason, "property list too large");
    // libxml2's first initialisation must not race with another thread's.
    static std::once_flag initialised;
    std::call_once(initialised, xmlInitParser);
    std::unique_ptr<xmlTextReader, ReaderFree> reader(
        xmlReaderForMemory(data, int(size), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!reader)
        return refuse(reason, "property list the XML reader cannot start on");
    std::string error;
    xmlTextReaderSetStructuredErrorHandler(reader.get(), keepFirstError, &error);
    // libxml2 gives up past 256 levels by itself; the guard says so first, in its own words.
    const int depthLimit = std::min(limits.maxDepth, kXmlDepthCap);
    std::int64_t nodes = 0;
    int result = 0;
    while ((result = xmlTextReaderRead(reader.get())) == 1) {
        if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT)
            continue;
        if (xmlTextReaderDepth(reader.get()) >= depthLimit)
            return refuse(reason, "property list nested deeper than " + std::to_string(depthLimit) +
                                      " levels");
        if (++nodes > limits.maxNodes)
            return refuse(reason, "property list of more than " + std::to_string(limits.maxNodes) +
                                      " nodes");
    }
    if (result != 0 || !error.empty())
        return refuse(reason, "property list that is not well-formed XML" +
                                  (error.empty() ? std::string() : " (" + error + ")"));
    if (nodes == 0)
        return refuse(reason, "property list without elements");
    return true;
}

} // namespace

bool isSafeToParse(const char* data, std::size_t size, std::string* reason, const Limits& limits) {
    if (!data || size == 0)
        return refuse(reason, "empty property list");
    if (size > limits.maxBytes)
        return refuse(reason,
                      "property list larger than " + std::to_string(limits.maxBytes) + " bytes");
    // The same test libplist makes to choose its parser.
    if (size >= kMagicSize && std::memcmp(data, kBinaryMagic, kMagicSize) == 0)
        return BinaryWalk(reinterpret_cast<const unsigned char*>(data), size, limits).run(reason);
    return checkXml(data, size, limits, reason);
}

} // namespace PlistGuard
