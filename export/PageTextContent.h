// The text of one exported page as its DOM walk collected it, and the anchors found on the way.
//
// The walk in the web engine answers a list in document order: a string is the text of a leaf
// node, a list is an element's first "name" or "id" attribute: its name, then (when it leads to
// any text) its own text, from its first text to the end of the block that holds it. Offsets are
// counted here, in UTF-8 bytes, the unit the printed text is matched in, so that anchors in any
// script land where their text starts.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <vector>

class PageTextContent {
public:
    struct Anchor {
        QString name;
        quint64 charIndex = 0;
        QString ownText; // may be empty: not known
    };

    static PageTextContent fromWalk(const QVariant& walk);

    void appendText(const QString& text);
    void addAnchor(const QString& name, const QString& ownText = QString());

    const QByteArray& text() const { return m_text; }
    const std::vector<Anchor>& anchors() const { return m_anchors; }

private:
    QByteArray m_text;
    std::vector<Anchor> m_anchors;
};
