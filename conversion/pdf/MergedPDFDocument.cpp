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

MergedPDFDocument::MergedPDFDocument() : m_pdf(std::make_unique<QPDF>()) {
    m_pdf->emptyPDF();
}

int MergedPDFDocument::pageCount() {
    return int(m_pdf->getAllPages().size());
}

int MergedPDFDocument::appendPagesFrom(SourcePDF from, const std::function<bool(int)>& keep,
                                       std::vector<OutlineNode>* outline) {
    QPDF* source = from.pdf.get();
    QPDFPageDocumentHelper target(*m_pdf);
    // Page sizes and resources inherited from the source's page tree must travel with the page.
    source->pushInheritedAttributesToPage();
    const std::vector<QPDFObjectHandle> pages = source->getAllPages();
    std::map<QPDFObjGen, int> taken;
    int added = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (keep && !keep(int(i)))
            continue;
        const int index = pageCount();
        target.addPage(QPDFPageObjectHelper(pages[i]), false);
        taken[pages[i].getObjGen()] = index;
        ++added;
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

void MergedPDFDocument::appendPage(QPDFObjectHandle page) {
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
    for (const std::weak_ptr<TakeTurnsFileSource>& weak : m_sourceFiles)
        if (const std::shared_ptr<TakeTurnsFileSource> file = weak.lock())
            if (!file->unchanged(error))
                return false;
    return WritePDFDocument(*m_pdf, destination, options, error);
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
