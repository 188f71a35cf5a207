// tests/checks/JexLChecksTest.cpp - the rules' checks, hints and copies; the processor's run:
// markers, focus and beep; references that outlive their controls; rules in stored forms.
#include "checks/JexLChecks.h"

#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

using namespace host;
using namespace jex;

namespace {

// An application with one shown form holding a processor and a few controls.
class TJexLChecksTest : public jex::test::THeadlessFixture {
protected:
    void SetUp() override {
        THeadlessFixture::SetUp();
        FSavedSettings = FormatSettings();
        FormatSettings().DecimalSeparator = '.';
        FForm = Application->CreateForm<TForm>();
        FForm->SetName("frmOrder");
        FForm->Show();
        FProcessor = Create<TJexLCheckProcessor>(FForm);
        FProcessor->SetName("Checks");
    }

    void TearDown() override {
        FormatSettings() = FSavedSettings;
        THeadlessFixture::TearDown();
    }

    // A control of class C on AParent (the form by default) at the given place.
    template <typename C>
    C* NewControl(const std::string& AName, int ALeft, int ATop, TWinControl* AParent = nullptr) {
        C* control = Create<C>(FForm);
        control->SetName(AName);
        control->SetParent(AParent != nullptr ? AParent : FForm);
        control->SetBounds(ALeft, ATop, 100, 21);
        return control;
    }

    // A rule of kind K in the processor, bound to AControl.
    template <typename K>
    K* NewRule(TControl* AControl) {
        auto* rule = new K(FProcessor->CheckProviders());
        rule->SetCheckControl(AControl);
        return rule;
    }

    int Beeps() const {
        const auto& log = const_cast<TJexLChecksTest*>(this)->WS().Log();
        return static_cast<int>(std::count(log.begin(), log.end(), "MessageBeep 16"));
    }

