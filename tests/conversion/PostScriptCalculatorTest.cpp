// The calculator on program texts; the suite runs again under a decimal-comma locale.
#include "PostScriptCalculator.h"
#include "PDFFunction.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

// Runs `text` as a type 4 function with the given inputs and n outputs, each output clipped to
// [low, high].
std::vector<double> run(const std::string& text, std::vector<double> inputs, int n,
                        double low = -1e300, double high = 1e300) {
    PDFFunction f;
    InitPDFFunction(f);
    f.functionType = 4;
    f.sampleData.assign(text.begin(), text.end());
    f.dataLength = f.sampleData.size();
    for (int i = 0; i < n; ++i)
        f.range.insert(f.range.end(), {low, high});
    f.outputCount = std::int16_t(n);
    f.outputBuffer.assign(std::size_t(n), -12345.0);
    f.usable = true;
    CreatePostScriptProgram(f);
    EvaluatePDFFunction(f, inputs.empty() ? nullptr : inputs.data(), std::uint16_t(inputs.size()));
    if (inputs.empty())
        EvaluatePostScriptFunction(f, nullptr, 0);
    return std::vector<double>(f.outputBuffer.begin(), f.outputBuffer.begin() + n);
}

// The stack after running `text` on an empty stack, top last.
std::vector<PSOperand> stackAfter(const std::string& text) {
    PostScriptProgram program;
    program.programText = reinterpret_cast<const std::uint8_t*>(text.data());
    program.textLength = text.size();
    ParsePostScriptText(program);
    PSOperandStack stack;
    RunPostScriptProgram(program, stack);
    std::vector<PSOperand> out;
    for (std::int64_t i = 0; i < stack.count(); ++i)
        out.push_back(stack.at(i));
    return out;
}

struct Case {
    const char* program;
    int tag; // of the top entry
    double value;
};

void expectTop(const Case& c) {
    const std::vector<PSOperand> s = stackAfter(c.program);
    ASSERT_FALSE(s.empty()) << c.program;
    const PSOperand& top = s.back();
    EXPECT_EQ(top.tag, c.tag) << c.program;
    if (c.tag == kPSInteger) {
        EXPECT_EQ(top.integerValue, std::int64_t(c.value)) << c.program;
    } else if (c.tag == kPSReal) {
        EXPECT_NEAR(top.realValue, c.value, 1e-9 * std::max(1.0, std::fabs(c.value))) << c.program;
    } else {
        EXPECT_EQ(top.booleanValue, c.value != 0) << c.program;
    }
}

} // namespace

TEST(PostScriptCalculator, OperatorTableIsSortedAndLooksUpEveryName) {
    for (int i = 0; i < kPSOperatorCount; ++i) {
        const std::string_view name = postScriptOperatorName(i);
        EXPECT_EQ(LookupPostScriptOperator(name), i) << name;
        if (i > 0) {
            EXPECT_LT(postScriptOperatorName(i - 1), name);
        }
    }
    EXPECT_EQ(LookupPostScriptOperator("ifelse"), kPSOperatorIfElse);
    EXPECT_EQ(LookupPostScriptOperator("moveto"), -1);
    EXPECT_EQ(LookupPostScriptOperator(""), -1);
}

TEST(PostScriptCalculator, ArithmeticKeepsIntegersAndMixesToReals) {
    const Case cases[] = {
        {"{ 2 3 add }", kPSInteger, 5},     {"{ 2 3.5 add }", kPSReal, 5.5},
        {"{ 7 3 sub }", kPSInteger, 4},     {"{ 7 0.5 sub }", kPSReal, 6.5},
        {"{ 6 7 mul }", kPSInteger, 42},    {"{ 1.5 2 mul }", kPSReal, 3},
        {"{ 7 2 div }", kPSReal, 3.5},      {"{ 7 2 idiv }", kPSInteger, 3},
        {"{ -7 2 idiv }", kPSInteger, -3},  {"{ -7 2 mod }", kPSInteger, -1},
        {"{ 7 -2 mod }", kPSInteger, 1},    {"{ 5 neg }", kPSInteger, -5},
        {"{ 2.5 neg }", kPSReal, -2.5},     {"{ -5 abs }", kPSInteger, 5},
        {"{ -2.5 abs }", kPSReal, 2.5},     {"{ 2.4 ceiling }", kPSReal, 3},
        {"{ 4 ceiling }", kPSInteger, 4},   {"{ -2.4 floor }", kPSReal, -3},
        {"{ 2.5 round }", kPSReal, 3},      {"{ -2.5 round }", kPSReal, -3},
        {"{ -2.7 truncate }", kPSReal, -2}, {"{ 2.7 truncate }", kPSReal, 2},
        {"{ 2.7 cvi }", kPSInteger, 2},     {"{ -2.7 cvi }", kPSInteger, -2},
        {"{ 3 cvr }", kPSReal, 3},          {"{ 16 sqrt }", kPSReal, 4},
        {"{ 2 10 exp }", kPSReal, 1024},    {"{ 100 log }", kPSReal, 2},
        {"{ 1 ln }", kPSReal, 0},           {"{ 90 sin }", kPSReal, 1},
        {"{ 180 cos }", kPSReal, -1},       {"{ 1 1 atan }", kPSReal, 45},
        {"{ -1 0 atan }", kPSReal, 270},    {"{ 0 1 atan }", kPSReal, 0},
    };
    for (const Case& c : cases)
        expectTop(c);
}

