#include "PostScriptCalculator.h"

#include "PDFFunction.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Sorted by byte value: the index of a name is its position.
constexpr std::array<std::string_view, kPSOperatorCount> kOperators = {
    "abs", "add",  "and", "atan",   "bitshift", "ceiling", "copy",  "cos",   "cvi",
    "cvr", "div",  "dup", "eq",     "exch",     "exp",     "false", "floor", "ge",
    "gt",  "idiv", "if",  "ifelse", "index",    "le",      "ln",    "log",   "lt",
    "mod", "mul",  "ne",  "neg",    "not",      "or",      "pop",   "roll",  "round",
    "sin", "sqrt", "sub", "true",   "truncate", "xor"};

constexpr double kDegreesPerRadian = 57.2957795;

bool isSpace(std::uint8_t c) {
    return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
bool isLetter(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isNumberByte(std::uint8_t c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Two's-complement arithmetic without signed overflow.
std::int64_t wrapAdd(std::int64_t a, std::int64_t b) {
    return std::int64_t(std::uint64_t(a) + std::uint64_t(b));
}
std::int64_t wrapSub(std::int64_t a, std::int64_t b) {
    return std::int64_t(std::uint64_t(a) - std::uint64_t(b));
}
std::int64_t wrapMul(std::int64_t a, std::int64_t b) {
    return std::int64_t(std::uint64_t(a) * std::uint64_t(b));
}

// Truncation toward zero that saturates: NaN gives 0, values beyond the range its ends.
std::int64_t saturatingTruncate(double x) {
    if (std::isnan(x))
        return 0;
    if (x >= 9223372036854775807.0)
        return std::numeric_limits<std::int64_t>::max();
    if (x <= -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    return std::int64_t(x);
}

// Reads a number token without the locale: "3.5" is three and a half whatever LC_NUMERIC says.
// Only the leading part that forms a number counts, as with the C conversions ("1.2.3" is 1.2,
// "-" is 0). An integer beyond 32 bits becomes a real, as the format asks.
void convertNumber(std::string_view text, PSNode& node, bool real) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (!real) {
        std::int32_t value = 0;
        const auto result = std::from_chars(begin, end, value);
        if (result.ec != std::errc::result_out_of_range) {
            node.kind = kPSNodeInteger;
            node.integerValue = result.ec == std::errc() ? value : 0;
            return;
        }
    }
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::fixed);
    node.kind = kPSNodeReal;
    node.realValue =
        result.ec == std::errc() || result.ec == std::errc::result_out_of_range ? value : 0.0;
    if (result.ec == std::errc::result_out_of_range)
        node.realValue = text.front() == '-' ? -HUGE_VAL : HUGE_VAL;
}

} // namespace

std::int32_t LookupPostScriptOperator(std::string_view name) {
    const auto it = std::lower_bound(kOperators.begin(), kOperators.end(), name);
    if (it == kOperators.end() || *it != name)
        return -1;
    return std::int32_t(it - kOperators.begin());
}

std::string_view postScriptOperatorName(std::int32_t index) {
    return index >= 0 && index < kPSOperatorCount ? kOperators[index] : std::string_view();
}

int TokenizePostScript(PostScriptProgram& program, PSNode& node) {
    const std::uint8_t* text = program.programText;
    std::uint64_t& pos = program.readPosition;
    const std::uint64_t length = text ? program.textLength : 0;
    while (pos < length) {
        const std::uint8_t c = text[pos];
        if (isSpace(c)) {
            ++pos;
            continue;
        }
        if (c == '}') {
            ++pos;
            return kPSTokenCloseBrace;
        }
        if (c == '{') {
            ++pos;
            return kPSTokenOpenBrace;
        }
        if (isLetter(c) || isNumberByte(c)) {
            const bool name = isLetter(c);
            const std::uint64_t start = pos;
            bool hasDot = false;
            while (pos < length && (name ? isLetter(text[pos]) : isNumberByte(text[pos]))) {
                hasDot = hasDot || text[pos] == '.';
                ++pos;
            }
            const std::string_view run(reinterpret_cast<const char*>(text + start), pos - start);
            if (name) {
                node.kind = kPSNodeOperator;
                node.operatorIndex =
                    run.size() <= kPSMaxTokenLength ? LookupPostScriptOperator(run) : -1;
                return kPSTokenName;
            }
            if (run.size() > kPSMaxTokenLength) {
                // Too long to be a number anyone meant: an unknown name, passed over when run.
                node.kind = kPSNodeOperator;
                node.operatorIndex = -1;
                return kPSTokenName;
            }
            convertNumber(run, node, hasDot);
            return node.kind == kPSNodeReal ? kPSTokenReal : kPSTokenInteger;
        }
        // Any other byte (brackets, slashes, "+", control bytes) means nothing to the calculator.
        ++pos;
    }
    return kPSTokenEnd;
}

void DisposePostScriptNodes(std::vector<PSNode>& list) {
    std::vector<std::vector<PSNode>> pending;
    pending.push_back(std::move(list));
    list.clear();
    while (!pending.empty()) {
        std::vector<PSNode> nodes = std::move(pending.back());
        pending.pop_back();
        for (PSNode& node : nodes) {
            if (!node.thenProcedure.empty())
                pending.push_back(std::move(node.thenProcedure));
            if (!node.elseProcedure.empty())
                pending.push_back(std::move(node.elseProcedure));
        }
    }
}

PostScriptProgram::~PostScriptProgram() {
    DisposePostScriptNodes(nodeList);
}

bool ParsePostScriptProgram(PostScriptProgram& program, std::vector<PSNode>& list) {
    // A procedure whose parse is under way inside the one before it: the node its opening brace
    // began, and whether its second procedure (ifelse's) is the one being read.
    struct Open {
        PSNode node;
        bool inElse = false;
    };
    std::vector<Open> open;
    auto current = [&]() -> std::vector<PSNode>& {
        if (open.empty())
            return list;
        return open.back().inElse ? open.back().node.elseProcedure : open.back().node.thenProcedure;
    };
    auto refuseAll = [&] {
        for (Open& o : open) {
            DisposePostScriptNodes(o.node.thenProcedure);
            DisposePostScriptNodes(o.node.elseProcedure);
        }
        DisposePostScriptNodes(list);
        return false;
    };
    program.deepestNesting = std::max(program.deepestNesting, 1);
    bool failed = false; // the procedure being parsed ends as malformed
    for (;;) {
        bool ended = failed;
        if (!ended) {
            if (program.lengthRefused)
                return refuseAll();
            if (++program.operationCount > kPSMaxProgramOperations) {
                program.lengthRefused = true;
                return refuseAll();
            }
            PSNode node;
            switch (TokenizePostScript(program, node)) {
            case kPSTokenEnd:
                // The text ended inside a procedure: keep what was read, as a closing brace would.
            case kPSTokenCloseBrace:
                ended = true;
                break;
            case kPSTokenInteger:
            case kPSTokenReal:
            case kPSTokenName:
                current().push_back(std::move(node));
                continue;
            case kPSTokenOpenBrace:
                open.push_back({std::move(node), false});
                program.deepestNesting = std::max(program.deepestNesting, int(open.size()) + 1);
                continue;
            default:
                failed = true;
                continue;
            }
        }
        // The procedure being parsed has ended, whole or malformed (then emptied).
        if (failed)
            DisposePostScriptNodes(current());
        if (open.empty())
            return !failed;
        // A procedure ended inside another: it must be followed by if, or by a second procedure
        // and ifelse. Whether it was whole does not matter to the one around it.
        failed = false;
        PSNode next;
        const int t = TokenizePostScript(program, next);
        Open& o = open.back();
        const bool closesIf = !o.inElse && t == kPSTokenName && next.operatorIndex == kPSOperatorIf;
        const bool closesIfElse =
            o.inElse && t == kPSTokenName && next.operatorIndex == kPSOperatorIfElse;
        if (!o.inElse && t == kPSTokenOpenBrace) {
            o.inElse = true;
            continue;
        }
        PSNode done = std::move(o.node);
        open.pop_back();
        if (closesIf || closesIfElse) {
            done.kind = kPSNodeOperator;
            done.operatorIndex = closesIf ? kPSOperatorIf : kPSOperatorIfElse;
            current().push_back(std::move(done));
            continue;
        }
        DisposePostScriptNodes(done.thenProcedure);
        DisposePostScriptNodes(done.elseProcedure);
        failed = true; // the procedure around it is malformed
    }
}

void ParsePostScriptText(PostScriptProgram& program) {
    PSNode node;
    if (TokenizePostScript(program, node) == kPSTokenOpenBrace)
        ParsePostScriptProgram(program, program.nodeList);
}

void CreatePostScriptProgram(PDFFunction& record) {
    auto program = std::make_unique<PostScriptProgram>();
    program->programText = record.sampleData.empty() ? nullptr : record.sampleData.data();
    program->textLength = record.sampleData.size();
    ParsePostScriptText(*program);
    record.program = std::move(program);
}

void EvaluatePostScript(const PostScriptProgram& program, PSOperandStack& stack,
                        const std::vector<PSNode>& list, std::uint64_t* operationsLeft) {
    (void)program;
    // One run of a node list: where it is, and its own registers, zero when it starts.
    struct Run {
        const std::vector<PSNode>* list;
        std::size_t next = 0;
        std::int64_t A = 0, B = 0;
        double X = 0, Y = 0;
        bool P = false, Q = false;
    };
    std::vector<Run> runs;
    runs.push_back({&list});
    while (!runs.empty()) {
        Run& run = runs.back();
        if (run.next >= run.list->size()) {
            runs.pop_back();
            continue;
        }
        if (stack.overflowed())
            return;
        if (operationsLeft) {
            if (*operationsLeft == 0)
                return;
            --*operationsLeft;
        }
        const PSNode& node = (*run.list)[run.next++];
        std::int64_t &A = run.A, &B = run.B;
        double &X = run.X, &Y = run.Y;
        bool &P = run.P, &Q = run.Q;
        if (node.kind == kPSNodeInteger) {
            stack.PushInteger(node.integerValue);
            continue;
        }
        if (node.kind == kPSNodeReal) {
            stack.PushReal(node.realValue);
            continue;
        }
        if (node.kind != kPSNodeOperator || node.operatorIndex < 0 ||
            node.operatorIndex >= kPSOperatorCount)
            continue;
        switch (node.operatorIndex) {
        case 0: // abs
            if (stack.TopIsInteger()) {
                stack.PopInteger(A);
                const std::int64_t low = std::int32_t(std::uint32_t(std::uint64_t(A)));
                stack.PushInteger(low < 0 ? -low : low);
            } else {
                stack.PopNumber(X);
                stack.PushReal(std::fabs(X));
            }
            break;
        case 1: // add
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(wrapAdd(A, B));
            } else {
                stack.PopNumber(Y);
                stack.PopNumber(X);
                stack.PushReal(X + Y);
            }
            break;
        case 2: // and
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(A & B);
            } else {
                stack.PopBoolean(P);
                stack.PopBoolean(Q);
                stack.PushBoolean(Q && P);
            }
            break;
        case 3: { // atan
            stack.PopNumber(Y);
            stack.PopNumber(X);
            double angle = std::atan2(X, Y) * kDegreesPerRadian;
            if (angle < 0)
                angle += 360;
            stack.PushReal(angle);
            break;
        }
        case 4: // bitshift
            stack.PopInteger(B);
            stack.PopInteger(A);
            if (B >= 1) {
                stack.PushInteger(std::int64_t(std::uint64_t(A) << (std::uint64_t(B) % 64)));
            } else if (B < 0) {
                const std::uint64_t count = (std::uint64_t(0) - std::uint64_t(B)) % 32;
                const std::uint32_t low = std::uint32_t(std::uint64_t(A));
                stack.PushInteger(std::int32_t(low >> count));
            } else {
                stack.PushInteger(A);
            }
            break;
        case 5: // ceiling
            if (!stack.TopIsInteger()) {
                stack.PopNumber(X);
                stack.PushReal(std::ceil(X));
            }
            break;
        case 6: // copy
            stack.PopInteger(A);
            stack.CopyOperands(A);
            break;
        case 7: // cos
            stack.PopNumber(X);
            stack.PushReal(std::cos(X / kDegreesPerRadian));
            break;
        case 8: // cvi
            if (!stack.TopIsInteger()) {
                stack.PopNumber(X);
                stack.PushInteger(saturatingTruncate(X));
            }
            break;
        case 9: // cvr
            if (!stack.TopIsReal()) {
                stack.PopNumber(X);
                stack.PushReal(X);
            }
            break;
        case 10: // div
            stack.PopNumber(Y);
            stack.PopNumber(X);
            stack.PushReal(X / Y);
            break;
        case 11: // dup
            stack.CopyOperands(1);
            break;
        case 12:   // eq
        case 29: { // ne
            bool equal;
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                equal = A == B;
            } else if (stack.TopTwoAreNumbers()) {
                stack.PopNumber(Y);
                stack.PopNumber(X);
                equal = X == Y;
            } else {
                stack.PopBoolean(P);
                stack.PopBoolean(Q);
                equal = Q == P;
            }
            stack.PushBoolean(node.operatorIndex == 12 ? equal : !equal);
            break;
        }
        case 13: // exch
            stack.RollOperands(2, 1);
            break;
        case 14: // exp
            stack.PopNumber(Y);
            stack.PopNumber(X);
            stack.PushReal(std::pow(X, Y));
            break;
        case 15: // false
            stack.PushBoolean(false);
            break;
        case 16: // floor
            if (!stack.TopIsInteger()) {
                stack.PopNumber(X);
                stack.PushReal(std::floor(X));
            }
            break;
        case 17:   // ge
        case 18:   // gt
        case 23:   // le
        case 26: { // lt
            bool result;
            const int op = node.operatorIndex;
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                result = op == 17 ? A >= B : op == 18 ? A > B : op == 23 ? A <= B : A < B;
            } else {
                stack.PopNumber(Y);
                stack.PopNumber(X);
                result = op == 17 ? X >= Y : op == 18 ? X > Y : op == 23 ? X <= Y : X < Y;
            }
            stack.PushBoolean(result);
            break;
        }
        case 19: // idiv
        case 27: // mod
            stack.PopInteger(B);
            stack.PopInteger(A);
            // A zero divisor, and the one quotient that does not fit, give 0.
            if (B == 0 || (B == -1 && A == std::numeric_limits<std::int64_t>::min()))
                stack.PushInteger(0);
            else
                stack.PushInteger(node.operatorIndex == 19 ? A / B : A % B);
            break;
        case 20: // if
            stack.PopBoolean(Q);
            if (Q)
                runs.push_back({&node.thenProcedure}); // `run` and the registers are left behind
            break;
        case 21: // ifelse
            stack.PopBoolean(Q);
            runs.push_back({Q ? &node.thenProcedure : &node.elseProcedure});
            break;
        case 22: // index
            stack.PopInteger(A);
            stack.IndexOperand(A);
            break;
        case 24: // ln
            stack.PopNumber(X);
            stack.PushReal(std::log(X));
            break;
        case 25: // log
            stack.PopNumber(X);
            stack.PushReal(std::log10(X));
            break;
        case 28: // mul
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(wrapMul(A, B));
            } else {
                stack.PopNumber(Y);
                stack.PopNumber(X);
                stack.PushReal(X * Y);
            }
            break;
        case 30: // neg
            if (stack.TopIsInteger()) {
                stack.PopInteger(A);
                stack.PushInteger(wrapSub(0, A));
            } else {
                stack.PopNumber(X);
                stack.PushReal(-X);
            }
            break;
        case 31: // not
            if (stack.topIsBoolean()) {
                stack.PopBoolean(Q);
                stack.PushBoolean(!Q);
            } else if (stack.TopIsInteger()) {
                stack.PopInteger(A);
                stack.PushInteger(~A);
            } else {
                stack.PushBoolean(!Q);
            }
            break;
        case 32: // or
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(A | B);
            } else {
                stack.PopBoolean(P);
                stack.PopBoolean(Q);
                stack.PushBoolean(Q || P);
            }
            break;
        case 33: // pop
            stack.PopOperand();
            break;
        case 34: // roll
            stack.PopInteger(B);
            stack.PopInteger(A);
            stack.RollOperands(A, B);
            break;
        case 35: // round
            stack.PopNumber(X);
            stack.PushReal(X > 0 ? std::floor(X + 0.5) : std::ceil(X - 0.5));
            break;
        case 36: // sin
            stack.PopNumber(X);
            stack.PushReal(std::sin(X / kDegreesPerRadian));
            break;
        case 37: // sqrt
            stack.PopNumber(X);
            stack.PushReal(std::sqrt(X));
            break;
        case 38: // sub
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(wrapSub(A, B));
            } else {
                stack.PopNumber(Y);
                stack.PopNumber(X);
                stack.PushReal(X - Y);
            }
            break;
        case 39: // true
            stack.PushBoolean(true);
            break;
        case 40: // truncate
            stack.PopNumber(X);
            stack.PushReal(X > 0 ? std::floor(X) : std::ceil(X));
            break;
        case 41: // xor
            if (stack.TopTwoAreIntegers()) {
                stack.PopInteger(B);
                stack.PopInteger(A);
                stack.PushInteger(A ^ B);
            } else {
                stack.PopBoolean(P);
                stack.PopBoolean(Q);
                stack.PushBoolean(Q != P);
            }
            break;
        }
    }
}

