// The property-list guard: hostile lists (deep nests, references that double at every level,
// cycles, broken tables) are refused before libplist sees them; real lists, and everything
// libplist itself writes within the limits, pass.
#include "PlistGuard.h"
#include "HostilePlists.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

using hostileplist::BinaryPlist;

namespace {

std::string refusalOf(const std::string& bytes, const PlistGuard::Limits& limits = {}) {
    std::string reason;
    return PlistGuard::isSafeToParse(bytes.data(), bytes.size(), &reason, limits) ? "accepted"
                                                                                  : reason;
}

std::string writtenByLibplist(plist_t root, bool binary) {
    char* out = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root, &out, &length);
    else
        plist_to_xml(root, &out, &length);
    std::string bytes(out ? out : "", out ? length : 0);
    binary ? plist_to_bin_free(out) : plist_to_xml_free(out);
    plist_free(root);
    return bytes;
}

// Arrays depth levels deep with a dictionary of a few kinds of values at the bottom, and a
// long array beside them (its count takes the extended form).
plist_t nestedList(int depth) {
    plist_t root = plist_new_array();
    plist_t inner = root;
    for (int i = 1; i < depth - 1; ++i) {
        plist_t next = plist_new_array();
        plist_array_append_item(inner, next);
        inner = next;
    }
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "name", plist_new_string("ISO-8859-1"));
    plist_dict_set_item(dict, "count", plist_new_uint(42));
    plist_dict_set_item(dict, "data", plist_new_data("\x01\x02\x03", 3));
    plist_dict_set_item(dict, "real", plist_new_real(1.5));
    plist_dict_set_item(dict, "flag", plist_new_bool(1));
    plist_array_append_item(inner, dict);
    plist_t wide = plist_new_array();
    for (int i = 0; i < 300; ++i)
        plist_array_append_item(wide, plist_new_string("same text"));
    plist_array_append_item(root, wide);
    return root;
}

} // namespace

TEST(PlistGuard, HostileListsAreRefusedWithTheirReason) {
    // A cycle: the first array holds the second, which holds the first again.
    BinaryPlist cycle;
    cycle.array({1});
    cycle.array({0});
    // A reference to an object that is not in the table.
    BinaryPlist dangling;
    dangling.array({5});
    std::string truncated = hostileplist::binaryDeepNest(3);
    truncated.resize(truncated.size() - 4);
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"binary nested 100,000 deep", hostileplist::binaryDeepNest(100000), "deeper than 512"},
        {"XML nested 200,000 deep", hostileplist::xmlDeepNest(200000), "deeper than 200"},
        {"40 levels each referring to the next twice", hostileplist::binaryDoublingReferences(40),
         "more than 1000000 nodes"},
        {"a cycle", cycle.bytes(), "deeper than 512"},
        {"a reference to a missing object", dangling.bytes(), "missing object"},
        {"a cut trailer", truncated, "binary property list"},
        {"only the magic", "bplist00", "shorter than its trailer"},
        {"not XML at all", "{\"json\": true}", "not well-formed XML"},
        {"an empty file", "", "empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reason = refusalOf(c.bytes);
        EXPECT_NE(reason, "accepted");
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
    EXPECT_EQ(hostileplist::binaryDoublingReferences(40).size() < 1024, true);
}

TEST(PlistGuard, DepthNodeAndSizeLimitsAreInclusiveBoundaries) {
    PlistGuard::Limits limits;
    limits.maxDepth = 10;
    limits.maxNodes = 100;
    limits.maxBytes = 4096;
    EXPECT_EQ(refusalOf(hostileplist::binaryDeepNest(10), limits), "accepted");
    EXPECT_NE(refusalOf(hostileplist::binaryDeepNest(11), limits), "accepted");
    // Five levels expand to 63 nodes from 6 objects; a sixth doubles that past the budget.
    EXPECT_EQ(refusalOf(hostileplist::binaryDoublingReferences(5), limits), "accepted");
    EXPECT_NE(refusalOf(hostileplist::binaryDoublingReferences(6), limits), "accepted");
    EXPECT_EQ(refusalOf(hostileplist::xmlDeepNest(9), limits), "accepted");
    EXPECT_NE(refusalOf(hostileplist::xmlDeepNest(10), limits), "accepted");
    EXPECT_NE(refusalOf(std::string(4097, ' ') + hostileplist::xmlDeepNest(1), limits)
                  .find("larger than 4096"),
              std::string::npos);
}

TEST(PlistGuard, ListsLibplistWritesWithinTheLimitsAndTheBundledOnesPass) {
    for (bool binary : {true, false}) {
        SCOPED_TRACE(binary ? "binary" : "XML");
        EXPECT_EQ(refusalOf(writtenByLibplist(nestedList(150), binary)), "accepted");
        const std::string single = writtenByLibplist(plist_new_string("alone"), binary);
        EXPECT_EQ(refusalOf(single), "accepted");
    }
    const QByteArray encodings =
        testsupport::readWholeFile(testsupport::resourcesPath() + "/textencoding.plist");
    ASSERT_FALSE(encodings.isEmpty());
    EXPECT_EQ(refusalOf(encodings.toStdString()), "accepted");
    // The web archive of the tests parses once the deep part is shallow.
    const std::string archive = hostileplist::webArchiveWithDeepNest(20);
    EXPECT_EQ(refusalOf(archive), "accepted");
    plist_t root = nullptr;
    plist_from_memory(archive.data(), uint32_t(archive.size()), &root);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root, "WebMainResource")), PLIST_DICT);
    plist_free(root);
}