    TForm* FForm = nullptr;
    TJexLCheckProcessor* FProcessor = nullptr;

private:
    TFormatSettings FSavedSettings;
};

TJexLCheckStatus CheckOnce(TJexLCheckProvider* ARule) {
    ARule->ExecuteCheck();
    return ARule->Status();
}

// ---- the kinds' checks ----------------------------------------------------------------------

using TJexLCheckProviderTest = TJexLChecksTest;

TEST_F(TJexLCheckProviderTest, BaseRuleAndRulesWithoutFittingControlNeverFail) {
    auto* box = NewControl<TCheckBox>("cbAgree", 8, 8);
    auto* base = NewRule<TJexLCheckProvider>(box);
    auto* edit = NewRule<TJexLCheckProviderEdit>(box);
    auto* none = NewRule<TJexLCheckProviderCombobox>(nullptr);
    EXPECT_EQ(base->Status(), csUnknown);
    EXPECT_EQ(CheckOnce(base), csValid);
    EXPECT_EQ(CheckOnce(edit), csValid);
    EXPECT_EQ(CheckOnce(none), csValid);
}

TEST_F(TJexLCheckProviderTest, EditRuleFailsEmptyEditsAndMemosWhileRequired) {
    auto* edit = NewControl<TEdit>("edtName", 8, 8);
    auto* memo = NewControl<TMemo>("memNotes", 8, 40);
    auto* onEdit = NewRule<TJexLCheckProviderEdit>(edit);
    auto* onMemo = NewRule<TJexLCheckProviderEdit>(memo);
    EXPECT_EQ(CheckOnce(onEdit), csFailed);
    EXPECT_EQ(CheckOnce(onMemo), csFailed);

    edit->SetText("Ann");
    memo->Lines()->Add("first line");
    EXPECT_EQ(CheckOnce(onEdit), csValid);
    EXPECT_EQ(CheckOnce(onMemo), csValid);

    // A line break alone is text.
    memo->SetText("\r\n");
    EXPECT_EQ(CheckOnce(onMemo), csValid);

    edit->SetText("");
    onEdit->SetRequired(false);
    EXPECT_EQ(CheckOnce(onEdit), csValid);
}

TEST_F(TJexLCheckProviderTest, NumericRuleAcceptsBothBoundsAndNothingOutside) {
    auto* edit = NewControl<TEdit>("edtQty", 8, 8);
    auto* rule = NewRule<TJexLCheckProviderNumericEdit>(edit);
    const auto check = [&](const char* AText) {
        edit->SetText(AText);
        return CheckOnce(rule);
    };
    // The default bounds admit 0 alone.
    EXPECT_EQ(check("0"), csValid);
    EXPECT_EQ(check("0.001"), csFailed);
    EXPECT_EQ(check("-1"), csFailed);

    rule->SetMinValue(1);
    rule->SetMaxValue(10);
    EXPECT_EQ(check("1"), csValid);
    EXPECT_EQ(check("10"), csValid);
    EXPECT_EQ(check(" 7.5 "), csValid);
    EXPECT_EQ(check("0.5"), csFailed);
    EXPECT_EQ(check("10.01"), csFailed);

    // The locale's decimal separator, and only that one.
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(check("2,5"), csValid);
    EXPECT_EQ(check("2.5"), csFailed);
}

TEST_F(TJexLCheckProviderTest, NumericRuleFailsTextThatIsNoNumberInsteadOfRaising) {
    auto* qty = NewControl<TEdit>("edtQty", 8, 8);
    auto* name = NewControl<TEdit>("edtName", 8, 40);
    auto* numeric = NewRule<TJexLCheckProviderNumericEdit>(qty);
    auto* later = NewRule<TJexLCheckProviderEdit>(name);
    numeric->SetMaxValue(100);
    qty->SetText("twelve");

    bool result = true;
    ASSERT_NO_THROW(result = FProcessor->Execute());
    EXPECT_FALSE(result);
    EXPECT_EQ(numeric->Status(), csFailed);
    EXPECT_EQ(later->Status(), csFailed) << "the rules after it must still run";
    ASSERT_NE(numeric->LinkedImage(), nullptr);
    EXPECT_TRUE(numeric->LinkedImage()->Visible());
    EXPECT_EQ(numeric->LinkedImage()->Hint(),
              "Editbox must contain the value in range betwen 0.00 and 100.00");
}

TEST_F(TJexLCheckProviderTest, NumericRuleOnEmptyBoxFailsAsEmptyOrPassesWhenOptional) {
    auto* edit = NewControl<TEdit>("edtQty", 8, 8);
    auto* rule = NewRule<TJexLCheckProviderNumericEdit>(edit);
    rule->SetMinValue(1);
    EXPECT_EQ(CheckOnce(rule), csFailed);
    rule->SetRequired(false);
    EXPECT_EQ(CheckOnce(rule), csValid);
    // Optional, yet what is typed must still be a number in range.
    edit->SetText("x");
    EXPECT_EQ(CheckOnce(rule), csFailed);
}

TEST_F(TJexLCheckProviderTest, CheckboxAndComboboxRules) {
    auto* box = NewControl<TCheckBox>("cbAgree", 8, 8);
    auto* combo = NewControl<TComboBox>("cbxCountry", 8, 40);
    combo->Items()->Add("Austria");
    auto* onBox = NewRule<TJexLCheckProviderCheckbox>(box);
    auto* onCombo = NewRule<TJexLCheckProviderCombobox>(combo);
    EXPECT_EQ(CheckOnce(onBox), csFailed);
    EXPECT_EQ(CheckOnce(onCombo), csFailed);

    box->SetChecked(true);
    combo->SetItemIndex(0);
    EXPECT_EQ(CheckOnce(onBox), csValid);
    EXPECT_EQ(CheckOnce(onCombo), csValid);

    box->SetChecked(false);
    combo->SetItemIndex(-1);
    onBox->SetChecked(false);
    onCombo->SetRequired(false);
    EXPECT_EQ(CheckOnce(onBox), csValid);
    EXPECT_EQ(CheckOnce(onCombo), csValid);
}

TEST_F(TJexLCheckProviderTest, OnCheckFiresAfterTheCheckWithTheRuleAsSender) {
    auto* edit = NewControl<TEdit>("edtName", 8, 8);
    auto* rule = NewRule<TJexLCheckProviderEdit>(edit);
    TObject* sender = nullptr;
    TJexLCheckStatus seen = csUnknown;
    rule->SetOnCheck(TNotifyEvent::FromCallable([&](TObject* ASender) {
        sender = ASender;
        seen = static_cast<TJexLCheckProvider*>(ASender)->Status();
    }));
    rule->ExecuteCheck();
    EXPECT_EQ(sender, rule);
    EXPECT_EQ(seen, csFailed);
}

TEST_F(TJexLCheckProviderTest, HintTextsAndWhenTheyAreStored) {
    auto* base = NewRule<TJexLCheckProvider>(nullptr);
    auto* edit = NewRule<TJexLCheckProviderEdit>(nullptr);
    auto* numeric = NewRule<TJexLCheckProviderNumericEdit>(nullptr);
    auto* box = NewRule<TJexLCheckProviderCheckbox>(nullptr);
    auto* combo = NewRule<TJexLCheckProviderCombobox>(nullptr);
    EXPECT_EQ(base->HintText(), "Check failed.");
    EXPECT_EQ(edit->HintText(), "Editbox can not be empty");
    EXPECT_EQ(numeric->HintText(), "Editbox must contain the value in range betwen %f and %f");
    EXPECT_EQ(box->HintText(), "Checkbox must be checked");
    EXPECT_EQ(combo->HintText(), "Editbox can not be empty");
    for (TJexLCheckProvider* rule :
         std::initializer_list<TJexLCheckProvider*>{base, edit, numeric, box, combo})
        EXPECT_FALSE(rule->HintMustBeStored()) << rule->ClassName();

    // Another kind's default is a change for this kind.
    edit->SetHintText("Check failed.");
    EXPECT_TRUE(edit->HintMustBeStored());

    numeric->SetMinValue(1.5);
    numeric->SetMaxValue(-2);
    EXPECT_EQ(numeric->GetHintText(),
              "Editbox must contain the value in range betwen 1.50 and -2.00");
    // A hint the developer wrote replaces the fixed text.
    numeric->SetHintText("Quantity: 1 to 99");
    EXPECT_TRUE(numeric->HintMustBeStored());
    EXPECT_EQ(numeric->GetHintText(), "Quantity: 1 to 99");
}

TEST_F(TJexLCheckProviderTest, AssignCopiesTheCommonPartAndWhatTheKindsShare) {
    auto* edit = NewControl<TEdit>("edtQty", 8, 8);
    auto* source = NewRule<TJexLCheckProviderNumericEdit>(edit);
    source->Picture()->Bitmap()->SetSize(4, 4);
    source->SetHintText("Between 2 and 3");
    source->SetFocusOnError(false);
    source->SetRequired(false);
    source->SetMinValue(2);
    source->SetMaxValue(3);
    source->SetOnCheck(TNotifyEvent::FromCallable([](TObject*) {}));
    source->ExecuteCheck();

    auto* numeric = NewRule<TJexLCheckProviderNumericEdit>(nullptr);
    numeric->Assign(source);
    EXPECT_EQ(numeric->CheckControl(), edit);
    EXPECT_EQ(numeric->HintText(), "Between 2 and 3");
    EXPECT_FALSE(numeric->FocusOnError());
    EXPECT_FALSE(numeric->Required());
    EXPECT_EQ(numeric->MinValue(), 2);
    EXPECT_EQ(numeric->MaxValue(), 3);
    EXPECT_EQ(numeric->Status(), csUnknown);
    EXPECT_FALSE(numeric->OnCheck().Assigned());
    // The picture is a copy: changing the source's leaves it.
    source->Picture()->Bitmap()->SetSize(8, 8);
    EXPECT_EQ(numeric->Picture()->Width(), 4);

    // An edit rule takes Required from a numeric one; a check-box rule only the common part.
    auto* plain = NewRule<TJexLCheckProviderEdit>(nullptr);
    plain->Assign(source);
    EXPECT_FALSE(plain->Required());
    auto* box = NewRule<TJexLCheckProviderCheckbox>(nullptr);
    box->Assign(source);
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(box->HintText(), "Between 2 and 3");

    // Indexed assignment goes into the rule already there.
    FProcessor->CheckProviders()->SetCheckProvider(1, source);
    EXPECT_EQ(FProcessor->CheckProviders()->GetCheckProvider(1), numeric);

    TBitmap notARule;
    EXPECT_THROW(numeric->Assign(&notARule), EConvertError);
}

// ---- the processor --------------------------------------------------------------------------

using TJexLCheckProcessorTest = TJexLChecksTest;

TEST_F(TJexLCheckProcessorTest, DefaultMarkerIsTheLibrarysTransparentDiamond) {
    TBitmap* marker = FProcessor->DefaultPicture()->Bitmap();
    ASSERT_EQ(marker->Width(), 16);
    ASSERT_EQ(marker->Height(), 16);
    EXPECT_TRUE(marker->Transparent());
    EXPECT_EQ(marker->TransparentColor(), 0xFF00FF);
    EXPECT_EQ(marker->Pixel(0, 0), 0xFF00FF);
    EXPECT_EQ(marker->Pixel(15, 15), 0xFF00FF);
    EXPECT_EQ(marker->Pixel(7, 1), clRed);
    EXPECT_EQ(marker->Pixel(1, 7), clRed);
    EXPECT_EQ(marker->Pixel(7, 7), 0x00FFFF); // yellow
    EXPECT_EQ(marker->Pixel(8, 8), 0x00FFFF);
    EXPECT_TRUE(FProcessor->BeepOnError());
}

TEST_F(TJexLCheckProcessorTest, WithoutRulesExecutePassesAndDoesNothingElse) {
    const int components = FProcessor->ComponentCount();
    EXPECT_TRUE(FProcessor->Execute());
    EXPECT_EQ(FProcessor->FailedCount(), 0);
    EXPECT_EQ(FProcessor->ComponentCount(), components);
    EXPECT_EQ(Beeps(), 0);
}

TEST_F(TJexLCheckProcessorTest, FailedControlGetsAMarkerBesideIt) {
    auto* panel = NewControl<TWinControl>("pnlOrder", 20, 30);
    panel->SetBounds(20, 30, 300, 200);
    auto* edit = NewControl<TEdit>("edtName", 40, 50, panel);
    edit->SetBounds(40, 50, 120, 21);
    auto* rule = NewRule<TJexLCheckProviderEdit>(edit);

    EXPECT_FALSE(FProcessor->Execute());
    EXPECT_EQ(FProcessor->FailedCount(), 1);
    TImage* marker = rule->LinkedImage();
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->Owner(), FProcessor);
    EXPECT_EQ(marker->Parent(), panel);
    EXPECT_EQ(marker->Left(), 40 + 120 + 5);
    EXPECT_EQ(marker->Top(), 50);
    EXPECT_EQ(marker->Width(), 16);
    EXPECT_EQ(marker->Height(), 16);
    EXPECT_TRUE(marker->Visible());
    EXPECT_TRUE(marker->Transparent());
    EXPECT_TRUE(marker->AutoSize());
    EXPECT_TRUE(marker->ShowHint());
    EXPECT_EQ(marker->Hint(), "Editbox can not be empty");
    EXPECT_EQ(marker->Picture()->Bitmap()->Pixel(7, 7), 0x00FFFF);
    EXPECT_EQ(FForm->ActiveControl(), edit);
    EXPECT_EQ(Beeps(), 1);
}