void RunPostScriptProgram(const PostScriptProgram& program, PSOperandStack& stack) {
    EvaluatePostScript(program, stack, program.nodeList);
}

void EvaluatePostScriptFunction(PDFFunction& record, const double* inputs, std::uint16_t m) {
    PSOperandStack stack;
    stack.InitOperandStack();
    for (std::uint16_t i = 0; i < m; ++i)
        stack.PushReal(inputs[i]);
    if (record.program && record.program->lengthRefused && record.budget) {
        record.budget->exhausted = true; // more than any evaluation may run
    } else if (record.program && record.budget) {
        PSOperationBudget& budget = *record.budget;
        const std::uint64_t allowed = std::min(budget.perEvaluation, budget.remaining);
        std::uint64_t left = allowed;
        EvaluatePostScript(*record.program, stack, record.program->nodeList, &left);
        budget.remaining -= allowed - left;
        if (left == 0)
            budget.exhausted = true;
    } else if (record.program) {
        RunPostScriptProgram(*record.program, stack);
    }
    stack.ReverseOperands();
    const std::int64_t n = std::max<std::int64_t>(record.outputCount, 0);
    const std::int64_t outputs =
        std::min<std::int64_t>({stack.count(), n, std::int64_t(record.outputBuffer.size())});
    double v = 0.0;
    for (std::int64_t i = 0; i < outputs; ++i) {
        // A boolean is not popped: this output and the later ones keep the last number.
        stack.PopNumber(v);
        record.outputBuffer[i] = record.clipToRange(i, v);
    }
}
