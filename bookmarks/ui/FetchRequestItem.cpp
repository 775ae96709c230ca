#include "FetchRequestItem.h"

FetchRequestItem* FetchRequestItem::addChild(std::unique_ptr<FetchRequestItem> child) {
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

FetchRequestItem* FetchRequestItem::childAtIndex(int index) const {
    if (index < 0 || index >= numberOfChildren())
        return nullptr;
    return m_children[static_cast<size_t>(index)].get();
}