TEST_F(TJexLCheckProcessorTest, FocusGoesToTheFirstFailedControlThatMayAndCanTakeIt) {
    auto* disabled = NewControl<TEdit>("edtA", 8, 8);
    auto* refusing = NewControl<TEdit>("edtB", 8, 40);
    auto* second = NewControl<TEdit>("edtC", 8, 72);
    auto* third = NewControl<TEdit>("edtD", 8, 104);
    disabled->SetEnabled(false);
    NewRule<TJexLCheckProviderEdit>(disabled);
    NewRule<TJexLCheckProviderEdit>(refusing)->SetFocusOnError(false);
    NewRule<TJexLCheckProviderEdit>(second);
    NewRule<TJexLCheckProviderEdit>(third);

    EXPECT_FALSE(FProcessor->Execute());
    EXPECT_EQ(FProcessor->FailedCount(), 4);
    EXPECT_EQ(FForm->ActiveControl(), second);
    EXPECT_EQ(Beeps(), 1) << "one beep for the whole run";
}

TEST_F(TJexLCheckProcessorTest, BeepOnErrorFalseKeepsTheRunQuiet) {
    NewRule<TJexLCheckProviderEdit>(NewControl<TEdit>("edtName", 8, 8));
    FProcessor->SetBeepOnError(false);
    EXPECT_FALSE(FProcessor->Execute());
    EXPECT_EQ(Beeps(), 0);
}

