#include "PageTextContent.h"

#include <QVariantList>

namespace {

// A page's text beyond this is not read: targets further down fall back to their page.
constexpr qsizetype kMaxPageTextBytes = 64 << 20;

} // namespace

PageTextContent PageTextContent::fromWalk(const QVariant& walk) {
    PageTextContent content;
    const QVariantList entries = walk.toList();
    for (const QVariant& entry : entries) {
        if (entry.typeId() == QMetaType::QString) {
            content.appendText(entry.toString());
        } else {
            const QVariantList anchor = entry.toList();
            if (anchor.size() == 1)
                content.addAnchor(anchor.first().toString());
            else if (anchor.size() == 2)
                content.addAnchor(anchor.first().toString(), anchor.last().toString());
        }
    }
    return content;
}

void PageTextContent::appendText(const QString& text) {
    if (text.isEmpty())
        return;
    const QByteArray bytes = text.toUtf8();
    if (m_text.size() + bytes.size() > kMaxPageTextBytes)
        return;
    m_text.append(bytes);
}

void PageTextContent::addAnchor(const QString& name, const QString& ownText) {
    if (!name.isEmpty())
        m_anchors.push_back({name, static_cast<quint64>(m_text.size()), ownText});
}