TEST(PostScriptCalculator, BitsComparisonsAndBooleans) {
    const Case cases[] = {
        {"{ 12 10 and }", kPSInteger, 8},     {"{ 12 10 or }", kPSInteger, 14},
        {"{ 12 10 xor }", kPSInteger, 6},     {"{ 5 not }", kPSInteger, -6},
        {"{ 1 3 bitshift }", kPSInteger, 8},  {"{ 16 -2 bitshift }", kPSInteger, 4},
        {"{ 1 64 bitshift }", kPSInteger, 1}, {"{ -1 -28 bitshift }", kPSInteger, 15},
        {"{ 7 0 bitshift }", kPSInteger, 7},  {"{ true false and }", kPSBoolean, 0},
        {"{ true false or }", kPSBoolean, 1}, {"{ true true xor }", kPSBoolean, 0},
        {"{ false not }", kPSBoolean, 1},     {"{ 2 2 eq }", kPSBoolean, 1},
        {"{ 2 2.0 eq }", kPSBoolean, 1},      {"{ 2 3 ne }", kPSBoolean, 1},
        {"{ true true eq }", kPSBoolean, 1},  {"{ 3 2 gt }", kPSBoolean, 1},
        {"{ 2 2 ge }", kPSBoolean, 1},        {"{ 2.5 2 lt }", kPSBoolean, 0},
        {"{ 2 2 le }", kPSBoolean, 1},        {"{ -1 sqrt dup ne }", kPSBoolean, 1},
    };
    for (const Case& c : cases)
        expectTop(c);
}

TEST(PostScriptCalculator, StackOperatorsRollCopyIndexExchange) {
    auto ints = [](const std::string& text) {
        std::vector<std::int64_t> v;
        for (const PSOperand& o : stackAfter(text))
            v.push_back(o.tag == kPSInteger ? o.integerValue : -999);
        return v;
    };
    using V = std::vector<std::int64_t>;
    EXPECT_EQ(ints("{ 1 2 3 3 1 roll }"), (V{3, 1, 2}));
    EXPECT_EQ(ints("{ 1 2 3 3 -1 roll }"), (V{2, 3, 1}));
    // j is taken modulo n: 7 turns of 3 entries are one turn.
    EXPECT_EQ(ints("{ 1 2 3 3 7 roll }"), (V{3, 1, 2}));
    EXPECT_EQ(ints("{ 1 2 3 3 -7 roll }"), (V{2, 3, 1}));
    EXPECT_EQ(ints("{ 1 2 3 5 1 roll }"), (V{1, 2, 3}));
    EXPECT_EQ(ints("{ 1 2 exch }"), (V{2, 1}));
    EXPECT_EQ(ints("{ 1 2 2 copy }"), (V{1, 2, 1, 2}));
    EXPECT_EQ(ints("{ 1 2 5 copy }"), (V{1, 2}));
    EXPECT_EQ(ints("{ 1 2 3 2 index }"), (V{1, 2, 3, 1}));
    EXPECT_EQ(ints("{ 1 2 3 3 index }"), (V{1, 2, 3}));
    EXPECT_EQ(ints("{ 1 dup }"), (V{1, 1}));
    EXPECT_EQ(ints("{ 1 2 pop }"), (V{1}));
    EXPECT_EQ(ints("{ pop pop 4 }"), (V{4}));
}

