// Laying a document out on paper with Qt's text document and painting it into a print PDF. Qt's
// layout cannot be interrupted and grows exponentially with the nesting of tables, so the library
// runs it in a helper program ("lumeno-text-layout") with a time limit, and the helper refuses
// tables nested deeper than a cap.
#pragma once

#include "ConversionEntries.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

// The deepest nesting of tables laid out; deeper documents are refused with a message.
inline constexpr int kMaxTableNesting = 12;
// How long one document's layout may run.
inline constexpr std::chrono::seconds kLayoutTimeLimit{120};
// The start of the lines in the helper's output that are the library's messages for the user
// (a font that is not installed, a LibreOffice without its own network): the host passes them
// on to its own log. The rest is what Qt and fontconfig say, and the helper's error last.
inline constexpr char kLayoutNotePrefix[] = "lumeno-layout-note: ";

struct DocumentLayoutRequest {
    std::filesystem::path document;
    std::filesystem::path print; // the PDF written
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    bool landscape = false;
    // Applied to plain text, and to rich documents with `richTextAttributes`.
    std::optional<TextAttributes> attributes;
    bool richTextAttributes = false;
};

// The layout in this process (what the helper program runs; in the conversionLayout target, the
// only part that links Qt GUI); the calling program must have made a QGuiApplication, else this
// answers false with a message. Besides the
// print it writes the document's text, UTF-8, to laidOutTextPath(request.print), and where its
// anchors landed to anchorPlacesPath(request.print). Content wider than the text is fitted to it.
bool layOutDocument(const DocumentLayoutRequest& request, std::string& error);
std::filesystem::path laidOutTextPath(const std::filesystem::path& print);
// The text a layout wrote; empty when there is none (or more than the layout could have made).
std::string readLaidOutText(const std::filesystem::path& path);

// The helper's command line for a request (without the program name), and back.
std::vector<std::string> layoutArguments(const DocumentLayoutRequest& request);
bool parseLayoutArguments(const std::vector<std::string>& arguments, DocumentLayoutRequest& request,
                          std::string& error);

// The helper program, in the folder of helper programs (InstalledPaths.h); empty when it is not
// there.
std::filesystem::path findLayoutHelper();
// The layout in the helper program, killed past `timeLimit` or when `target` cancels. The
// helper's messages for the user go to this process's log (ConversionLog.h), each once a process.
bool layOutDocumentInHelper(const DocumentLayoutRequest& request, std::string& error,
                            ConversionProgress* target = nullptr,
                            std::chrono::milliseconds timeLimit = kLayoutTimeLimit);

} // namespace conversion
