// Property lists made to hurt a recursive parser, built byte by byte in the tests: binary lists
// ("bplist00": objects, an offset table and a trailer; references are 4 bytes wide) nested
// deeply or referring to the same object many times, and XML nested deeply. Plain C++ so the
// conversion tests can use it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostileplist {

class BinaryPlist {
public:
    // Each add answers the new object's index; references may name objects added later.
    std::size_t array(const std::vector<std::uint64_t>& refs) {
        std::string object = marker(0xA, refs.size());
        for (std::uint64_t ref : refs)
            object += bigEndian(ref, 4);
        return add(object);
    }
    std::size_t dict(const std::vector<std::uint64_t>& keys,
                     const std::vector<std::uint64_t>& values) {
        std::string object = marker(0xD, keys.size());
        for (std::uint64_t ref : keys)
            object += bigEndian(ref, 4);
        for (std::uint64_t ref : values)
            object += bigEndian(ref, 4);
        return add(object);
    }
    std::size_t ascii(const std::string& text) { return add(marker(0x5, text.size()) + text); }
    std::size_t data(const std::string& bytes) { return add(marker(0x4, bytes.size()) + bytes); }
    std::size_t next() const { return m_objects.size(); }

    std::string bytes(std::uint64_t top = 0) const {
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (const std::string& object : m_objects) {
            offsets.push_back(out.size());
            out += object;
        }
        const std::uint64_t table = out.size();
        for (std::uint64_t offset : offsets)
            out += bigEndian(offset, 4);
        out += std::string(6, '\0');
        out += char(4); // offset width
        out += char(4); // reference width
        out += bigEndian(m_objects.size(), 8) + bigEndian(top, 8) + bigEndian(table, 8);
        return out;
    }

private:
    static std::string bigEndian(std::uint64_t value, int width) {
        std::string out(std::size_t(width), '\0');
        for (int i = width - 1; i >= 0; --i, value >>= 8)
            out[std::size_t(i)] = char(value & 0xFF);
        return out;
    }
    static std::string marker(unsigned type, std::size_t count) {
        if (count < 15)
            return std::string(1, char((type << 4) | count));
        return std::string(1, char((type << 4) | 0xF)) + char(0x12) + bigEndian(count, 4);
    }
    std::size_t add(const std::string& object) {
        m_objects.push_back(object);
        return m_objects.size() - 1;
    }
    std::vector<std::string> m_objects;
};

// Arrays inside arrays, depth levels deep, from the first object on.
inline std::string binaryDeepNest(int depth) {
    BinaryPlist list;
    for (int level = 0; level + 1 < depth; ++level)
        list.array({std::uint64_t(level + 1)});
    list.array({});
    return list.bytes();
}

// levels arrays, each holding the next one twice: tiny, but 2^levels nodes once expanded.
inline std::string binaryDoublingReferences(int levels) {
    BinaryPlist list;
    for (int level = 0; level < levels; ++level)
        list.array({std::uint64_t(level + 1), std::uint64_t(level + 1)});
    list.ascii("leaf");
    return list.bytes();
}

inline std::string xmlDeepNest(int depth) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    out.reserve(out.size() + std::size_t(depth) * 15 + 16);
    for (int i = 0; i < depth; ++i)
        out += "<array>";
    for (int i = 0; i < depth; ++i)
        out += "</array>";
    return out + "</plist>\n";
}

// A web archive whose main resource is a little HTML page and whose subresources hold arrays
// nested depth levels deep.
inline std::string webArchiveWithDeepNest(int depth) {
    BinaryPlist list;
    list.dict({1, 2}, {3, 8});
    list.ascii("WebMainResource");
    list.ascii("WebSubresources");
    list.dict({4, 5}, {6, 7});
    list.ascii("WebResourceData");
    list.ascii("WebResourceMIMEType");
    list.data("<html><body><p>Nested page</p></body></html>");
    list.ascii("text/html");
    for (int level = 0; level + 1 < depth; ++level)
        list.array({std::uint64_t(8 + level + 1)});
    list.array({});
    return list.bytes(0);
}

} // namespace hostileplist
