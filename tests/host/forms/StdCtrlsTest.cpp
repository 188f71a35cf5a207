// tests/host/forms/StdCtrlsTest.cpp - check boxes, edits, memos and combo boxes driven the way
// a person drives them.
#include "host/forms/StdCtrls.h"

#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

using namespace host;

namespace {

class TCheckBoxTest : public jex::test::THeadlessFixture {};

class TCustomEditTest : public jex::test::THeadlessFixture {};

class TCustomMemoTest : public jex::test::THeadlessFixture {};

class TComboBoxTest : public jex::test::THeadlessFixture {};

} // namespace

TEST_F(TCheckBoxTest, ClickAndSpaceToggleAndEveryChangeFiresOnClick) {
    TForm* form = Application->CreateForm<TForm>();
    auto* box = Create<TCheckBox>(form);
    box->SetParent(form);
    int clicks = 0;
    box->SetOnClick(TNotifyEvent::FromCallable([&](TObject*) { ++clicks; }));
    THeadlessWidgetSet::Click(box);
    EXPECT_TRUE(box->Checked());
    THeadlessWidgetSet::PressKey(box, VK_SPACE);
    EXPECT_FALSE(box->Checked());
    box->SetChecked(false); // no change, no click
    box->SetChecked(true);
    EXPECT_EQ(clicks, 3);
    box->SetAllowGrayed(true);
    box->Toggle();
    EXPECT_EQ(box->State(), cbGrayed);
}

TEST_F(TCustomEditTest, TypedTextRespectsReadOnlyMaxLengthAndBackspace) {
    TForm* form = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    int changes = 0;
    edit->SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++changes; }));
    edit->SetMaxLength(4);
    THeadlessWidgetSet::TypeText(edit, "hello");
    EXPECT_EQ(edit->Text(), "hell");
    THeadlessWidgetSet::TypeText(edit, "\b");
    EXPECT_EQ(edit->Text(), "hel");
    edit->SetOnKeyPress(TKeyPressEvent::FromCallable([](TObject*, char& AKey) {
        if (AKey == 'x')
            AKey = 0; // swallowed
    }));
    THeadlessWidgetSet::TypeText(edit, "x");
    EXPECT_EQ(edit->Text(), "hel");
    edit->SetReadOnly(true);
    THeadlessWidgetSet::TypeText(edit, "p");
    EXPECT_EQ(edit->Text(), "hel");
    EXPECT_EQ(changes, 5);
}

TEST_F(TCustomMemoTest, LinesAndTextAreOneValue) {
    TForm* form = Application->CreateForm<TForm>();
    auto* memo = Create<TMemo>(form);
    memo->SetParent(form);
    memo->SetText("first\r\nsecond");
    ASSERT_EQ(memo->Lines()->Count(), 2);
    EXPECT_EQ(memo->Lines()->Strings(1), "second");
    memo->Lines()->Add("third");
    EXPECT_EQ(memo->Text(), "first\r\nsecond\r\nthird");
    memo->Lines()->Clear();
    EXPECT_EQ(memo->Text(), "");
}

TEST_F(TCustomMemoTest, EnterStaysInAMemoThatWantsReturns) {
    TForm* form = Application->CreateForm<TForm>();
    auto* memo = Create<TMemo>(form);
    memo->SetParent(form);
    auto* ok = Create<TButton>(form);
    ok->SetParent(form);
    ok->SetDefault(true);
    int clicks = 0;
    ok->SetOnClick(TNotifyEvent::FromCallable([&](TObject*) { ++clicks; }));
    form->Show();
    memo->SetReadOnly(true);
    THeadlessWidgetSet::PressKey(memo, VK_RETURN);
    EXPECT_EQ(clicks, 0);
    memo->SetWantReturns(false);
    THeadlessWidgetSet::PressKey(memo, VK_RETURN);
    EXPECT_EQ(clicks, 1);
}

TEST_F(TComboBoxTest, ItemIndexSelectsTheTextAndRefusesBadIndexes) {
    TForm* form = Application->CreateForm<TForm>();
    auto* combo = Create<TComboBox>(form);
    combo->SetParent(form);
    combo->Items()->Add("red");
    combo->Items()->Add("green");
    combo->SetItemIndex(1);
    EXPECT_EQ(combo->Text(), "green");
    EXPECT_THROW(combo->SetItemIndex(2), EListError);
    combo->SetText("RED"); // items compare ignoring case
    EXPECT_EQ(combo->ItemIndex(), 0);
    combo->SetStyle(csDropDownList);
    combo->SetText("blue");
    EXPECT_EQ(combo->Text(), "RED");
    combo->Items()->Clear();
    EXPECT_EQ(combo->ItemIndex(), -1);
}

