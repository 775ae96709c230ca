// Copies printed pages into the export's output file as they are appended: the page and every
// object it reaches (contents, fonts, pictures) are written out at once with numbers of the
// output, so that nothing of a printed page stays in memory once it is appended. Objects that the
// pages of one print share (its fonts) are written once for all of them.
//
// A page's annotations are not written with it: which of its links stay, and where they lead,
// is known only when every page is printed. They come back to the caller: an annotation that is
// no link is written at once all the same; a link comes back as its dictionary's entries, with its
// action or destination apart, for the caller to write once resolved.
//
// A reference to another page of the same print leads to that page in the output, or to nothing
// when that page is never appended (a blank one). Used on one thread at a time, with the print's
// own QPDF; nothing of a print is kept after `endPrint`.
#pragma once

#include <QString>
#include <map>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <set>
#include <string>
#include <vector>

class QPDF;
class StreamingPDFWriter;

// One entry of a copied page's annotation list.
struct CopiedAnnotation {
    // Written already (anything but a link): its object in the output; 0 for a link.
    int object = 0;
    // A link: the entries of its dictionary but "/A" and "/Dest", in PDF syntax, references
    // made to the output; and those two apart (" /A << ... >>", " /Dest ...").
    std::string entries;
    std::string action;
    QString uri;          // its URI action's URI, if it has one
    bool hasDest = false; // it names a destination of the print

    bool isLink() const { return object == 0; }
};

struct CopiedPage {
    int object = 0;
    // The number reserved for the page's "/Annots" array, which the caller writes; 0 when the page
    // has none.
    int annotationsArray = 0;
    std::vector<CopiedAnnotation> annotations;
};

class PrintedPageCopier {
public:
    explicit PrintedPageCopier(StreamingPDFWriter& writer) : m_writer(writer) {}

    void beginPrint(QPDF& printed);
    void endPrint();
    // Writes the page, its "/Parent" made `parent`. Throws what qpdf throws on a damaged print;
    // nothing of the page is written then, and its objects are not taken for copied.
    CopiedPage copyPage(QPDFObjectHandle page, int parent);

private:
    int numberFor(QPDFObjectHandle object);
    // Appends the value in PDF syntax. Indirect objects become references to the output's (and
    // are written with the page), unless `inlined`: then their values are written in place, so
    // that nothing is written for a link that may yet be dropped.
    void append(QPDFObjectHandle value, std::string& out, int depth, bool inlined);
    void appendDictionaryEntry(const std::string& key, QPDFObjectHandle value, std::string& out,
                               int depth, bool inlined);
    CopiedAnnotation copyAnnotation(QPDFObjectHandle annotation);

    struct Staged {
        int number = 0;
        std::string text; // a stream's dictionary entries, or the object's value
        bool stream = false;
        std::string data; // a stream's stored data
    };
    void stage(QPDFObjectHandle object, int number);

    StreamingPDFWriter& m_writer;
    std::set<QPDFObjGen> m_printPages;
    std::map<QPDFObjGen, int> m_copied; // this print's objects in the output
    std::set<QPDFObjGen> m_written;     // its pages written
    // The page being copied: its objects' numbers, taken for copied once the page is written.
    QPDFObjGen m_page;
    int m_pageNumber = 0;
    std::map<QPDFObjGen, int> m_staging;
    std::vector<QPDFObjectHandle> m_work;
    std::vector<Staged> m_staged;
    std::set<QPDFObjGen> m_inlining; // guards against a cycle of inlined objects
};
