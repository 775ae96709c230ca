// The calculator of FunctionType 4 functions: the program text is tokenized and parsed once into
// a tree of nodes, which then runs on a fresh operand stack per evaluation. Nothing here reports
// an error: a malformed program runs as far as it makes sense and leaves what it leaves.
#pragma once

#include "PSOperandStack.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

struct PDFFunction;

enum PSNodeKind : std::int32_t { kPSNodeInteger = 1, kPSNodeReal = 2, kPSNodeOperator = 3 };

enum PSTokenKind : int {
    kPSTokenEnd = 0,
    kPSTokenInteger = 1,
    kPSTokenReal = 2,
    kPSTokenName = 3,
    kPSTokenOpenBrace = 4,
    kPSTokenCloseBrace = 5,
};

// Operator indices that the parser and evaluator name.
inline constexpr std::int32_t kPSOperatorIf = 20;
inline constexpr std::int32_t kPSOperatorIfElse = 21;
inline constexpr int kPSOperatorCount = 42;

struct PSNode {
    double realValue = 0;
    std::int64_t integerValue = 0;
    std::vector<PSNode> thenProcedure;
    std::vector<PSNode> elseProcedure;
    std::int32_t kind = 0;
    std::int32_t operatorIndex = -1;
};

struct PostScriptProgram {
    const std::uint8_t* programText = nullptr; // borrowed from the function's sample data
    std::vector<PSNode> nodeList;
    std::uint64_t readPosition = 0;
    std::uint64_t textLength = 0;
    // Set when more operations in all than kPSMaxProgramOperations ended the parse (the program
    // is then empty). Nesting has no limit of its own: every brace counts as an operation.
    bool lengthRefused = false;
    std::uint64_t operationCount = 0;
    // The deepest nesting of procedures met (1 for the outermost).
    int deepestNesting = 0;

    PostScriptProgram() = default;
    PostScriptProgram(const PostScriptProgram&) = delete;
    PostScriptProgram& operator=(const PostScriptProgram&) = delete;
    // Takes the node tree apart without recursing, however deep it nests.
    ~PostScriptProgram();
};

// The most operations a program holds, counting those of its procedures and their braces; longer
// texts are refused while parsing, before they take memory.
inline constexpr std::uint64_t kPSMaxProgramOperations = 100000;
// The longest token converted or looked up; longer runs are read past and ignored.
inline constexpr std::size_t kPSMaxTokenLength = 99;

// What evaluations may run: each at most `perEvaluation` operations, all of them together at most
// `remaining` (counted down). Past either, the evaluation stops where it is and `exhausted` is set.
inline constexpr std::uint64_t kPSMaxOperationsPerEvaluation = 100000;
inline constexpr std::uint64_t kPSMaxOperationsPerImage = std::uint64_t(1) << 28;
struct PSOperationBudget {
    std::uint64_t perEvaluation = kPSMaxOperationsPerEvaluation;
    std::uint64_t remaining = kPSMaxOperationsPerImage;
    bool exhausted = false;
};

// Builds the program from the record's sample data and stores it in the record.
void CreatePostScriptProgram(PDFFunction& record);
void ParsePostScriptText(PostScriptProgram& program);
// Parses one procedure, up to its closing brace or the end of the text, into `list`. Answers
// false when the procedure was malformed (the list is then empty). Nested procedures are parsed
// with a stack of their own, not by recursion, so that nesting costs no call stack.
bool ParsePostScriptProgram(PostScriptProgram& program, std::vector<PSNode>& list);
// Empties `list` without recursing into the procedures of its nodes.
void DisposePostScriptNodes(std::vector<PSNode>& list);
int TokenizePostScript(PostScriptProgram& program, PSNode& node);
std::int32_t LookupPostScriptOperator(std::string_view name);
std::string_view postScriptOperatorName(std::int32_t index);
// With `operationsLeft`, every node run counts one off it, and the run stops at zero. The
// procedures of if and ifelse run on a stack of runs, not by recursion.
void EvaluatePostScript(const PostScriptProgram& program, PSOperandStack& stack,
                        const std::vector<PSNode>& list, std::uint64_t* operationsLeft = nullptr);
void RunPostScriptProgram(const PostScriptProgram& program, PSOperandStack& stack);
// Runs the record's program on its m inputs and writes the outputs into its output buffer, within
// the record's budget when it has one.
void EvaluatePostScriptFunction(PDFFunction& record, const double* inputs, std::uint16_t m);
