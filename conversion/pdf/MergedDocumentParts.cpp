#include "MergedDocumentParts.h"

#include "OutputFile.h"

#include <qpdf/QPDFEmbeddedFileDocumentHelper.hh>
#include <qpdf/QPDFFileSpecObjectHelper.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFNumberTreeObjectHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>

#include <functional>

namespace conversion {

namespace {

// The explicit destination inside a named destination's value: the array itself, or a
// dictionary's /D.
QPDFObjectHandle explicitPart(QPDFObjectHandle value) {
    return value.isDictionary() ? value.getKey("/D") : value;
}

// Whether a destination leads to a page no longer there.
bool leadsNowhere(QPDFObjectHandle destination) {
    QPDFObjectHandle target = explicitPart(destination);
    return target.isArray() && target.getArrayNItems() > 0 && target.getArrayItem(0).isNull();
}

std::string nameKey(QPDFObjectHandle name) {
    std::string key = name.getName();
    return key.empty() ? key : key.substr(1);
}

// A page label dictionary rebuilt in the merged document from its plain values.
QPDFObjectHandle rebuiltLabel(QPDFObjectHandle label) {
    QPDFObjectHandle copy = QPDFObjectHandle::newDictionary();
    if (!label.isDictionary())
        return copy;
    if (label.getKey("/S").isName())
        copy.replaceKey("/S", QPDFObjectHandle::newName(label.getKey("/S").getName()));
    if (label.getKey("/P").isString())
        copy.replaceKey("/P", QPDFObjectHandle::newString(label.getKey("/P").getStringValue()));
    if (label.getKey("/St").isInteger())
        copy.replaceKey("/St", QPDFObjectHandle::newInteger(label.getKey("/St").getIntValue()));
    return copy;
}

} // namespace

std::string MergedDocumentParts::FreeNames::claim(const std::string& wanted) {
    if (m_given.insert(wanted).second)
        return wanted;
    std::string stem = wanted;
    std::string extension;
    const std::size_t dot = wanted.rfind('.');
    if (m_fileNames && dot != std::string::npos && dot > 0) {
        stem = wanted.substr(0, dot);
        extension = wanted.substr(dot + 1);
    }
    for (int& n = m_lastNumber[wanted];;) {
        const std::string candidate = numberedFileName(stem, extension, ++n);
        if (m_given.insert(candidate).second)
            return candidate;
    }
}

QPDFObjectHandle copyForeign(QPDF& merged, QPDF& source, QPDFObjectHandle object) {
    if (!object.isIndirect())
        object = source.makeIndirectObject(object.shallowCopy());
    return merged.copyForeignObject(object);
}

void MergedDocumentParts::takeFrom(QPDF& source, const std::vector<QPDFObjectHandle>& copied,
                                   int first, bool everyPage, bool offersInfo) {
    Renames renames;
    takeDestinations(source, renames);
    followRenames(copied, renames);
    takeAttachments(source);
    takeLabels(source, copied.size(), first, everyPage);
    if (offersInfo && !m_info.isInitialized()) {
        QPDFObjectHandle info = source.getTrailer().getKey("/Info");
        if (info.isDictionary())
            m_info = copyForeign(m_merged, source, info);
    }
}

void MergedDocumentParts::takeDestinations(QPDF& source, Renames& renames) {
    struct Named {
        std::string key;
        std::map<std::string, std::string>* renames;
    };
    std::vector<Named> named;
    std::vector<QPDFObjectHandle> values;
    QPDFObjectHandle root = source.getRoot();
    QPDFObjectHandle names = root.getKey("/Names");
    if (names.isDictionary() && names.getKey("/Dests").isDictionary()) {
        QPDFNameTreeObjectHelper tree(names.getKey("/Dests"), source);
        for (auto& [key, value] : tree) {
            named.push_back({key, &renames.strings});
            values.push_back(value);
        }
    }
    QPDFObjectHandle dests = root.getKey("/Dests");
    if (dests.isDictionary())
        for (const std::string& key : dests.getKeys()) {
            named.push_back({key.substr(1), &renames.names});
            values.push_back(dests.getKey(key));
        }
    if (values.empty())
        return;
    // One copy for all of them: a manual has hundreds, and each copy has a cost of its own.
    QPDFObjectHandle copies = copyForeign(m_merged, source, QPDFObjectHandle::newArray(values));
    for (std::size_t i = 0; i < named.size() && int(i) < copies.getArrayNItems(); ++i) {
        QPDFObjectHandle copy = copies.getArrayItem(int(i));
        if (leadsNowhere(copy))
            continue;
        const std::string name = m_destinationNames.claim(named[i].key);
        m_destinations[name] = copy;
        (*named[i].renames)[named[i].key] = name;
    }
}

void MergedDocumentParts::followRenames(const std::vector<QPDFObjectHandle>& copied,
                                        const Renames& renames) {
    // Every reference is written anew, renamed or not, as the string the merged name tree
    // holds: a name object would look in a /Dests the merged document does not have, and a
    // string must match the tree's key byte for byte.
    const auto renamed = [&](QPDFObjectHandle destination, QPDFObjectHandle& replacement) {
        const std::map<std::string, std::string>* map = nullptr;
        std::string key;
        if (destination.isName()) {
            map = &renames.names;
            key = nameKey(destination);
        } else if (destination.isString()) {
            map = &renames.strings;
            key = destination.getUTF8Value();
        } else {
            return false;
        }
        auto found = map->find(key);
        if (found == map->end())
            return false;
        replacement = QPDFObjectHandle::newUnicodeString(found->second);
        return true;
    };
    // A key holding a destination: renamed, or removed when it leads to a page not taken.
    const auto follow = [&](QPDFObjectHandle holder, const char* key) {
        QPDFObjectHandle destination = holder.getKey(key);
        QPDFObjectHandle replacement;
        if (renamed(destination, replacement))
            holder.replaceKey(key, replacement);
        else if (leadsNowhere(destination))
            holder.removeKey(key);
    };
    std::set<QPDFObjGen> seen;
    // Actions chain through /Next; shared ones are followed once, so a rename is never applied
    // to a name it produced.
    std::function<void(QPDFObjectHandle, int)> action = [&](QPDFObjectHandle a, int depth) {
        if (depth > 32 || (a.isIndirect() && !seen.insert(a.getObjGen()).second))
            return;
        if (a.isArray()) {
            for (int i = 0; i < a.getArrayNItems(); ++i)
                action(a.getArrayItem(i), depth + 1);
            return;
        }
        if (!a.isDictionary())
            return;
        if (a.getKey("/S").isNameAndEquals("/GoTo"))
            follow(a, "/D");
        action(a.getKey("/Next"), depth + 1);
    };
    for (QPDFObjectHandle page : copied) {
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (!annotations.isArray())
            continue;
        for (QPDFObjectHandle annotation : annotations.aitems()) {
            if (!annotation.isDictionary() ||
                (annotation.isIndirect() && !seen.insert(annotation.getObjGen()).second))
                continue;
            follow(annotation, "/Dest");
            action(annotation.getKey("/A"), 0);
        }
    }
}

void MergedDocumentParts::takeAttachments(QPDF& source) {
    QPDFEmbeddedFileDocumentHelper files(source);
    if (!files.hasEmbeddedFiles())
        return;
    for (auto& [key, spec] : files.getEmbeddedFiles()) {
        QPDFObjectHandle copy = copyForeign(m_merged, source, spec->getObjectHandle());
        QPDFFileSpecObjectHelper copied(copy);
        // Two files shown under one name would overwrite each other when saved.
        const std::string fileName = copied.getFilename();
        const std::string freeFileName = m_attachmentFileNames.claim(fileName);
        if (freeFileName != fileName)
            copied.setFilename(freeFileName);
        m_attachments[m_attachmentKeys.claim(key == fileName ? freeFileName : key)] = copy;
    }
}

void MergedDocumentParts::takeLabels(QPDF& source, std::size_t count, int first, bool everyPage) {
    QPDFPageLabelDocumentHelper labels(source);
    if (count == 0)
        return;
    if (!everyPage || !labels.hasPageLabels()) {
        notePagesMadeHere(first);
        return;
    }
    std::vector<QPDFObjectHandle> ranges;
    labels.getLabelsForPageRange(0, (long long)(count)-1, first, ranges);
    for (std::size_t i = 0; i + 1 < ranges.size(); i += 2)
        if (ranges[i].isInteger())
            m_labels.emplace_back(int(ranges[i].getIntValue()), rebuiltLabel(ranges[i + 1]));
    m_anyLabels = true;
}

void MergedDocumentParts::notePagesMadeHere(int first) {
    if (m_labels.empty() || m_labels.back().second.isInitialized())
        m_labels.emplace_back(first, QPDFObjectHandle());
}

void MergedDocumentParts::build() {
    QPDFObjectHandle root = m_merged.getRoot();
    root.removeKey("/Names");
    root.removeKey("/PageLabels");
    if (m_info.isInitialized())
        m_merged.getTrailer().replaceKey("/Info", m_info);
    QPDFObjectHandle names = QPDFObjectHandle::newDictionary();
    const auto tree = [&](const char* key, const std::map<std::string, QPDFObjectHandle>& items) {
        if (items.empty())
            return;
        QPDFNameTreeObjectHelper built = QPDFNameTreeObjectHelper::newEmpty(m_merged);
        // The items come sorted, so each goes after the one before, without a search.
        auto last = built.end();
        for (const auto& [name, value] : items)
            last.insertAfter(name, value);
        names.replaceKey(key, built.getObjectHandle());
    };
    tree("/Dests", m_destinations);
    tree("/EmbeddedFiles", m_attachments);
    if (!names.getKeys().empty())
        root.replaceKey("/Names", m_merged.makeIndirectObject(names));
    if (!m_anyLabels)
        return;
    QPDFNumberTreeObjectHelper labels = QPDFNumberTreeObjectHelper::newEmpty(m_merged);
    for (const auto& [first, label] : m_labels) {
        QPDFObjectHandle value = label;
        if (!value.isInitialized()) {
            value = QPDFObjectHandle::newDictionary();
            value.replaceKey("/S", QPDFObjectHandle::newName("/D"));
            value.replaceKey("/St", QPDFObjectHandle::newInteger(first + 1));
        }
        labels.insert(first, value);
    }
    root.replaceKey("/PageLabels", labels.getObjectHandle());
}

} // namespace conversion