TEST_F(TJexLCheckProcessorTest, RulesOwnPictureReplacesTheDefaultForThatRuleOnly) {
    auto* own = NewRule<TJexLCheckProviderEdit>(NewControl<TEdit>("edtA", 8, 8));
    auto* other = NewRule<TJexLCheckProviderEdit>(NewControl<TEdit>("edtB", 8, 40));
    TBitmap* picture = own->Picture()->Bitmap();
    picture->SetSize(10, 12);
    picture->SetPixel(0, 0, clBlue);

    FProcessor->Execute();
    ASSERT_NE(own->LinkedImage(), nullptr);
    ASSERT_NE(other->LinkedImage(), nullptr);
    EXPECT_EQ(own->LinkedImage()->Width(), 10);
    EXPECT_EQ(own->LinkedImage()->Height(), 12);
    EXPECT_EQ(own->LinkedImage()->Picture()->Bitmap()->Pixel(0, 0), clBlue);
    EXPECT_EQ(other->LinkedImage()->Width(), 16);
}

TEST_F(TJexLCheckProcessorTest, MarkerOfARuleThatPassesEmptiesThenHides) {
    auto* name = NewControl<TEdit>("edtName", 8, 8);
    auto* city = NewControl<TEdit>("edtCity", 8, 40);
    auto* rule = NewRule<TJexLCheckProviderEdit>(name);
    city->SetText("Graz");
    NewRule<TJexLCheckProviderEdit>(city);

    EXPECT_FALSE(FProcessor->Execute());
    TImage* marker = rule->LinkedImage();
    ASSERT_NE(marker, nullptr);

    name->SetText("Ann");
    EXPECT_TRUE(FProcessor->Execute());
    EXPECT_EQ(rule->LinkedImage(), marker);
    EXPECT_EQ(marker->Picture()->Graphic(), nullptr);
    EXPECT_TRUE(marker->Visible()) << "not highlighted: the empty marker stays as it was";

    city->SetText("");
    EXPECT_FALSE(FProcessor->Execute());
    EXPECT_EQ(rule->LinkedImage(), marker);
    EXPECT_FALSE(marker->Visible());
}

