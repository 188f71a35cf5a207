// examples/QtDemo.cpp - the order form and the error dialog as windows a person sees.
#include "examples/QtDemo.h"

#include "checks/JexLChecks.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/qt/QtImages.h"
#include "host/widgetsets/qt/QtWidgetSet.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace host;

template <typename C>
C* Place(TForm* AForm, const char* ACaption, int ALeft, int ATop, int AWidth, int AHeight) {
    C* control = Create<C>(AForm);
    control->SetParent(AForm);
    control->SetCaption(ACaption);
    control->SetBounds(ALeft, ATop, AWidth, AHeight);
    return control;
}

void SaveOrder(TObject*) {
    throw EInvalidOperation("Order 4711 is locked by another user");
}

// Saves what AForm's window shows now as APath; false while it is not painted yet (its
// top-left client pixel is not the form's face).
bool SaveWindow(TQtWidgetSet& AWidgets, const TCustomForm* AForm, const std::string& APath,
                bool AWaitForIcon) {
    QWidget* window = AWidgets.Widget(AForm);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (window == nullptr || !window->isVisible() || screen == nullptr)
        return false;
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    const QImage image =
        screen->grabWindow(0, origin.x(), origin.y(), window->width(), window->height()).toImage();
    if (image.isNull() || image.pixelColor(2, 2) != ToQColor(clBtnFace))
        return false;
    if (AWaitForIcon && qRed(image.pixel(26, 26)) < 150)
        return false; // the error icon is not drawn yet
    return image.save(QString::fromStdString(APath));
}

// The tour for the screenshots: check, save the form, fail, save the dialog, close it, close
// the form; one step per tick of a timer.
class TTour {
public:
    TTour(TQtWidgetSet& AWidgets, TForm* AForm, TButton* ACheck, TButton* ASave,
          std::string AFolder)
        : FWidgets(AWidgets)
        , FForm(AForm)
        , FCheck(ACheck)
        , FSave(ASave)
        , FFolder(std::move(AFolder)) {}

    void Tick(TObject*) {
        switch (FStep) {
        case 0:
            FCheck->Click();
            ++FStep;
            break;
        case 1:
            if (SaveWindow(FWidgets, FForm, FFolder + "/jexdemo-form.png", false))
                ++FStep;
            break;
        case 2:
            // As a person's click: the dialog runs modally in the loop, where ticks go on.
            Application->PostMessage(FSave->Handle(), BM_CLICK);
            ++FStep;
            break;
        case 3:
            if (auto* dialog =
                    dynamic_cast<jex::TfrmJexLogErrorDialog*>(Screen->ActiveCustomForm()))
                if (SaveWindow(FWidgets, dialog, FFolder + "/jexdemo-error-dialog.png", true)) {
                    ++FStep;
                    dialog->btnClose->Click();
                }
            break;
        case 4:
            if (Screen->ActiveCustomForm() == FForm) {
                ++FStep;
                FForm->Close();
            }
            break;
        default:
            break;
        }
    }

private:
    TQtWidgetSet& FWidgets;
    TForm* FForm;
    TButton* FCheck;
    TButton* FSave;
    std::string FFolder;
    int FStep = 0;
};

} // namespace

void QtDemo(const std::string& AFolder) {
    using namespace jex;
    if (!TQtWidgetSet::DisplayReachable())
        return;
    const std::string logPath = AFolder + "/jexdemo-qt.log";
    std::filesystem::remove(logPath);

    auto widgets = std::make_unique<TQtWidgetSet>();
    TQtWidgetSet& ws = *widgets;
    InitApplication(std::move(widgets));
    Application->SetTitle("Orders");
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmOrders");
    form->SetCaption("Orders");
    form->SetPosition(poScreenCenter);
    form->SetBounds(0, 0, 330, 150);
    Place<TLabel>(form, "Customer:", 12, 16, 80, 17);
    auto* customer = Place<TEdit>(form, "", 100, 12, 180, 21);
    customer->SetName("edtCustomer");
    Place<TLabel>(form, "Quantity:", 12, 46, 80, 17);
    auto* quantity = Place<TEdit>(form, "150", 100, 42, 180, 21);
    quantity->SetName("edtQuantity");
    auto* terms = Place<TCheckBox>(form, "I accept the terms", 100, 72, 180, 17);
    terms->SetName("cbTerms");
    auto* check = Place<TButton>(form, "&Check", 12, 110, 90, 25);
    auto* save = Place<TButton>(form, "&Save", 118, 110, 90, 25);
    auto* close = Place<TButton>(form, "C&lose", 224, 110, 90, 25);

    TJexLCheckProcessor* checks = Create<TJexLCheckProcessor>(form);
    (new TJexLCheckProviderEdit(checks->CheckProviders()))->SetCheckControl(customer);
    auto* range = new TJexLCheckProviderNumericEdit(checks->CheckProviders());
    range->SetCheckControl(quantity);
    range->SetMinValue(1);
    range->SetMaxValue(99);
    (new TJexLCheckProviderCheckbox(checks->CheckProviders()))->SetCheckControl(terms);
    check->SetOnClick(TNotifyEvent::FromCallable([checks](TObject*) { checks->Execute(); }));
    save->SetOnClick(TNotifyEvent::FromCallable(&SaveOrder));
    close->SetOnClick(TNotifyEvent::FromCallable([form](TObject*) { form->Close(); }));

    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(logPath);
    logger->SendTo()->SetEMail("support@example.com");
    logger->SendTo()->SetWWW("https://example.com/support");
    logger->SetActive(true);

    std::printf("\n== On the display (Qt widgetset) ==\nThe order form is open: Check marks "
                "what is wrong, Save fails into the error dialog; close the form to go on.\n");
    std::fflush(stdout);
    std::unique_ptr<TTour> tour;
    if (const char* folder = std::getenv("JEXDEMO_SCREENSHOTS"); folder != nullptr && *folder) {
        tour = std::make_unique<TTour>(ws, form, check, save, folder);
        auto* timer = Create<TTimer>(form);
        timer->SetInterval(50);
        timer->SetOnTimer(TNotifyEvent(tour.get(), &TTour::Tick));
    }
    Application->Run();
    DoneApplication();
    std::printf("The exceptions of the form went to %s\n", logPath.c_str());
}
