#include "PSOperandStack.h"

#include <algorithm>

bool PSOperandStack::push(const PSOperand& operand) {
    if (m_top + 1 >= kCapacity) {
        m_overflowed = true;
        return false;
    }
    m_entries[++m_top] = operand;
    return true;
}

void PSOperandStack::PushReal(double v) {
    PSOperand o;
    o.tag = kPSReal;
    o.realValue = v;
    push(o);
}

void PSOperandStack::PushInteger(std::int64_t v) {
    PSOperand o;
    o.tag = kPSInteger;
    o.integerValue = v;
    push(o);
}

void PSOperandStack::PushBoolean(bool v) {
    PSOperand o;
    o.tag = kPSBoolean;
    o.booleanValue = v;
    push(o);
}

void PSOperandStack::PopNumber(double& x) {
    if (TopIsInteger())
        x = double(m_entries[m_top--].integerValue);
    else if (TopIsReal())
        x = m_entries[m_top--].realValue;
}

void PSOperandStack::PopInteger(std::int64_t& a) {
    if (TopIsInteger())
        a = m_entries[m_top--].integerValue;
}

void PSOperandStack::PopBoolean(bool& p) {
    if (topIsBoolean())
        p = m_entries[m_top--].booleanValue;
}

void PSOperandStack::PopOperand() {
    if (m_top >= 0)
        --m_top;
}

void PSOperandStack::CopyOperands(std::int64_t n) {
    if (n < 1 || n > count())
        return;
    const std::int64_t first = count() - n;
    for (std::int64_t i = 0; i < n; ++i) {
        if (!push(m_entries[first + i]))
            return;
    }
}

void PSOperandStack::RollOperands(std::int64_t n, std::int64_t j) {
    if (n < 1 || n > count())
        return;
    // Rolling n entries n times is no roll at all, so only j mod n turns count.
    std::int64_t shift = j % n;
    if (shift < 0)
        shift += n;
    if (shift == 0)
        return;
    auto first = m_entries.begin() + (count() - n);
    auto last = m_entries.begin() + count();
    std::rotate(first, last - shift, last);
}

void PSOperandStack::IndexOperand(std::int64_t n) {
    if (n < 0 || n >= count())
        return;
    push(m_entries[m_top - n]);
}

void PSOperandStack::ReverseOperands() {
    std::reverse(m_entries.begin(), m_entries.begin() + count());
}

bool PSOperandStack::TopTwoAreNumbers() const {
    if (count() < 2)
        return false;
    const auto isNumber = [](const PSOperand& o) {
        return o.tag == kPSInteger || o.tag == kPSReal;
    };
    return isNumber(m_entries[m_top]) && isNumber(m_entries[m_top - 1]);
}

bool PSOperandStack::TopTypeIs(std::int32_t a, std::int32_t b) const {
    return count() >= 2 && m_entries[m_top].tag == a && m_entries[m_top - 1].tag == b;
}
