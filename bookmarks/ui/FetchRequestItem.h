// One node of the bookmark manager's source list: its title, the request for the bookmarks it
// shows (none for "All", "Tags" and "Files", which show every bookmark), and its children, which
// it owns. GUI thread only.
#pragma once

#include "BookmarkFetchRequest.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

class FetchRequestItem {
public:
    FetchRequestItem() = default;
    FetchRequestItem(QString title, std::optional<BookmarkFetchRequest> request)
        : m_title(std::move(title)), m_request(std::move(request)) {}

    const QString& title() const { return m_title; }
    const std::optional<BookmarkFetchRequest>& request() const { return m_request; }

    FetchRequestItem* addChild(std::unique_ptr<FetchRequestItem> child);
    // nullptr outside 0 .. numberOfChildren() - 1.
    FetchRequestItem* childAtIndex(int index) const;
    int numberOfChildren() const { return static_cast<int>(m_children.size()); }

private:
    QString m_title;
    std::optional<BookmarkFetchRequest> m_request;
    std::vector<std::unique_ptr<FetchRequestItem>> m_children;
};
