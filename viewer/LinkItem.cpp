#include "LinkItem.h"

#include <algorithm>
#include <utility>

namespace {

// A path matches the searched one when it is the same page: the searched text followed by
// nothing or by a fragment, query or parameter part. "a.htm" must never find "a.html".
bool pathMatches(const QString& itemPath, const QString& searched) {
    if (itemPath.isNull() || !itemPath.startsWith(searched))
        return false;
    if (itemPath.size() == searched.size())
        return true;
    const QChar next = itemPath.at(searched.size());
    return next == u'#' || next == u'?' || next == u';';
}

QString orNull(const QString& text) {
    return text.isNull() ? QStringLiteral("(null)") : text;
}

bool isEmptyEntry(const LinkItem& item) {
    return item.name().isNull() && item.path().isNull() && item.numberOfChildren() == 0;
}

} // namespace

LinkItem::LinkItem() = default;

LinkItem::LinkItem(const QString& name, const QString& path) : _name(name), _path(path) {}

LinkItem::~LinkItem() {
    // Releasing a long chain of children through their own destructors would recurse once per
    // level; instead, children whose last owner we are hand their children to this loop first.
    std::vector<LinkItemPtr> pending = std::move(_children);
    for (const LinkItemPtr& child : pending) {
        if (child->_parent == this)
            child->_parent = nullptr;
    }
    while (!pending.empty()) {
        LinkItemPtr item = std::move(pending.back());
        pending.pop_back();
        if (item.use_count() == 1) {
            for (LinkItemPtr& grandChild : item->_children) {
                if (grandChild->_parent == item.get())
                    grandChild->_parent = nullptr;
                pending.push_back(std::move(grandChild));
            }
            item->_children.clear();
        }
    }
}

QString LinkItem::uppercaseName() const {
    return _name.isNull() ? QString() : _name.toUpper();
}

LinkItem* LinkItem::childAtIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= _children.size())
        return nullptr;
    return _children[static_cast<size_t>(index)].get();
}

int LinkItem::indexOfChild(const LinkItem* child) const {
    for (size_t i = 0; i < _children.size(); ++i) {
        if (_children[i].get() == child)
            return static_cast<int>(i);
    }
    return -1;
}

void LinkItem::appendChild(const LinkItemPtr& child) {
    if (!child)
        return;
    _hasChildList = true;
    _children.push_back(child);
    if (child->_parent == nullptr)
        child->_parent = this;
}

void LinkItem::removeChild() {
    if (!_hasChildList)
        return;
    if (!_children.empty()) {
        if (_children.back()->_parent == this)
            _children.back()->_parent = nullptr;
        _children.pop_back();
    }
    if (_children.empty())
        _hasChildList = false;
}

LinkItem* LinkItem::findByPath(const QString& path, std::vector<LinkItem*>* stack) {
    if (path.isEmpty())
        return nullptr;
    if (pathMatches(_path, path))
        return this;

    struct Frame {
        LinkItem* item;
        size_t next;
    };
    std::vector<Frame> frames{{this, 0}};
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next >= frame.item->_children.size()) {
            frames.pop_back();
            continue;
        }
        LinkItem* child = frame.item->_children[frame.next++].get();
        if (pathMatches(child->_path, path)) {
            if (stack) {
                for (auto it = frames.rbegin(); it != frames.rend(); ++it)
                    stack->push_back(it->item);
            }
            return child;
        }
        if (!child->_children.empty())
            frames.push_back({child, 0});
    }
    return nullptr;
}

void LinkItem::enumerateItems(const std::function<void(LinkItem*)>& visit) {
    std::vector<LinkItem*> work{this};
    while (!work.empty()) {
        LinkItem* item = work.back();
        work.pop_back();
        if (item->_path != u"/")
            visit(item);
        for (auto it = item->_children.rbegin(); it != item->_children.rend(); ++it)
            work.push_back(it->get());
    }
}

void LinkItem::sort() {
    std::vector<std::pair<QString, LinkItemPtr>> keyed;
    keyed.reserve(_children.size());
    for (const LinkItemPtr& child : _children)
        keyed.emplace_back(child->uppercaseName(), child);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first.isNull() || b.first.isNull())
            return a.first.isNull() && !b.first.isNull();
        return a.first.compare(b.first) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        _children[i] = std::move(keyed[i].second);
}

void LinkItem::purge() {
    std::vector<LinkItem*> work{this};
    while (!work.empty()) {
        LinkItem* item = work.back();
        work.pop_back();
        auto& children = item->_children;
        auto removed =
            std::stable_partition(children.begin(), children.end(),
                                  [](const LinkItemPtr& c) { return !isEmptyEntry(*c); });
        for (auto it = removed; it != children.end(); ++it) {
            if ((*it)->_parent == item)
                (*it)->_parent = nullptr;
        }
        children.erase(removed, children.end());
        for (const LinkItemPtr& child : children)
            work.push_back(child.get());
    }
}

QString LinkItem::description() const {
    QString out;
    struct Frame {
        const LinkItem* item;
        size_t next;
    };
    std::vector<Frame> frames;
    // Writes the item up to its child list; answers whether the list still has to be written.
    auto open = [&out, &frames](const LinkItem* item) {
        out += QStringLiteral("{\n\tname:") + orNull(item->_name) + QStringLiteral("\n\tpath:") +
               orNull(item->_path) + QStringLiteral("\n\tchildren:");
        if (!item->_hasChildList)
            out += QStringLiteral("(null)\n}");
        else if (item->_children.empty())
            out += QStringLiteral("(\n)\n}");
        else {
            out += QStringLiteral("(\n    ");
            frames.push_back({item, 0});
        }
    };
    open(this);
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next < frame.item->_children.size()) {
            if (frame.next > 0)
                out += QStringLiteral(",\n    ");
            const LinkItem* child = frame.item->_children[frame.next++].get();
            open(child);
        } else {
            out += QStringLiteral("\n)\n}");
            frames.pop_back();
        }
    }
    return out;
}
