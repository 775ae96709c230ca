#include "PageFunctionCheck.h"

#include "PDFFunction.h"
#include "PostScriptCalculator.h"

#include <set>
#include <vector>

namespace {

// Why the calculator program of a FunctionType 4 stream may not reach Poppler: nested deeper than
// Poppler's parser is let go, or longer than an evaluation may run; "" when it may.
std::string calculatorRefusal(QPDFObjectHandle stream) {
    PDFFunction record;
    CopyPDFFunctionStreamData(record, stream);
    PostScriptProgram program;
    program.programText = record.sampleData.empty() ? nullptr : record.sampleData.data();
    program.textLength = record.sampleData.size();
    ParsePostScriptText(program);
    if (program.lengthRefused)
        return "the page uses a calculator function of more than " +
               std::to_string(kPSMaxProgramOperations) + " operations";
    if (program.deepestNesting > kPageCheckMaxNesting)
        return "the page uses a calculator function nested more than " +
               std::to_string(kPageCheckMaxNesting) + " levels deep";
    return "";
}

bool isCalculatorFunction(QPDFObjectHandle stream) {
    QPDFObjectHandle type = stream.getDict().getKey("/FunctionType");
    return type.isInteger() && type.getIntValue() == 4;
}

} // namespace

bool pageFunctionsAreSafeToDraw(QPDFObjectHandle page, std::string& error,
                                std::set<QPDFObjGen>* safe) {
    try {
        std::vector<QPDFObjectHandle> pending;
        // The resources may be inherited from the page tree.
        QPDFObjectHandle node = page;
        for (int level = 0; node.isDictionary() && level < 64; ++level) {
            QPDFObjectHandle resources = node.getKey("/Resources");
            if (!resources.isNull()) {
                pending.push_back(resources);
                break;
            }
            node = node.getKey("/Parent");
        }
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (annotations.isArray())
            for (QPDFObjectHandle annotation : annotations.aitems())
                if (annotation.isDictionary())
                    pending.push_back(annotation.getKey("/AP"));
        std::set<QPDFObjGen> seen;
        int visited = 0;
        // An explicit stack: nesting in the file costs no stack here.
        while (!pending.empty()) {
            QPDFObjectHandle object = pending.back();
            pending.pop_back();
            if (object.isIndirect() && ((safe && safe->count(object.getObjGen())) ||
                                        !seen.insert(object.getObjGen()).second))
                continue;
            if (++visited > kPageCheckMaxObjects) {
                error = "the page refers to more objects than are checked before drawing";
                return false;
            }
            if (object.isStream()) {
                if (isCalculatorFunction(object)) {
                    if (std::string why = calculatorRefusal(object); !why.empty()) {
                        error = why;
                        return false;
                    }
                }
                object = object.getDict();
            }
            if (object.isDictionary()) {
                for (auto& [key, value] : object.ditems())
                    // Links back to the page tree and to annotations' pages lead off the page.
                    if (key != "/Parent" && key != "/P" &&
                        (value.isDictionary() || value.isArray() || value.isStream()))
                        pending.push_back(value);
            } else if (object.isArray()) {
                for (QPDFObjectHandle item : object.aitems())
                    if (item.isDictionary() || item.isArray() || item.isStream())
                        pending.push_back(item);
            }
        }
        // Everything reachable from what this page reached has been looked at.
        if (safe)
            safe->insert(seen.begin(), seen.end());
    } catch (const std::exception& e) {
        error = std::string("the page's resources cannot be read: ") + e.what();
        return false;
    }
    return true;
}
