// LinkItem on its own: child list life cycle, parents, description.
#include "LinkItem.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

LinkItemPtr item(const char* name, const char* path) {
    return std::make_shared<LinkItem>(name ? QString::fromUtf8(name) : QString(),
                                      path ? QString::fromUtf8(path) : QString());
}

} // namespace

TEST(LinkItemChildren, RemovingLastChildDropsTheListAndAppendingMakesItAgain) {
    auto parent = item("p", nullptr);
    EXPECT_TRUE(parent->hasChildList());
    parent->appendChild(item("a", nullptr));
    parent->appendChild(item("b", nullptr));
    parent->removeChild();
    EXPECT_EQ(parent->numberOfChildren(), 1u);
    EXPECT_EQ(parent->childAtIndex(0)->name(), u"a");
    parent->removeChild();
    EXPECT_FALSE(parent->hasChildList());
    parent->removeChild();
    EXPECT_EQ(parent->numberOfChildren(), 0u);
    parent->appendChild(item("c", nullptr));
    EXPECT_TRUE(parent->hasChildList());
    EXPECT_EQ(parent->numberOfChildren(), 1u);
}

TEST(LinkItemChildren, ChildAtIndexOutOfRangeIsNull) {
    auto parent = item("p", nullptr);
    parent->appendChild(item("a", nullptr));
    EXPECT_EQ(parent->childAtIndex(-1), nullptr);
    EXPECT_EQ(parent->childAtIndex(1), nullptr);
    EXPECT_NE(parent->childAtIndex(0), nullptr);
    EXPECT_EQ(parent->indexOfChild(parent->childAtIndex(0)), 0);
    EXPECT_EQ(parent->indexOfChild(parent.get()), -1);
}

TEST(LinkItemChildren, ParentIsTheFirstOwnerAndIsClearedOnRemoval) {
    auto first = item("first", nullptr);
    auto second = item("second", nullptr);
    auto child = item("c", nullptr);
    first->appendChild(child);
    second->appendChild(child);
    EXPECT_EQ(child->parent(), first.get());
    first->removeChild();
    EXPECT_EQ(child->parent(), nullptr);
}

TEST(LinkItemNames, UppercaseNameIsNullWithoutName) {
    EXPECT_TRUE(item(nullptr, "a.htm")->uppercaseName().isNull());
    EXPECT_EQ(item("straße", nullptr)->uppercaseName(), QString::fromUtf8("STRASSE"));
}

TEST(LinkItemDescription, ListsNamePathAndChildren) {
    auto parent = item("P", "p.htm");
    parent->appendChild(item("C", nullptr));
    auto empty = item(nullptr, nullptr);
    empty->appendChild(item("x", nullptr));
    empty->removeChild();
    EXPECT_EQ(empty->description(),
              QString::fromUtf8("{\n\tname:(null)\n\tpath:(null)\n\tchildren:(null)\n}"));
    EXPECT_EQ(parent->description(),
              QString::fromUtf8("{\n\tname:P\n\tpath:p.htm\n\tchildren:(\n    "
                                "{\n\tname:C\n\tpath:(null)\n\tchildren:(\n)\n}\n)\n}"));
}

TEST(LinkItemEnumerate, VisitsPreOrderAndSkipsSlashPath) {
    auto root = item("root", "/");
    auto a = item("a", "a.htm");
    a->appendChild(item("a1", nullptr));
    root->appendChild(a);
    root->appendChild(item("b", "b.htm"));
    QStringList seen;
    root->enumerateItems([&seen](LinkItem* i) { seen << i->name(); });
    EXPECT_EQ(seen, (QStringList{"a", "a1", "b"}));
}
