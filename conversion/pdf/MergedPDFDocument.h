// A PDF being assembled from pages of other PDFs and pages made here, with an outline of one
// entry per input. A source document is let go as soon as its pages are taken: their contents
// are read from its file again only when the merged document is written, so a merge of many
// files holds neither their parsed objects nor an open descriptor for each.
#pragma once

#include "ConversionEntries.h"
#include "MergedDocumentParts.h"
#include "OutputFile.h"
#include "TakeTurnsFileSource.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace conversion {

struct OutlineNode {
    std::string title;
    int pageIndex = -1; // in the merged document; -1 when the target page is not in it
    std::vector<OutlineNode> children;
};

// Stream data that stays in its file until the document is written, so a PDF of many photos
// never holds them all in memory.
class FileStreamProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    void add(QPDFObjGen stream, std::filesystem::path file) { m_files[stream] = std::move(file); }
    void provideStreamData(QPDFObjGen const& stream, Pipeline* pipeline) override;

private:
    std::map<QPDFObjGen, std::filesystem::path> m_files;
};

// A PDF opened to take pages from, with the file it reads.
struct SourcePDF {
    std::unique_ptr<QPDF> pdf;
    std::shared_ptr<TakeTurnsFileSource> file;
    explicit operator bool() const { return pdf != nullptr; }
};

// Whether a source's Info dictionary may become the merged document's: a PDF the user gave
// offers it, a file printed for the merge does not.
enum class SourceInfo { Ignore, Offer };

class MergedPDFDocument {
public:
    MergedPDFDocument();
    MergedPDFDocument(const MergedPDFDocument&) = delete;
    MergedPDFDocument& operator=(const MergedPDFDocument&) = delete;

    QPDF& pdf() { return *m_pdf; }
    int pageCount();
    // Appends the pages of `source` for which `keep` (may be empty) answers true, with their
    // annotations (links keep their targets, form fields join the merged form) and the
    // source's other parts (MergedDocumentParts); the source's own outline, mapped onto the
    // pages taken, comes back in `outline`. Returns the pages added. What of the source could
    // not be kept is said in warnings(). The source is released on return; its file must stay
    // in place until write().
    int appendPagesFrom(SourcePDF source, const std::function<bool(int)>& keep,
                        std::vector<OutlineNode>* outline, SourceInfo info = SourceInfo::Ignore);
    // What the appends since the last call could not keep, one line each.
    std::vector<std::string> takeWarnings() { return std::move(m_warnings); }
    // A temporary file whose pages were appended (claimTemporaryIn): removed once this
    // document is gone.
    void removeWhenDone(RemoveOnExit file) {
        m_removeWhenDone.push_back(std::make_unique<RemoveOnExit>(std::move(file)));
    }
    // The stream's data is read from the file when the document is written.
    void setStreamDataFromFile(QPDFObjectHandle stream, const std::filesystem::path& file,
                               QPDFObjectHandle filter);
    // A page object made in pdf().
    void appendPage(QPDFObjectHandle page);
    void addOutlineEntry(OutlineNode entry) { m_outline.push_back(std::move(entry)); }
    bool write(const std::filesystem::path& destination, const PDFWriteOptions* options,
               std::string& error);

private:
    void buildOutline();
    void copyAnnotations(QPDF& source, const std::vector<QPDFObjectHandle>& from,
                         std::vector<QPDFObjectHandle> to);
    // Declared first so the files outlive the document whose copied streams read them.
    std::vector<std::unique_ptr<RemoveOnExit>> m_removeWhenDone;
    std::unique_ptr<QPDF> m_pdf;
    MergedDocumentParts m_parts;
    // The merged form, made when the first page with annotations comes.
    std::unique_ptr<QPDFAcroFormDocumentHelper> m_forms;
    std::vector<std::string> m_warnings;
    std::vector<OutlineNode> m_outline;
    std::shared_ptr<FileStreamProvider> m_files = std::make_shared<FileStreamProvider>();
    // The sources pages were taken from. qpdf writes a stream it cannot read as empty, so each
    // is checked to be the file it was before the write begins.
    std::vector<std::weak_ptr<TakeTurnsFileSource>> m_sourceFiles;
};

// Writes `source` whole to `destination`: everything of it is kept but what the write options
// change (an encrypted source is written without its encryption unless they ask for one).
bool writeWholePDF(SourcePDF source, const std::filesystem::path& destination,
                   const PDFWriteOptions* options, std::string& error);

// Opens a PDF, unlocking it with the password; null with `error` set when it does not open, the
// password is wrong or its permissions forbid copying its contents. The file is open only while
// the document reads it, so many such documents may exist at once.
SourcePDF openCopyablePDF(const std::filesystem::path& path,
                          const std::optional<std::string>& password, std::string& error);

} // namespace conversion
