#include "MergedPDFDocument.h"

#include "PDFDocumentWriter.h"

#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cstdio>
#include <map>
#include <stdexcept>

namespace conversion {

namespace {

// The page an outline item leads to: its /Dest or its GoTo action's /D, a named destination
// looked up in the catalog's /Dests or the /Names tree, whose value may itself be a dictionary
// holding /D (as pdfTeX writes them).
QPDFObjectHandle destinationPage(QPDF& pdf, QPDFOutlineObjectHelper& item) {
    QPDFObjectHandle o = item.getObjectHandle();
    QPDFObjectHandle dest = o.getKey("/Dest");
    if (dest.isNull()) {
        QPDFObjectHandle action = o.getKey("/A");
        if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
            dest = action.getKey("/D");
    }
    if (dest.isName() || dest.isString()) {
        QPDFObjectHandle root = pdf.getRoot();
        QPDFObjectHandle found;
        if (dest.isName() && root.getKey("/Dests").isDictionary())
            found = root.getKey("/Dests").getKey(dest.getName());
        QPDFObjectHandle tree = root.getKey("/Names").isDictionary()
                                    ? root.getKey("/Names").getKey("/Dests")
                                    : QPDFObjectHandle::newNull();
        if ((!found.isInitialized() || found.isNull()) && dest.isString() && tree.isDictionary()) {
            QPDFNameTreeObjectHelper names(tree, pdf);
            QPDFObjectHandle value;
            if (names.findObject(dest.getUTF8Value(), value))
                found = value;
        }
        dest = found.isInitialized() ? found : QPDFObjectHandle::newNull();
    }
    if (dest.isDictionary())
        dest = dest.getKey("/D");
    if (dest.isArray() && dest.getArrayNItems() > 0)
        return dest.getArrayItem(0);
    return QPDFObjectHandle::newNull();
}

void mapOutline(QPDF& pdf, std::vector<QPDFOutlineObjectHelper> items,
                const std::map<QPDFObjGen, int>& pageIndex, std::vector<OutlineNode>& out,
                int depth) {
    // Outlines of damaged files may loop; a deep enough cut keeps the walk finite.
    if (depth > 64)
        return;
    for (QPDFOutlineObjectHelper& item : items) {
        OutlineNode node;
        node.title = item.getTitle();
        QPDFObjectHandle page = destinationPage(pdf, item);
        if (page.isIndirect()) {
            auto found = pageIndex.find(page.getObjGen());
            if (found != pageIndex.end())
                node.pageIndex = found->second;
        }
        mapOutline(pdf, item.getKids(), pageIndex, node.children, depth + 1);
        out.push_back(std::move(node));
    }
}

} // namespace

void FileStreamProvider::provideStreamData(QPDFObjGen const& stream, Pipeline* pipeline) {
    auto found = m_files.find(stream);
    if (found == m_files.end())
        throw std::runtime_error("no file for an image stream");
    std::FILE* file = std::fopen(found->second.c_str(), "rb");
    if (!file)
        throw std::runtime_error(found->second.string() + " can no longer be read");
    std::vector<unsigned char> buffer(1 << 16);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        pipeline->write(buffer.data(), n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        throw std::runtime_error(found->second.string() + " could not be read to its end");
    pipeline->finish();
}

void MergedPDFDocument::setStreamDataFromFile(QPDFObjectHandle stream,
                                              const std::filesystem::path& file,
                                              QPDFObjectHandle filter) {
    m_files->add(stream.getObjGen(), file);
    stream.replaceStreamData(m_files, filter, QPDFObjectHandle::newNull());
}

MergedPDFDocument::MergedPDFDocument() : m_pdf(std::make_unique<QPDF>()), m_parts(*m_pdf) {
    m_pdf->emptyPDF();
}

int MergedPDFDocument::pageCount() {
    return int(m_pdf->getAllPages().size());
}

int MergedPDFDocument::appendPagesFrom(SourcePDF from, const std::function<bool(int)>& keep,
                                       std::vector<OutlineNode>* outline, SourceInfo info) {
    QPDF* source = from.pdf.get();
    QPDFPageDocumentHelper target(*m_pdf);
    // Page sizes and resources inherited from the source's page tree must travel with the page.
    source->pushInheritedAttributesToPage();
    const std::vector<QPDFObjectHandle> pages = source->getAllPages();
    const int first = pageCount();
    std::map<QPDFObjGen, int> taken;
    std::vector<QPDFObjectHandle> takenPages;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (keep && !keep(int(i)))
            continue;
        // A page's annotations are copied once every page is: copied with it, a link to a later
        // page would lead nowhere, as qpdf writes a reference to a page not yet copied as null.
        QPDFObjectHandle page = pages[i];
        QPDFObjectHandle annotations = page.getKey("/Annots");
        page.removeKey("/Annots");
        const int index = pageCount();
        target.addPage(QPDFPageObjectHelper(page), false);
        if (!annotations.isNull())
            page.replaceKey("/Annots", annotations);
        taken[page.getObjGen()] = index;
        takenPages.push_back(page);
    }
    const int added = int(takenPages.size());
    const std::vector<QPDFObjectHandle>& all = m_pdf->getAllPages();
    const std::vector<QPDFObjectHandle> copies(all.begin() + first, all.end());
    copyAnnotations(*source, takenPages, copies);
    try {
        m_parts.takeFrom(*source, copies, first, std::size_t(added) == pages.size(),
                         info == SourceInfo::Offer);
    } catch (const std::exception& e) {
        m_warnings.push_back(std::string("its named destinations, attached files, page labels or "
                                         "Info could not all be kept: ") +
                             e.what());
    }
    if (outline && added > 0) {
        QPDFOutlineDocumentHelper outlines(*source);
        mapOutline(*source, outlines.getTopLevelOutlines(), taken, *outline, 0);
    }
    // The copied streams keep only the source's file, opened again when the merged document is
    // written, and its decryption keys; the parsed source itself is no longer needed.
    if (from.file) {
        from.file->close();
        m_sourceFiles.push_back(from.file);
    }
    return added;
}

void MergedPDFDocument::copyAnnotations(QPDF& source, const std::vector<QPDFObjectHandle>& from,
                                        std::vector<QPDFObjectHandle> to) {
    std::unique_ptr<QPDFAcroFormDocumentHelper> sourceForms;
    for (std::size_t i = 0; i < from.size() && i < to.size(); ++i) {
        QPDFObjectHandle page = from[i];
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (!annotations.isArray() || annotations.getArrayNItems() == 0)
            continue;
        try {
            if (!sourceForms)
                sourceForms = std::make_unique<QPDFAcroFormDocumentHelper>(source);
            // Without a form the annotations are copied as they are; with one, qpdf's form
            // helper gives each copy its own annotations, and the form fields behind them join
            // the merged form, renamed where another source's fields have the name.
            if (!sourceForms->hasAcroForm()) {
                to[i].replaceKey("/Annots", copyForeign(*m_pdf, source, annotations));
                continue;
            }
            if (!m_forms)
                m_forms = std::make_unique<QPDFAcroFormDocumentHelper>(*m_pdf);
            m_forms->fixCopiedAnnotations(to[i], page, *sourceForms);
        } catch (const std::exception& e) {
            m_warnings.push_back("the annotations of its page " + std::to_string(i + 1) +
                                 " could not be copied: " + e.what());
        }
    }
    try {
        if (sourceForms && m_forms && sourceForms->getNeedAppearances())
            m_forms->setNeedAppearances(true);
    } catch (const std::exception&) {
        // Without the flag a reader shows the fields as their stored appearances draw them.
    }
}

void MergedPDFDocument::appendPage(QPDFObjectHandle page) {
    m_parts.notePagesMadeHere(pageCount());
    QPDFPageDocumentHelper(*m_pdf).addPage(QPDFPageObjectHelper(page), false);
}

namespace {

// Builds the items of `nodes` under `parent`; returns the number of visible descendants.
int buildItems(QPDF& pdf, const std::vector<OutlineNode>& nodes, QPDFObjectHandle parent,
               const std::vector<QPDFObjectHandle>& pages) {
    QPDFObjectHandle previous;
    int count = 0;
    for (const OutlineNode& node : nodes) {
        QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(node.title));
        item.replaceKey("/Parent", parent);
        if (node.pageIndex >= 0 && std::size_t(node.pageIndex) < pages.size()) {
            QPDFObjectHandle page = pages[std::size_t(node.pageIndex)];
            QPDFObjectHandle box = QPDFPageObjectHelper(page).getCropBox(false, false);
            double top = 0;
            if (box.isRectangle())
                top = box.getArrayAsRectangle().ury;
            QPDFObjectHandle dest = QPDFObjectHandle::newArray();
            dest.appendItem(page);
            dest.appendItem(QPDFObjectHandle::newName("/XYZ"));
            dest.appendItem(QPDFObjectHandle::newInteger(0));
            dest.appendItem(QPDFObjectHandle::newReal(top, 2));
            dest.appendItem(QPDFObjectHandle::newNull());
            item.replaceKey("/Dest", dest);
        }
        if (previous.isInitialized()) {
            previous.replaceKey("/Next", item);
            item.replaceKey("/Prev", previous);
        } else {
            parent.replaceKey("/First", item);
        }
        parent.replaceKey("/Last", item);
        previous = item;
        ++count;
        if (!node.children.empty()) {
            const int below = buildItems(pdf, node.children, item, pages);
            // Closed: the reader shows each input's own outline folded under its entry.
            item.replaceKey("/Count", QPDFObjectHandle::newInteger(-below));
        }
    }
    return count;
}

} // namespace

