// examples/ChecksDemo.cpp - the validation part of the demo: an order form checked by a
// TJexLCheckProcessor on the headless widgetset.
//
// The form has a customer name, a quantity, a terms check box and a country combo box, one rule
// of each kind. The first run fails three rules and shows where their markers stand; after the
// input is corrected the second run passes.
#include "examples/ChecksDemo.h"

#include "checks/JexLChecks.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

template <typename C>
C* AddControl(host::TForm* AForm, const char* AName, int ATop) {
    C* control = host::Create<C>(AForm);
    control->SetName(AName);
    control->SetParent(AForm);
    control->SetBounds(100, ATop, 150, 21);
    return control;
}

void PrintRun(jex::TJexLCheckProcessor* AProcessor, host::TForm* AForm,
              host::THeadlessWidgetSet& AWidgets) {
    using namespace jex;
    AWidgets.ClearLog();
    const bool passed = AProcessor->Execute();
    TJexLCheckProviders* rules = AProcessor->CheckProviders();
    std::printf("Execute = %s, %d of %d rules failed\n", passed ? "true" : "false",
                AProcessor->FailedCount(), rules->Count());
    for (int i = 0; i < rules->Count(); ++i) {
        TJexLCheckProvider* rule = rules->GetCheckProvider(i);
        const std::string control = rule->CheckControl()->Name();
        if (rule->Status() != csFailed) {
            std::printf("  %-12s passed\n", control.c_str());
            continue;
        }
        const host::TImage* marker = rule->LinkedImage();
        std::printf("  %-12s FAILED  marker %dx%d at (%d, %d): %s\n", control.c_str(),
                    marker->Width(), marker->Height(), marker->Left(), marker->Top(),
                    marker->Hint().c_str());
    }
    const auto& log = AWidgets.Log();
    if (!passed)
        std::printf("  focus on %s, %d beep\n", AForm->ActiveControl()->Name().c_str(),
                    static_cast<int>(std::count(log.begin(), log.end(), "MessageBeep 16")));
}

} // namespace

void ChecksDemo() {
    using namespace host;
    using namespace jex;
    auto widgets = std::make_unique<THeadlessWidgetSet>();
    THeadlessWidgetSet& ws = *widgets;
    InitApplication(std::move(widgets));
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmOrder");
    form->Show();

    auto* customer = AddControl<TEdit>(form, "edtCustomer", 10);
    auto* quantity = AddControl<TEdit>(form, "edtQuantity", 40);
    auto* terms = AddControl<TCheckBox>(form, "cbTerms", 70);
    auto* country = AddControl<TComboBox>(form, "cbxCountry", 100);
    country->Items()->Add("Austria");
    country->Items()->Add("Denmark");
    country->SetItemIndex(0);
    quantity->SetText("150");

    TJexLCheckProcessor* checks = Create<TJexLCheckProcessor>(form);
    checks->SetName("OrderChecks");
    (new TJexLCheckProviderEdit(checks->CheckProviders()))->SetCheckControl(customer);
    auto* range = new TJexLCheckProviderNumericEdit(checks->CheckProviders());
    range->SetCheckControl(quantity);
    range->SetMinValue(1);
    range->SetMaxValue(99);
    (new TJexLCheckProviderCheckbox(checks->CheckProviders()))->SetCheckControl(terms);
    (new TJexLCheckProviderCombobox(checks->CheckProviders()))->SetCheckControl(country);

    std::printf("\n== Validating the order form (TJexLCheckProcessor) ==\n");
    PrintRun(checks, form, ws);
    customer->SetText("Ann Berger");
    quantity->SetText("12");
    terms->SetChecked(true);
    std::printf("After the user corrects the input:\n");
    PrintRun(checks, form, ws);
    DoneApplication();
}
