// The operand stack of a calculator function: integers, reals and booleans. Fetches that find
// the wrong kind of entry (or none) leave their output as it was and pop nothing, which is how
// the calculator keeps going on a malformed program without reporting anything.
#pragma once

#include <array>
#include <cstdint>

enum PSOperandTag : std::int32_t { kPSBoolean = 0, kPSInteger = 1, kPSReal = 2 };

struct PSOperand {
    double realValue = 0;
    std::int32_t tag = kPSInteger;
    std::int64_t integerValue = 0;
    bool booleanValue = false;
};

class PSOperandStack {
public:
    // The limit the PDF format sets for a calculator function's stack.
    static constexpr std::int64_t kCapacity = 100;

    void InitOperandStack() { m_top = -1; }

    // A push onto a full stack is dropped and marks the stack as overflowed, which ends the run.
    void PushReal(double v);
    void PushInteger(std::int64_t v);
    void PushBoolean(bool v);

    void PopNumber(double& x);
    void PopInteger(std::int64_t& a);
    void PopBoolean(bool& p);
    void PopOperand();
    void CopyOperands(std::int64_t n);
    void RollOperands(std::int64_t n, std::int64_t j);
    void IndexOperand(std::int64_t n);
    void ReverseOperands();
    void ClearOperands() { m_top = -1; }

    bool TopIsInteger() const { return m_top >= 0 && m_entries[m_top].tag == kPSInteger; }
    bool TopIsReal() const { return m_top >= 0 && m_entries[m_top].tag == kPSReal; }
    bool topIsBoolean() const { return m_top >= 0 && m_entries[m_top].tag == kPSBoolean; }
    bool topIsNumber() const { return TopIsInteger() || TopIsReal(); }
    bool TopTwoAreIntegers() const { return TopTypeIs(kPSInteger, kPSInteger); }
    bool TopTwoAreNumbers() const;
    bool IsEmpty() const { return m_top < 0; }
    bool HasFewerThan(std::int64_t n) const { return count() < n; }
    // The top entry has tag a and the one below it tag b.
    bool TopTypeIs(std::int32_t a, std::int32_t b) const;

    std::int64_t count() const { return m_top + 1; }
    bool overflowed() const { return m_overflowed; }
    const PSOperand& at(std::int64_t i) const { return m_entries[i]; }

private:
    bool push(const PSOperand& operand);

    std::array<PSOperand, kCapacity> m_entries{};
    std::int64_t m_top = -1;
    bool m_overflowed = false;
};
