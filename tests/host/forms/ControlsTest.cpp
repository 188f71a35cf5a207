// tests/host/forms/ControlsTest.cpp - the parent chain of controls: moving and nesting them,
// colours handed down, visibility and focus through the parents, and window handles.
#include "host/forms/Controls.h"

#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

using namespace host;

namespace {

class TControlTest : public jex::test::THeadlessFixture {
protected:
    // A control of class C owned by the main form and placed on AParent.
    template <typename C>
    C* Placed(TWinControl* AParent) {
        auto* control = Create<C>(Form());
        control->SetParent(AParent);
        return control;
    }

    TForm* Form() {
        if (FForm == nullptr)
            FForm = Application->CreateForm<TForm>();
        return FForm;
    }

private:
    TForm* FForm = nullptr;
};

} // namespace

TEST_F(TControlTest, ControlCannotBeItsOwnAncestorAndMovingItLeavesTheOldParent) {
    auto* outer = Placed<TPanel>(Form());
    auto* inner = Placed<TPanel>(outer);
    auto* edit = Placed<TEdit>(inner);
    EXPECT_THROW(outer->SetParent(inner), EInvalidOperation);
    EXPECT_THROW(outer->SetParent(outer), EInvalidOperation);
    EXPECT_EQ(outer->Parent(), Form());

    edit->SetParent(outer);
    EXPECT_EQ(inner->ControlCount(), 0);
    ASSERT_EQ(outer->ControlCount(), 2);
    EXPECT_EQ(outer->Controls(1), edit);
    EXPECT_THROW(outer->Controls(2), EListError);
    EXPECT_THROW(outer->Controls(-1), EListError);
}

TEST_F(TControlTest, ParentColourReachesNestedControlsThatFollowTheirParent) {
    auto* panel = Placed<TPanel>(Form());
    panel->SetParentColor(true);
    auto* label = Placed<TLabel>(panel);
    label->SetParentColor(true);
    auto* edit = Placed<TEdit>(panel);
    edit->SetParentColor(true);
    auto* own = Placed<TEdit>(panel);
    own->SetColor(clWhite);

    Form()->SetColor(clRed);
    EXPECT_EQ(panel->Color(), clRed);
    EXPECT_EQ(label->Color(), clRed);
    EXPECT_EQ(edit->Color(), clRed);
    EXPECT_EQ(own->Color(), clWhite);

    // A colour of its own ends the following.
    panel->SetColor(clBlue);
    EXPECT_FALSE(panel->ParentColor());
    EXPECT_EQ(edit->Color(), clBlue);
    Form()->SetColor(clGreen);
    EXPECT_EQ(edit->Color(), clBlue);
}

TEST_F(TControlTest, HiddenParentHidesAndUnfocusesEverythingOnIt) {
    auto* panel = Placed<TPanel>(Form());
    auto* edit = Placed<TEdit>(panel);
    Form()->Show();
    EXPECT_TRUE(edit->Showing());
    EXPECT_TRUE(edit->CanFocus());
    panel->SetVisible(false);
    EXPECT_TRUE(edit->Visible());
    EXPECT_FALSE(edit->Showing());
    EXPECT_FALSE(edit->CanFocus());
}

TEST_F(TControlTest, ControlWithoutAFormCannotTakeTheFocus) {
    TPanel loose(nullptr);
    auto* edit = new TEdit(&loose);
    edit->SetParent(&loose);
    EXPECT_FALSE(edit->CanFocus());
    EXPECT_THROW(edit->SetFocus(), EInvalidOperation);
}

TEST_F(TControlTest, DestroyingAParentsHandleDestroysItsChildrensHandles) {
    auto* panel = Placed<TPanel>(Form());
    auto* edit = Placed<TEdit>(panel);
    const THandle handle = edit->Handle();
    (void)panel->Handle();
    EXPECT_EQ(FindControl(handle), edit);
    panel->DestroyHandle();
    EXPECT_FALSE(edit->HandleAllocated());
    EXPECT_EQ(FindControl(handle), nullptr);
    EXPECT_EQ(WS().HandleState(edit), nullptr);
}

TEST_F(TControlTest, ImageAndPanelLookChangesReachTheWidgetset) {
    auto* panel = Placed<TPanel>(Form());
    (void)panel->Handle();
    const int before = WS().HandleState(panel)->Invalidations;
    panel->SetBevelOuter(bvRaised); // already: nothing to redraw
    EXPECT_EQ(WS().HandleState(panel)->Invalidations, before);
    panel->SetBevelOuter(bvLowered);
    EXPECT_EQ(panel->BevelOuter(), bvLowered);
    EXPECT_GT(WS().HandleState(panel)->Invalidations, before);

    auto* image = Placed<TImage>(panel);
    image->SetStretch(true);
    EXPECT_TRUE(image->Stretch());
}

TEST(TControlWithoutApplicationTest, FailingHandlerPassesOutOfTheWindowProcedure) {
    ASSERT_EQ(Application, nullptr);
    TButton button(nullptr);
    button.SetOnClick(
        TNotifyEvent::FromCallable([](TObject*) { throw EInvalidOperation("clicked"); }));
    TMessage click{BM_CLICK, 0, 0, 0};
    EXPECT_THROW(button.MainWndProc(click), EInvalidOperation);
}