// ---- keys, three-state boxes, failing change handlers and labels ----------------------------

TEST_F(TCheckBoxTest, ThreeStateBoxCyclesThroughGrayedAndOnlySpaceToggles) {
    TForm* form = Application->CreateForm<TForm>();
    auto* box = Create<TCheckBox>(form);
    box->SetParent(form);
    box->SetAllowGrayed(true);
    THeadlessWidgetSet::PressKey(box, 'X');
    EXPECT_EQ(box->State(), cbUnchecked);
    THeadlessWidgetSet::PressKey(box, VK_SPACE);
    EXPECT_EQ(box->State(), cbChecked);
    box->Toggle();
    EXPECT_EQ(box->State(), cbGrayed);
    box->Toggle();
    EXPECT_EQ(box->State(), cbUnchecked);
}

TEST_F(TCheckBoxTest, SpaceClicksAButtonAndLettersDoNot) {
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    int clicks = 0;
    button->SetOnClick(TNotifyEvent::FromCallable([&](TObject*) { ++clicks; }));
    THeadlessWidgetSet::PressKey(button, 'X');
    EXPECT_EQ(clicks, 0);
    THeadlessWidgetSet::PressKey(button, VK_SPACE);
    EXPECT_EQ(clicks, 1);
}

TEST_F(TCustomEditTest, BackspaceOnEmptyTextAndControlCharactersChangeNothing) {
    TForm* form = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    int changes = 0;
    edit->SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++changes; }));
    THeadlessWidgetSet::TypeText(edit, "\b\x01");
    EXPECT_EQ(edit->Text(), "");
    EXPECT_EQ(changes, 0);
}

TEST_F(TCustomMemoTest, FailingChangeHandlerLeavesLinesAndTextInStep) {
    auto* memo = Create<TMemo>(Application);
    bool fail = true;
    memo->SetOnChange(TNotifyEvent::FromCallable([&](TObject*) {
        if (fail)
            throw EInvalidOperation("rejected");
    }));
    EXPECT_THROW(memo->SetText("one"), EInvalidOperation);
    EXPECT_THROW(memo->Lines()->Add("two"), EInvalidOperation);
    fail = false;
    // Both ways still work afterwards: nothing was left marked as being synchronised.
    memo->SetText("a\r\nb");
    EXPECT_EQ(memo->Lines()->Count(), 2);
    TStringList replacement;
    replacement.Add("x");
    replacement.Add("y");
    replacement.Add("z");
    memo->SetLines(&replacement);
    EXPECT_EQ(memo->Text(), "x\r\ny\r\nz");
}

TEST_F(TCustomMemoTest, TypedCharactersGoIntoTheTextAndLineBreaksOnlyThroughEnter) {
    TForm* form = Application->CreateForm<TForm>();
    auto* memo = Create<TMemo>(form);
    memo->SetParent(form);
    memo->SetWantReturns(true);
    THeadlessWidgetSet::TypeText(memo, "ab\rc");
    EXPECT_EQ(memo->Text(), "abc");
    THeadlessWidgetSet::PressKey(memo, VK_RETURN);
    EXPECT_EQ(memo->Text(), "abc\r\n");
    EXPECT_EQ(memo->Lines()->Count(), 1);
}

TEST_F(TComboBoxTest, DropDownListTakesOnlyItsItemsAndOnChangeFiresOnlyForANewIndex) {
    auto* combo = Create<TComboBox>(Application);
    TStringList items;
    items.Add("red");
    items.Add("green");
    combo->SetItems(&items);
    combo->SetStyle(csDropDownList);
    int changes = 0;
    combo->SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++changes; }));
    combo->SetText("green");
    EXPECT_EQ(combo->ItemIndex(), 1);
    combo->SetText("blue");
    EXPECT_EQ(combo->Text(), "green");
    combo->SetItemIndex(1);
    EXPECT_EQ(changes, 1);
}

TEST(TLabelTest, FocusControlIsForgottenWhenThatControlIsFreed) {
    TLabel label(nullptr);
    auto* first = new TEdit(nullptr);
    auto* second = new TEdit(nullptr);
    label.SetFocusControl(first);
    label.SetFocusControl(second);
    delete first; // no longer watched: nothing changes
    EXPECT_EQ(label.FocusControl(), second);
    delete second;
    EXPECT_EQ(label.FocusControl(), nullptr);
}