TEST_F(TJexLCheckProcessorTest, DestroyedControlLeavesNoReferenceBehind) {
    auto* edit = NewControl<TEdit>("edtName", 8, 8);
    auto* rule = NewRule<TJexLCheckProviderEdit>(edit);
    EXPECT_FALSE(FProcessor->Execute());
    ASSERT_NE(rule->LinkedImage(), nullptr);

    delete edit;
    EXPECT_EQ(rule->CheckControl(), nullptr);
    ASSERT_NE(rule->LinkedImage(), nullptr);
    EXPECT_TRUE(FProcessor->Execute());
    EXPECT_EQ(rule->Status(), csValid);
}

TEST_F(TJexLCheckProcessorTest, MarkerDestroyedWithItsParentIsForgottenAndMadeAnew) {
    auto* panel = NewControl<TWinControl>("pnlOrder", 0, 0);
    auto* edit = NewControl<TEdit>("edtName", 8, 8, panel);
    auto* other = NewControl<TEdit>("edtCity", 8, 8);
    auto* onPanel = NewRule<TJexLCheckProviderEdit>(edit);
    auto* onForm = NewRule<TJexLCheckProviderEdit>(other);
    EXPECT_FALSE(FProcessor->Execute());
    ASSERT_NE(onPanel->LinkedImage(), nullptr);

    // The panel takes its children, the edit and the marker, with it.
    delete panel;
    EXPECT_EQ(onPanel->LinkedImage(), nullptr);
    EXPECT_EQ(onPanel->CheckControl(), nullptr);

    onPanel->SetCheckControl(other);
    EXPECT_FALSE(FProcessor->Execute());
    ASSERT_NE(onPanel->LinkedImage(), nullptr);
    EXPECT_EQ(onPanel->LinkedImage()->Parent(), FForm);
    EXPECT_NE(onForm->LinkedImage(), nullptr);
}

