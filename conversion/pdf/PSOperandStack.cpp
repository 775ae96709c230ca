#include "PSOperandStack.h"

#include <algorithm>

bool PSOperandStack::push(const PSOperand& operand) {
    if (top_ + 1 >= kCapacity) {
        overflowed_ = true;
        return false;
    }
    entries_[++top_] = operand;
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
        x = double(entries_[top_--].integerValue);
    else if (TopIsReal())
        x = entries_[top_--].realValue;
}

void PSOperandStack::PopInteger(std::int64_t& a) {
    if (TopIsInteger())
        a = entries_[top_--].integerValue;
}

void PSOperandStack::PopBoolean(bool& p) {
    if (TopIsBoolean())
        p = entries_[top_--].booleanValue;
}

void PSOperandStack::PopOperand() {
    if (top_ >= 0)
        --top_;
}

void PSOperandStack::CopyOperands(std::int64_t n) {
    if (n < 1 || n > count())
        return;
    const std::int64_t first = count() - n;
    for (std::int64_t i = 0; i < n; ++i) {
        if (!push(entries_[first + i]))
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
    auto first = entries_.begin() + (count() - n);
    auto last = entries_.begin() + count();
    std::rotate(first, last - shift, last);
}

void PSOperandStack::IndexOperand(std::int64_t n) {
    if (n < 0 || n >= count())
        return;
    push(entries_[top_ - n]);
}

void PSOperandStack::ReverseOperands() {
    std::reverse(entries_.begin(), entries_.begin() + count());
}

bool PSOperandStack::TopTwoAreNumbers() const {
    if (count() < 2)
        return false;
    const auto isNumber = [](const PSOperand& o) {
        return o.tag == kPSInteger || o.tag == kPSReal;
    };
    return isNumber(entries_[top_]) && isNumber(entries_[top_ - 1]);
}

bool PSOperandStack::TopTypeIs(std::int32_t a, std::int32_t b) const {
    return count() >= 2 && entries_[top_].tag == a && entries_[top_ - 1].tag == b;
}
