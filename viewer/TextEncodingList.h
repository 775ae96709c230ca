// The encodings the Text Encoding menus offer, read from the resource "textencoding.plist".
//
// The file is a property list (XML or binary) whose root is an array of groups, each an array
// of dictionaries with the strings "title" (what the menu shows) and "name" (the encoding, as
// TextEncodingTable knows it). The groups are shown apart in the menus.
//
// Tags number the kept entries over all groups in file order: 0, 1, 2, ... Tag 0 is always the
// automatic entry (the file's own encoding): the first entry of the first group, whose "name"
// is never used; when that entry is unusable, an "Automatic" entry stands in for it, so that
// tag 0 never names an encoding. Every other entry needs a non-empty "title" and a "name" that
// both the web engine and iconv understand; an entry that lacks them is skipped with a log line
// and takes no tag (the entries after it count on from the last kept one). A group left without
// entries vanishes. An empty root gives an empty list.
//
// Parsing never throws and never crashes on any input; data that is not such a list fails with
// a reason. Value type; any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

struct TextEncodingEntry {
    QString title;
    QString name; // empty for the automatic entry
};

class TextEncodingList {
public:
    // More than any list of encodings needs; larger data is refused unread.
    static constexpr qsizetype kMaxDataSize = 1 << 20;

    // Null when the data is no property list or its root no array; `error` then says why, in
    // words that follow the file's name ("is not a property list").
    static std::optional<TextEncodingList> fromData(const QByteArray& data, QString* error);
    // The same for a file; a missing or unreadable file fails too.
    static std::optional<TextEncodingList> fromFile(const QString& path, QString* error);

    const std::vector<std::vector<TextEncodingEntry>>& groups() const { return m_groups; }
    // The number of entries, which is one more than the highest tag.
    int count() const { return static_cast<int>(m_entries.size()); }
    // The entry of a tag; nullptr outside the list.
    const TextEncodingEntry* entryForTag(int tag) const;
    // The encoding name of a tag: null for tag 0 (automatic) and for tags outside the list.
    QString nameForTag(int tag) const;
    // The tag of the entry with that encoding name, compared ignoring case; 0 for an empty
    // name (automatic), -1 when no entry has it.
    int tagForName(const QString& name) const;

private:
    std::vector<std::vector<TextEncodingEntry>> m_groups;
    std::vector<TextEncodingEntry> m_entries; // the groups' entries in tag order
};