TEST_F(TJexLCheckProcessorTest, ControlOfAnotherOwnerIsForgottenToo) {
    TForm* dialog = Application->CreateForm<TForm>();
    dialog->Show();
    auto* edit = Create<TEdit>(dialog);
    edit->SetParent(dialog);
    auto* rule = NewRule<TJexLCheckProviderEdit>(edit);
    EXPECT_FALSE(FProcessor->Execute());
    ASSERT_NE(rule->LinkedImage(), nullptr);
    EXPECT_EQ(rule->LinkedImage()->Parent(), dialog);

    delete dialog;
    EXPECT_EQ(rule->CheckControl(), nullptr);
    EXPECT_EQ(rule->LinkedImage(), nullptr);
    EXPECT_TRUE(FProcessor->Execute());
}

TEST_F(TJexLCheckProcessorTest, AnOnCheckThatRaisesEndsTheRunAtTheApplicationAndTheNextRunIsWhole) {
    auto* name = NewControl<TEdit>("edtName", 8, 8);
    auto* city = NewControl<TEdit>("edtCity", 8, 40);
    auto* first = NewRule<TJexLCheckProviderEdit>(name);
    auto* raising = NewRule<TJexLCheckProvider>(nullptr);
    auto* last = NewRule<TJexLCheckProviderEdit>(city);
    int checks = 0;
    raising->SetOnCheck(TNotifyEvent::FromCallable([&](TObject*) {
        if (++checks == 1)
            throw EInvalidOperation("Rules unavailable");
    }));
    // The form's save button runs the checks, as an application does.
    auto* save = NewControl<TButton>("btnSave", 8, 72);
    std::vector<bool> results;
    save->SetOnClick(
        TNotifyEvent::FromCallable([&](TObject*) { results.push_back(FProcessor->Execute()); }));

    // The failure leaves the run at once: the rule after it is not checked and nothing is
    // marked, focused or beeped at; the application shows the handler's error.
    WS().Click(save);
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(first->Status(), csFailed);
    EXPECT_EQ(last->Status(), csUnknown);
    EXPECT_EQ(first->LinkedImage(), nullptr);
    EXPECT_EQ(Beeps(), 0);
    const auto& log = WS().Log();
    EXPECT_EQ(
        std::count(log.begin(), log.end(),
                   "MessageDlg mtError [mbOK] " + Application->Title() + ": Rules unavailable."),
        1);

    // The next run checks every rule and marks both failures, beeping once.
    WS().Click(save);
    EXPECT_EQ(results, std::vector<bool>{false});
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(last->Status(), csFailed);
    ASSERT_NE(first->LinkedImage(), nullptr);
    ASSERT_NE(last->LinkedImage(), nullptr);
    EXPECT_TRUE(first->LinkedImage()->Visible());
    EXPECT_TRUE(last->LinkedImage()->Visible());
    EXPECT_EQ(FForm->ActiveControl(), name);
    EXPECT_EQ(Beeps(), 1);
}

