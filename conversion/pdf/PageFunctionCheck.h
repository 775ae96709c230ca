// What a page asks of Poppler's calculator-function parser, checked before Poppler draws it.
// Poppler parses FunctionType 4 programs recursively, one call per brace, and a program nested
// a few hundred thousand levels deep runs it off the end of the stack. Every calculator function
// the page can reach (shadings, transfer functions, tint transforms, patterns, in the page's
// resources, its forms and its annotations' appearances) goes through this library's own parser
// first, which finds how deep it nests and refuses programs longer than one evaluation may run
// here (Poppler runs them without a limit).
#pragma once

#include <set>
#include <string>

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

// The most objects one page's check visits; a page that reaches more is refused.
inline constexpr int kPageCheckMaxObjects = 200000;
// How deep a calculator program may nest for Poppler to parse it: far past what real files use
// (Poppler draws 150 levels as well as 10), far short of the tens of thousands of levels at which
// its parser runs off an 8 MB stack.
inline constexpr int kPageCheckMaxNesting = 1000;

// False with a message when a calculator function of the page nests deeper than
// kPageCheckMaxNesting or holds more than
// kPSMaxProgramOperations operations, or the page reaches more objects than are checked. Indirect
// objects in `safe` (when given) are known to be safe and are passed over; those of a page found
// safe are added to it.
bool pageFunctionsAreSafeToDraw(QPDFObjectHandle page, std::string& error,
                                std::set<QPDFObjGen>* safe = nullptr);