void MergedPDFDocument::buildOutline() {
    QPDFObjectHandle root = m_pdf->getRoot();
    root.removeKey("/Outlines");
    if (m_outline.empty())
        return;
    QPDFObjectHandle outlines = m_pdf->makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    const int count = buildItems(*m_pdf, m_outline, outlines, m_pdf->getAllPages());
    outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(count));
    root.replaceKey("/Outlines", outlines);
    root.replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
}

bool MergedPDFDocument::write(const std::filesystem::path& destination,
                              const PDFWriteOptions* options, std::string& error) {
    if (pageCount() == 0) {
        error = "no page to write";
        return false;
    }
    try {
        buildOutline();
    } catch (const std::exception& e) {
        error = std::string("the outline could not be made: ") + e.what();
        return false;
    }
    try {
        m_parts.build();
    } catch (const std::exception& e) {
        error = std::string("the named destinations, attached files or page labels could not be "
                            "written: ") +
                e.what();
        return false;
    }
    for (const std::weak_ptr<TakeTurnsFileSource>& weak : m_sourceFiles)
        if (const std::shared_ptr<TakeTurnsFileSource> file = weak.lock())
            if (!file->unchanged(error))
                return false;
    return WritePDFDocument(*m_pdf, destination, options, error);
}

bool writeWholePDF(SourcePDF source, const std::filesystem::path& destination,
                   const PDFWriteOptions* options, std::string& error) {
    if (source.file && !source.file->unchanged(error))
        return false;
    try {
        // qpdf writes the trailer's /Size, with its own count, only where the source's trailer
        // has the key, which a repaired file may lack; without it the file would not read back.
        QPDFObjectHandle trailer = source.pdf->getTrailer();
        if (!trailer.hasKey("/Size"))
            trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(0));
    } catch (const std::exception& e) {
        error = std::string("not a readable PDF: ") + e.what();
        return false;
    }
    return WritePDFDocument(*source.pdf, destination, options, error);
}

SourcePDF openCopyablePDF(const std::filesystem::path& path,
                          const std::optional<std::string>& password, std::string& error) {
    SourcePDF source{std::make_unique<QPDF>(), std::make_shared<TakeTurnsFileSource>(path)};
    QPDF* pdf = source.pdf.get();
    pdf->setSuppressWarnings(true);
    try {
        pdf->processInputSource(source.file, password ? password->c_str() : nullptr);
        // The owner password lifts the restrictions: whoever gives it may copy the pages.
        if (pdf->isEncrypted() && !pdf->allowExtractAll() && !pdf->ownerPasswordMatched()) {
            error = "its permissions forbid copying its pages";
            return {};
        }
        if (pdf->getAllPages().empty()) {
            error = "it has no page";
            return {};
        }
    } catch (const QPDFExc& e) {
        error = e.getErrorCode() == qpdf_e_password
                    ? "the password is wrong or missing"
                    : std::string("not a readable PDF: ") + e.getMessageDetail();
        return {};
    } catch (const std::exception& e) {
        error = std::string("not a readable PDF: ") + e.what();
        return {};
    }
    return source;
}

} // namespace conversion