TEST_F(TJexLCheckProcessorTest, DestroyingTheProcessorTakesItsMarkersOffTheForm) {
    auto* edit = NewControl<TEdit>("edtName", 8, 8);
    NewRule<TJexLCheckProviderEdit>(edit);
    FProcessor->Execute();
    const int controls = FForm->ControlCount();
    delete FProcessor;
    EXPECT_EQ(FForm->ControlCount(), controls - 1);
}

TEST_F(TJexLCheckProcessorTest, SettingTheRulesCopiesThemKindByKind) {
    TJexLCheckProcessor* other = Create<TJexLCheckProcessor>(FForm);
    auto* edit = NewControl<TEdit>("edtName", 8, 8);
    auto* rule = new TJexLCheckProvider(other->CheckProviders());
    rule->SetCheckControl(edit);
    rule->SetHintText("Name?");
    FProcessor->SetCheckProviders(other->CheckProviders());
    ASSERT_EQ(FProcessor->CheckProviders()->Count(), 1);
    EXPECT_NE(FProcessor->CheckProviders()->GetCheckProvider(0), rule);
    EXPECT_EQ(FProcessor->CheckProviders()->GetCheckProvider(0)->HintText(), "Name?");
    EXPECT_EQ(FProcessor->CheckProviders()->GetOwner(), FProcessor);

    auto* numeric = new TJexLCheckProviderNumericEdit(other->CheckProviders());
    numeric->SetMaxValue(5);
    numeric->SetRequired(false);
    new TJexLCheckProviderCombobox(other->CheckProviders());
    FProcessor->SetCheckProviders(other->CheckProviders());
    ASSERT_EQ(FProcessor->CheckProviders()->Count(), 3);
    auto* copy =
        dynamic_cast<TJexLCheckProviderNumericEdit*>(FProcessor->CheckProviders()->Items(1));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->MaxValue(), 5);
    EXPECT_FALSE(copy->Required());
    EXPECT_NE(dynamic_cast<TJexLCheckProviderCombobox*>(FProcessor->CheckProviders()->Items(2)),
              nullptr);
}

// ---- stored forms ---------------------------------------------------------------------------

using TJexLCheckStoredFormTest = TJexLChecksTest;

TEST_F(TJexLCheckStoredFormTest, HintTextIsWrittenOnlyWhenChanged) {
    auto* plain = NewRule<TJexLCheckProviderEdit>(nullptr);
    const std::string before = WriteComponentToText(FForm);
    EXPECT_EQ(before.find("HintText"), std::string::npos) << before;
    plain->SetHintText("Who orders?");
    const std::string after = WriteComponentToText(FForm);
    EXPECT_NE(after.find("HintText = 'Who orders?'"), std::string::npos) << after;
}

} // namespace

