// The module's component registry and its lookup index: IndexOf must answer exactly what a walk
// over the list comparing with SameText answers (the first entry, letter case ignored), whatever
// Add, Delete, SetString and Clear did before; and a callback must find the component through
// the module after its tree changed.
#include "ribbon_support.h"

#include "module/ribbon_types.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace qvr;
using ribbontest::RibbonFixture;

namespace {

// What IndexOf answered before it had an index: the first key equal without regard to case.
int WalkIndexOf(const TqvrRibbonControlList& list, const std::wstring& key) {
    for (int i = 0; i < list.Count(); ++i)
        if (SameText(list.Strings(i), key)) return i;
    return -1;
}

// Keys that collide without regard to case (ASCII and beyond), the empty id, and near misses.
const std::vector<std::wstring> kKeys = {L"Order",   L"ORDER",  L"order", L"Orders", L"Ord",  L"",
                                         L"\u00C4rger", L"\u00E4RGER", L"Tab1", L"tab1",  L"Group1", L"x"};

::testing::AssertionResult AgreesWithTheWalk(const TqvrRibbonControlList& list, const char* after) {
    for (const std::wstring& key : kKeys) {
        const int expected = WalkIndexOf(list, key), got = list.IndexOf(key);
        if (expected != got)
            return ::testing::AssertionFailure() << "after " << after << ": IndexOf(key #" << (&key - kKeys.data())
                                                 << ") is " << got << ", the walk says " << expected;
    }
    return ::testing::AssertionSuccess();
}

TEST(Registry, IndexOfAnswersAsTheWalkAfterEveryChange) {
    // Objects are only compared by address here.
    std::vector<TObject*> objects(64);
    for (size_t i = 0; i < objects.size(); ++i) objects[i] = reinterpret_cast<TObject*>(0x1000 + 16 * i);
    std::mt19937 random(20);
    auto pick = [&](size_t n) { return static_cast<int>(random() % n); };
    TqvrRibbonControlList list;
    const char* names[] = {"Add", "Delete of the last", "Delete", "SetString", "Clear"};
    for (int step = 0; step < 4000; ++step) {
        // Mostly growth and re-keying, with deletes from anywhere and now and then a Clear; a
        // lookup after every step (a stale index must be rebuilt), or only every 50 (many changes
        // in a row on a live index).
        int op = pick(100);
        op = op < 40 ? 0 : op < 55 ? 1 : op < 70 ? 2 : op < 99 ? 3 : 4;
        if (op != 0 && op != 4 && list.Count() == 0) op = 0;
        switch (op) {
        case 0: list.Add(kKeys[static_cast<size_t>(pick(kKeys.size()))], objects[static_cast<size_t>(pick(64))]); break;
        case 1: list.Delete(list.Count() - 1); break;
        case 2: list.Delete(pick(static_cast<size_t>(list.Count()))); break;
        case 3: list.SetString(pick(static_cast<size_t>(list.Count())), kKeys[static_cast<size_t>(pick(kKeys.size()))]); break;
        case 4: list.Clear(); break;
        }
        if (step % 50 == 0 || step > 2000) {
            ASSERT_TRUE(AgreesWithTheWalk(list, names[op])) << "step " << step;
        }
    }
}

TEST(Registry, DeletesAndRekeysKeepEveryOtherEntryFoundAmongThousands) {
    TqvrRibbonControlList list;
    const int n = 5000;
    auto object = [](int i) { return reinterpret_cast<TObject*>(static_cast<uintptr_t>(0x10000 + 16 * i)); };
    auto key = [](int i) { return L"Button" + std::to_wstring(i); };
    for (int i = 0; i < n; ++i) list.Add(key(i), object(i));
    ASSERT_EQ(n - 1, list.IndexOf(L"BUTTON4999"));
    ASSERT_EQ(0, list.IndexOf(L"button0"));
    list.Delete(10);              // everything after moves down
    list.SetString(20, L"Moved");  // was Button21
    list.Delete(list.Count() - 1);
    list.Add(L"button0", object(n));  // a duplicate: the first one stays the answer
    struct Case {
        std::wstring key;
        int expected;
    };
    for (const Case& c : {Case{L"Button0", 0}, Case{L"Button9", 9}, Case{L"Button10", -1}, Case{L"Button11", 10},
                          Case{L"button21", -1}, Case{L"MOVED", 20}, Case{L"Button22", 21}, Case{L"Button4998", n - 3},
                          Case{L"Button4999", -1}})
        EXPECT_EQ(c.expected, list.IndexOf(c.key)) << std::string(c.key.begin(), c.key.end());
    EXPECT_EQ(object(0), list.Objects(list.IndexOf(L"button0")));
    list.Clear();
    EXPECT_EQ(-1, list.IndexOf(L"Button0"));
    list.Add(L"Button0", object(1));
    EXPECT_EQ(0, list.IndexOf(L"BUTTON0"));
}

TEST(Registry, DeleteOutsideTheListRaisesAndChangesNothing) {
    TqvrRibbonControlList list;
    list.Add(L"A", nullptr);
    EXPECT_ANY_THROW(list.Delete(1));
    EXPECT_ANY_THROW(list.Delete(-1));
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ(0, list.IndexOf(L"a"));
}

// Through the module: components that are destroyed, re-keyed and created between lookups.
using ModuleRegistry = RibbonFixture;

TEST_F(ModuleRegistry, TheModuleFindsComponentsAfterTheirTreeChanged) {
    auto* group = AddGroup();
    group->SetId(L"Group1");
    std::vector<TqvrRibbonButton*> buttons;
    for (int i = 0; i < 300; ++i) {
        buttons.push_back(Add<TqvrRibbonButton>(group->Controls(), rctButton));
        buttons.back()->SetId(L"B" + std::to_wstring(i));
    }
    ASSERT_EQ(buttons[299], module->FindRibbonControl(L"b299"));
    delete buttons[5];  // leaves the registry from the middle
    EXPECT_EQ(nullptr, module->FindRibbonControl(L"B5"));
    EXPECT_EQ(buttons[6], module->FindRibbonControl(L"B6"));
    EXPECT_EQ(buttons[299], module->FindRibbonControl(L"B299"));
    buttons[7]->SetId(L"Renamed");
    EXPECT_EQ(buttons[7], module->FindRibbonControl(L"RENAMED"));
    EXPECT_EQ(nullptr, module->FindRibbonControl(L"B7"));
    // Kept under its IdMso, the control is found by that and, through the module's own
    // fallback, by its current Id.
    buttons[8]->SetIdMso(L"FileSave");
    EXPECT_EQ(buttons[8], module->FindRibbonControl(L"filesave"));
    EXPECT_EQ(buttons[8], module->FindRibbonControl(L"B8"));
    buttons[8]->SetIdMso(L"");
    EXPECT_EQ(nullptr, module->FindRibbonControl(L"FileSave"));
    EXPECT_EQ(buttons[8], module->FindRibbonControl(L"b8"));
    auto* late = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    late->SetId(L"Late");
    EXPECT_EQ(late, module->FindRibbonControl(L"late"));
}

}  // namespace
