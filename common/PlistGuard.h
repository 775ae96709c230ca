// A check of a property list's shape before libplist parses it. libplist builds the whole tree
// by recursion and copies an object every time it is referenced, so a file nested deeply enough
// overflows the stack, and a small binary list whose objects refer to the next ones twice
// expands to billions of nodes. The guard walks the file without building anything, with a
// budget for the size, the nesting depth and the number of nodes the tree would have (a shared
// object counts each time it would be copied), and answers whether it is safe to parse.
//
// Binary lists ("bplist00") are walked through their trailer and offset table; everything else
// is read as XML with libxml2's reader (no entity substitution, no network, no DTD loading).
// Malformed files are refused too: libplist would not read them either. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace PlistGuard {

struct Limits {
    // Every real list is far inside these: a web archive holds a few hundred objects a few
    // levels deep, the bookmark and encoding lists fewer.
    // XML lists are held to 200 levels at most: libxml2 itself refuses more than 256.
    int maxDepth = 512;
    std::int64_t maxNodes = 1'000'000;
    std::size_t maxBytes = std::size_t(64) << 20;
};

// True when libplist may be given the bytes; otherwise false with the reason in *reason (when
// given), in English for the log or a message.
bool isSafeToParse(const char* data, std::size_t size, std::string* reason = nullptr,
                   const Limits& limits = Limits());

} // namespace PlistGuard