namespace {

TEST_F(TJexLCheckStoredFormTest, RulesOfEveryKindLoadBackAsTheirKindWithTheirValues) {
    auto* name = NewControl<TEdit>("edtName", 8, 8);
    auto* qty = NewControl<TEdit>("edtQty", 8, 40);
    auto* terms = NewControl<TCheckBox>("cbTerms", 8, 72);
    auto* country = NewControl<TComboBox>("cbxCountry", 8, 104);
    NewRule<TJexLCheckProvider>(name)->SetHintText("Anything");
    NewRule<TJexLCheckProviderEdit>(name)->SetRequired(false);
    auto* numeric = NewRule<TJexLCheckProviderNumericEdit>(qty);
    numeric->SetMinValue(1.5);
    numeric->SetMaxValue(99);
    numeric->SetFocusOnError(false);
    NewRule<TJexLCheckProviderCheckbox>(terms)->SetChecked(false);
    NewRule<TJexLCheckProviderCombobox>(country)->SetRequired(false);
    FProcessor->SetBeepOnError(false);

    const std::string text = WriteComponentToText(FForm);
    std::unique_ptr<TComponent> copy(ReadComponentFromText(text));
    auto* processor = dynamic_cast<TJexLCheckProcessor*>(copy->FindComponent("Checks"));
    ASSERT_NE(processor, nullptr) << text;
    EXPECT_FALSE(processor->BeepOnError());
    TJexLCheckProviders* rules = processor->CheckProviders();
    ASSERT_EQ(rules->Count(), 5) << text;

    const auto kind = [&](int AIndex) { return std::string(rules->Items(AIndex)->ClassName()); };
    EXPECT_EQ(kind(0), "TJexLCheckProvider");
    EXPECT_EQ(rules->GetCheckProvider(0)->HintText(), "Anything");
    EXPECT_EQ(rules->GetCheckProvider(0)->CheckControl(), copy->FindComponent("edtName"));
    auto* edit = dynamic_cast<TJexLCheckProviderEdit*>(rules->Items(1));
    ASSERT_NE(edit, nullptr) << kind(1);
    EXPECT_FALSE(edit->Required());
    auto* number = dynamic_cast<TJexLCheckProviderNumericEdit*>(rules->Items(2));
    ASSERT_NE(number, nullptr) << kind(2);
    EXPECT_EQ(number->MinValue(), 1.5);
    EXPECT_EQ(number->MaxValue(), 99);
    EXPECT_FALSE(number->FocusOnError());
    EXPECT_TRUE(number->Required());
    EXPECT_EQ(number->CheckControl(), copy->FindComponent("edtQty"));
    auto* box = dynamic_cast<TJexLCheckProviderCheckbox*>(rules->Items(3));
    ASSERT_NE(box, nullptr) << kind(3);
    EXPECT_FALSE(box->Checked());
    auto* combo = dynamic_cast<TJexLCheckProviderCombobox*>(rules->Items(4));
    ASSERT_NE(combo, nullptr) << kind(4);
    EXPECT_FALSE(combo->Required());

    // Written again, the copy's rules give the same text.
    const auto rulesPart = [](const std::string& AText) {
        const auto from = AText.find("object Checks");
        return AText.substr(from, AText.find("object edtName") - from);
    };
    EXPECT_EQ(rulesPart(WriteComponentToText(copy.get())), rulesPart(text));
}

TEST_F(TJexLCheckStoredFormTest, FormWithoutKindsLoadsEveryRuleAsTheBaseKind) {
    const std::string text = "object frmOld: TForm\r\n"
                             "  object Checks: TJexLCheckProcessor\r\n"
                             "    CheckProviders = <\r\n"
                             "      item\r\n"
                             "        HintText = 'Old rule'\r\n"
                             "        FocusOnError = False\r\n"
                             "      end>\r\n"
                             "  end\r\n"
                             "end\r\n";
    std::unique_ptr<TComponent> form(ReadComponentFromText(text));
    auto* processor = dynamic_cast<TJexLCheckProcessor*>(form->FindComponent("Checks"));
    ASSERT_NE(processor, nullptr);
    ASSERT_EQ(processor->CheckProviders()->Count(), 1);
    TJexLCheckProvider* rule = processor->CheckProviders()->GetCheckProvider(0);
    EXPECT_EQ(&rule->ClassInfo(), &TJexLCheckProvider::StaticClassInfo());
    EXPECT_EQ(rule->HintText(), "Old rule");
    EXPECT_FALSE(rule->FocusOnError());
}

TEST_F(TJexLCheckStoredFormTest, UnknownKindIsAClearErrorThatLeavesNothingBehind) {
    const std::string text = "object frmBad: TForm\r\n"
                             "  object Checks: TJexLCheckProcessor\r\n"
                             "    CheckProviders = <\r\n"
                             "      item\r\n"
                             "        ItemClass = TNoSuchRule\r\n"
                             "      end>\r\n"
                             "  end\r\n"
                             "end\r\n";
    try {
        std::unique_ptr<TComponent> form(ReadComponentFromText(text));
        FAIL() << "an unknown kind must not load";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Error reading Checks.CheckProviders: Class TNoSuchRule not found");
    }
}

} // namespace
