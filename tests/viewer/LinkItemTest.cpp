// LinkItem's own rules: the child list's life cycle, bounds, the parent back pointer, the walk.
#include "LinkItem.h"

#include <gtest/gtest.h>

static LinkItemPtr item(const QString& name, const QString& path = QString()) {
    return std::make_shared<LinkItem>(name, path);
}

TEST(LinkItem, ChildListLivesWhileItHasChildrenAndIndexesOutsideItGiveNull) {
    auto parent = item("p");
    auto child = item("a");
    parent->appendChild(child);
    EXPECT_TRUE(parent->childAtIndex(-1) == nullptr && parent->childAtIndex(1) == nullptr);
    EXPECT_EQ(child->parent(), parent.get());
    parent->removeChild();
    EXPECT_TRUE(child->parent() == nullptr && !parent->hasChildList());
    parent->removeChild(); // without a list: a no-op, not a crash
}

TEST(LinkItem, WalkIsPreOrderAndPassesOverTheSlashPathOfTheRoot) {
    auto root = item("root", "/");
    auto a = item("a", "a.htm");
    a->appendChild(item("a1"));
    root->appendChild(a);
    root->appendChild(item("b", "b.htm"));
    QString seen;
    root->enumerateItems([&seen](LinkItem* i) { seen += i->name() + " "; });
    EXPECT_EQ(seen, "a a1 b ");
}
