#include <gtest/gtest.h>

#include "ui/controls.h"

namespace qvin::ui {
namespace {

TEST(Controls, ScrollChangeRunsOnceAndOnlyOnARealChange) {
    ScrollBar s("hsc", 0, 10);
    int changes = 0, seenInside = -1;
    s.onChange = [&] {
        ++changes;
        seenInside = s.value();
    };
    s.SetValue(4);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seenInside, 4);  // ran before SetValue returned, with the new position
    s.SetValue(4);
    EXPECT_EQ(changes, 1);
    s.SetValue(99);  // limited to the range
    EXPECT_EQ(s.value(), 10);
    EXPECT_EQ(changes, 2);
}

TEST(Controls, OptionSelectedFromCodeActsAsAClick) {
    std::vector<OptionButton*> group;
    OptionButton a("a"), b("b");
    for (OptionButton* o : {&a, &b}) {
        o->JoinGroup(&group);
        group.push_back(o);
    }
    int clicks = 0;
    b.onClick = [&] { ++clicks; };
    a.Select();
    b.Select();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(a.value());
    EXPECT_TRUE(b.value());
}

TEST(Controls, TextFromCodeRunsNothingButKeysDo) {
    TextBox t("txt");
    int keys = 0;
    t.onKeyDown = [&](int, int) { ++keys; };
    t.SetText("5");
    EXPECT_EQ(keys, 0);
    t.UserKeyDown(kKeyEnter);
    EXPECT_EQ(keys, 1);
}

TEST(Controls, ADisabledFrameDisablesWhatItContains) {
    Frame outer("outer"), inner("inner");
    inner.PlaceIn(outer);
    Button b("cmd");
    b.PlaceIn(inner);
    int clicks = 0;
    b.onClick = [&] { ++clicks; };
    outer.SetEnabled(false);
    EXPECT_TRUE(b.enabled());
    EXPECT_FALSE(b.Usable());
    b.UserClick();
    EXPECT_EQ(clicks, 0);
    outer.SetEnabled(true);
    b.UserClick();
    EXPECT_EQ(clicks, 1);
}

TEST(Controls, ObserversHearOnlyRealChanges) {
    Label l("lbl");
    int notes = 0;
    l.observer = [&] { ++notes; };
    l.SetCaption("OK");
    l.SetCaption("OK");
    EXPECT_EQ(notes, 1);
}

}  // namespace
}  // namespace qvin::ui