TEST(PostScriptCalculator, ConditionalsRunTheirProcedures) {
    EXPECT_EQ(run("{ 0.5 gt { 1 } { 0 } ifelse }", {0.7}, 1)[0], 1);
    EXPECT_EQ(run("{ 0.5 gt { 1 } { 0 } ifelse }", {0.2}, 1)[0], 0);
    EXPECT_EQ(run("{ dup 0.5 lt { pop 0.25 } if }", {0.2}, 1)[0], 0.25);
    EXPECT_EQ(run("{ dup 0.5 lt { pop 0.25 } if }", {0.9}, 1)[0], 0.9);
    // Nested: a three-way choice.
    const char* three = "{ dup 0.3 lt { pop 1 } { 0.6 lt { 2 } { 3 } ifelse } ifelse }";
    EXPECT_EQ(run(three, {0.1}, 1)[0], 1);
    EXPECT_EQ(run(three, {0.5}, 1)[0], 2);
    EXPECT_EQ(run(three, {0.9}, 1)[0], 3);
}

TEST(PostScriptCalculator, DivisionByZeroAndOverflowHaveDefinedResults) {
    const std::int64_t minimum = std::numeric_limits<std::int64_t>::min();
    const std::int64_t maximum = std::numeric_limits<std::int64_t>::max();
    const Case cases[] = {
        {"{ 7 0 idiv }", kPSInteger, 0},
        {"{ 7 0 mod }", kPSInteger, 0},
        {"{ 1 63 bitshift -1 idiv }", kPSInteger, 0}, // INT64_MIN / -1
        {"{ 1 63 bitshift -1 mod }", kPSInteger, 0},
        {"{ -2147483648 abs }", kPSInteger, 2147483648.0},
    };
    for (const Case& c : cases)
        expectTop(c);
    // Wrapping, not undefined behaviour (the sanitizers would stop the test otherwise).
    EXPECT_EQ(stackAfter("{ 1 63 bitshift 1 sub 1 add }").back().integerValue, minimum);
    EXPECT_EQ(stackAfter("{ 1 63 bitshift neg }").back().integerValue, minimum);
    EXPECT_EQ(stackAfter("{ 1 62 bitshift 4 mul }").back().integerValue, 0);
    EXPECT_EQ(stackAfter("{ 1 63 bitshift 1 sub }").back().integerValue, maximum);
    // cvi saturates; NaN gives 0.
    EXPECT_EQ(stackAfter("{ 1.0 0 div cvi }").back().integerValue, maximum);
    EXPECT_EQ(stackAfter("{ -1.0 0 div cvi }").back().integerValue, minimum);
    EXPECT_EQ(stackAfter("{ -1 sqrt cvi }").back().integerValue, 0);
    EXPECT_TRUE(std::isinf(stackAfter("{ 1 0 div }").back().realValue));
}

TEST(PostScriptCalculator, MissingOperandsLeaveRegistersAsTheyWere) {
    // With an empty stack `add` fetches nothing and pushes 0 + 0.
    const std::vector<PSOperand> s = stackAfter("{ add }");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].tag, kPSReal);
    EXPECT_EQ(s[0].realValue, 0);
    // A boolean where a number is wanted stays on the stack.
    const std::vector<PSOperand> t = stackAfter("{ true 2.0 add }");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].tag, kPSBoolean);
    EXPECT_EQ(t[1].realValue, 2.0);
    // `not` on an empty stack pushes true.
    EXPECT_TRUE(stackAfter("{ not }").back().booleanValue);
}

TEST(PostScriptCalculator, StackIsCappedAtOneHundredEntries) {
    std::string text = "{";
    for (int i = 0; i < 150; ++i)
        text += " " + std::to_string(i);
    text += " }";
    EXPECT_EQ(stackAfter(text).size(), 100u);
    // Doubling with copy stops at the limit too.
    EXPECT_LE(stackAfter("{ 1 dup 1 copy 2 copy 4 copy 8 copy 16 copy 32 copy 64 copy }").size(),
              100u);
    PSOperandStack stack;
    for (int i = 0; i < 120; ++i)
        stack.PushInteger(i);
    EXPECT_EQ(stack.count(), 100);
    EXPECT_TRUE(stack.overflowed());
}

TEST(PostScriptCalculator, NestingDeeperThanTheLimitIsRefusedWithoutRecursingForever) {
    auto nested = [](int depth) {
        std::string text = "{ true ";
        for (int i = 1; i < depth; ++i)
            text += "{ true ";
        text += "5";
        for (int i = 1; i < depth; ++i)
            text += " } if";
        return text + " }";
    };
    EXPECT_EQ(stackAfter(nested(50)).back().integerValue, 5);
    // Far past the limit: the procedure that goes too deep is dropped, nothing crashes.
    const std::vector<PSOperand> deep = stackAfter(nested(100000));
    for (const PSOperand& o : deep)
        EXPECT_NE(o.integerValue, 5);
}

