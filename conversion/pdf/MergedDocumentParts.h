// What a merged PDF keeps of each source besides its pages and their annotations:
// - the named destinations, every name of every source, one that an earlier source already used
//   renamed "name 1", "name 2", ...; the links and GoTo actions on the source's copied pages
//   follow the names (a destination whose page was not taken is dropped, and so is a link's
//   target on such a page);
// - the attached files, renamed the same way when a key or a file name is already taken;
// - the page labels, each source's moved to where its pages land; once any source has labels,
//   the pages of the others are numbered by their place in the merged document, as a reader
//   numbers pages without labels;
// - the Info dictionary of the first source that offers one.
// The parts are copied into the merged document as each source is taken, so that the source can
// be let go at once; they become the merged catalog's entries (/Names, /PageLabels) and the
// trailer's /Info when the document is about to be written. qpdf objects throw on damaged input:
// every call may throw std::exception. Used on one thread, with the merged document's QPDF.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace conversion {

// Copies any object of `source`, direct or not, into `merged`. References to pages already
// copied lead to their copies, those to pages not copied become null.
QPDFObjectHandle copyForeign(QPDF& merged, QPDF& source, QPDFObjectHandle object);

class MergedDocumentParts {
public:
    explicit MergedDocumentParts(QPDF& merged) : m_merged(merged) {}

    // Takes the parts of `source`, whose pages `copied` (in order, their annotations already
    // copied) now stand at `first` onwards in the merged document. `everyPage`: all of the
    // source's pages were taken, so its page labels carry over. `offersInfo`: its Info may become
    // the merged document's.
    void takeFrom(QPDF& source, const std::vector<QPDFObjectHandle>& copied, int first,
                  bool everyPage, bool offersInfo);
    // Pages made in the merged document itself stand from `first` on.
    void notePagesMadeHere(int first);
    // Puts the parts into the merged document's catalog and trailer.
    void build();

private:
    // Names given out once each: one already given becomes "name 1", "name 2", ... (before the
    // extension of a file name).
    class FreeNames {
    public:
        explicit FreeNames(bool fileNames) : m_fileNames(fileNames) {}
        std::string claim(const std::string& wanted);

    private:
        bool m_fileNames;
        std::set<std::string> m_given;
        std::map<std::string, int> m_lastNumber; // per wanted name, so each claim costs little
    };
    // A source's names, keyed by how its links refer to them: a name object looks in the
    // catalog's /Dests, a string in the /Names tree.
    struct Renames {
        std::map<std::string, std::string> names;
        std::map<std::string, std::string> strings;
    };
    void takeDestinations(QPDF& source, Renames& renames);
    void followRenames(const std::vector<QPDFObjectHandle>& copied, const Renames& renames);
    void takeAttachments(QPDF& source);
    void takeLabels(QPDF& source, std::size_t count, int first, bool everyPage);

    QPDF& m_merged;
    std::map<std::string, QPDFObjectHandle> m_destinations;
    FreeNames m_destinationNames{false};
    std::map<std::string, QPDFObjectHandle> m_attachments;
    FreeNames m_attachmentKeys{true};
    FreeNames m_attachmentFileNames{true};
    // Where each run of labels starts; a null label numbers the run by its place.
    std::vector<std::pair<int, QPDFObjectHandle>> m_labels;
    bool m_anyLabels = false;
    QPDFObjectHandle m_info;
};

} // namespace conversion
