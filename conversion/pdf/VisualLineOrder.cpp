#include "VisualLineOrder.h"

#include <memory>
#include <unicode/ubidi.h>
#include <unicode/uchar.h>

namespace conversion {

namespace {

struct BidiCloser {
    void operator()(UBiDi* bidi) const { ubidi_close(bidi); }
};

} // namespace

bool isStrongRightToLeft(char32_t codePoint) {
    const UCharDirection direction = u_charDirection(static_cast<UChar32>(codePoint));
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC;
}

std::vector<LogicalPosition> logicalOrderOfVisualLine(const std::u32string& visual) {
    std::u16string units;
    std::vector<std::size_t> unitToIndex; // which code point each UTF-16 unit belongs to
    int rightToLeft = 0, leftToRight = 0;
    for (std::size_t i = 0; i < visual.size(); ++i) {
        const char32_t cp = visual[i];
        if (cp > 0xFFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            unitToIndex.insert(unitToIndex.end(), 2, i);
        } else {
            units.push_back(static_cast<char16_t>(cp));
            unitToIndex.push_back(i);
        }
        const UCharDirection direction = u_charDirection(static_cast<UChar32>(cp));
        if (direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC)
            ++rightToLeft;
        else if (direction == U_LEFT_TO_RIGHT)
            ++leftToRight;
    }
    if (units.empty() || units.size() > static_cast<std::size_t>(INT32_MAX))
        return {};
    UErrorCode error = U_ZERO_ERROR;
    const std::unique_ptr<UBiDi, BidiCloser> bidi(ubidi_open());
    if (!bidi)
        return {};
    ubidi_setReorderingMode(bidi.get(), UBIDI_REORDER_INVERSE_LIKE_DIRECT);
    const UBiDiLevel paragraph = rightToLeft > leftToRight ? 1 : 0;
    ubidi_setPara(bidi.get(), reinterpret_cast<const UChar*>(units.data()),
                  static_cast<int32_t>(units.size()), paragraph, nullptr, &error);
    if (U_FAILURE(error))
        return {};
    const int32_t length = ubidi_getResultLength(bidi.get());
    if (U_FAILURE(error) || length < 0)
        return {};
    std::vector<int32_t> map(static_cast<std::size_t>(length));
    ubidi_getVisualMap(bidi.get(), map.data(), &error);
    if (U_FAILURE(error))
        return {};
    std::vector<LogicalPosition> order;
    order.reserve(visual.size());
    std::size_t last = visual.size(); // the code point emitted last: a surrogate pair's second
                                      // unit belongs to it
    for (const int32_t unit : map) {
        if (unit < 0 || static_cast<std::size_t>(unit) >= unitToIndex.size())
            continue; // a mark ICU added: no letter of the line
        const std::size_t index = unitToIndex[static_cast<std::size_t>(unit)];
        if (index == last)
            continue;
        last = index;
        char32_t cp = visual[index];
        if (ubidi_getLevelAt(bidi.get(), unit) & 1)
            cp = static_cast<char32_t>(u_charMirror(static_cast<UChar32>(cp)));
        order.push_back({index, cp});
    }
    if (order.size() != visual.size())
        return {};
    return order;
}

} // namespace conversion