// Nothing loops in the language, so a program's length bounds what one evaluation runs: a text
// longer than the cap is refused while it is parsed, before it takes memory, and a budgeted
// evaluation of it reports the budget spent.
TEST(PostScriptCalculator, ProgramsLongerThanTheCapAreRefusedWhileParsed) {
    auto parsed = [](std::size_t pairs) {
        std::string text = "{ 1";
        for (std::size_t i = 0; i < pairs; ++i)
            text += " dup pop";
        text += " }";
        PostScriptProgram program;
        program.programText = reinterpret_cast<const std::uint8_t*>(text.data());
        program.textLength = text.size();
        ParsePostScriptText(program);
        return std::make_pair(program.lengthRefused, program.nodeList.size());
    };
    EXPECT_EQ(parsed(1000), std::make_pair(false, std::size_t(2001)));
    EXPECT_EQ(parsed(kPSMaxProgramOperations), std::make_pair(true, std::size_t(0)));

    std::string text = "{";
    for (std::uint64_t i = 0; i <= kPSMaxProgramOperations; ++i)
        text += " 1";
    text += " }";
    PDFFunction f;
    InitPDFFunction(f);
    f.functionType = 4;
    f.sampleData.assign(text.begin(), text.end());
    f.outputCount = 1;
    f.outputBuffer.assign(1, 0.0);
    f.usable = true;
    CreatePostScriptProgram(f);
    PSOperationBudget budget;
    f.budget = &budget;
    const double input = 0.5;
    EvaluatePDFFunction(f, &input, 1);
    EXPECT_TRUE(budget.exhausted);
}

TEST(PostScriptCalculator, TokenizerRules) {
    // Tabs are white space; unknown bytes are skipped; "+" does not start a number.
    EXPECT_EQ(stackAfter("{\t1\t2\tadd\t}").back().integerValue, 3);
    EXPECT_EQ(stackAfter("{ 1 [ 2 ] / add }").back().integerValue, 3);
    EXPECT_EQ(stackAfter("{ +5 }").back().integerValue, 5);
    // 1e5 is the integer 1, the unknown name e and the integer 5.
    const std::vector<PSOperand> e = stackAfter("{ 1e5 }");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].integerValue, 1);
    EXPECT_EQ(e[1].integerValue, 5);
    // A number too long to be a token is ignored; an integer beyond 32 bits becomes a real.
    EXPECT_TRUE(stackAfter("{ " + std::string(500, '7') + " }").empty());
    const PSOperand big = stackAfter("{ 4294967296 }").back();
    EXPECT_EQ(big.tag, kPSReal);
    EXPECT_EQ(big.realValue, 4294967296.0);
    EXPECT_EQ(stackAfter("{ .5 }").back().realValue, 0.5);
    EXPECT_EQ(stackAfter("{ -.5 }").back().realValue, -0.5);
    // The text may end before its closing brace: what was read runs.
    EXPECT_EQ(stackAfter("{ 1 2 add").back().integerValue, 3);
    // A procedure not followed by if/ifelse empties the procedure being parsed.
    EXPECT_TRUE(stackAfter("{ 1 { 2 } 3 }").empty());
    // Text that does not start with a brace is no program.
    EXPECT_TRUE(stackAfter("1 2 add").empty());
}

TEST(PostScriptCalculator, DriverMapsStackToOutputs) {
    // Empty program: the outputs are the inputs.
    EXPECT_EQ(run("{ }", {0.25, 0.5}, 2), (std::vector<double>{0.25, 0.5}));
    // Deepest entry first.
    EXPECT_EQ(run("{ 0.1 0.2 }", {0.9}, 3), (std::vector<double>{0.9, 0.1, 0.2}));
    // A boolean is not popped: the later outputs keep the last number.
    EXPECT_EQ(run("{ pop 0.3 true 0.6 }", {0.1}, 3), (std::vector<double>{0.3, 0.3, 0.3}));
    // Outputs are clipped to Range.
    EXPECT_EQ(run("{ 2 mul }", {0.7}, 1, 0, 1)[0], 1.0);
}

TEST(PostScriptCalculator, RealsParseTheSameUnderADecimalCommaLocale) {
    // When the test runs under such a locale (the CTest entry sets LC_ALL), make it the C
    // library's too: the parser must not care.
    std::setlocale(LC_ALL, "");
    if (std::getenv("LUMENO_EXPECT_DECIMAL_COMMA")) {
        ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "the locale did not load";
    }
    EXPECT_EQ(stackAfter("{ 2.5 0.25 add }").back().realValue, 2.75);
    EXPECT_EQ(run("{ 0.5 mul }", {0.5}, 1)[0], 0.25);
    std::setlocale(LC_ALL, "C");
}
