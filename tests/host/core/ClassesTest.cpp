// tests/host/core/ClassesTest.cpp - ownership, names and notifications of TComponent.
#include "host/core/Classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace host;

namespace {

// Records the notifications it receives and its own destruction.
class TRecorder : public TComponent {
public:
    TRecorder(TComponent* AOwner, std::vector<std::string>* ALog, std::string ATag)
        : TComponent(AOwner)
        , FLog(ALog)
        , FTagText(std::move(ATag)) {}

    ~TRecorder() override { FLog->push_back("destroy " + FTagText); }

    void Notification(TComponent* AComponent, TOperation AOperation) override {
        if (AOperation == opRemove && AComponent != this)
            FLog->push_back(FTagText + " told of " + AComponent->Name());
        TComponent::Notification(AComponent, AOperation);
    }

private:
    std::vector<std::string>* FLog;
    std::string FTagText;
};

} // namespace

TEST(TComponentTest, OwnerDestroysOwnedComponentsLastCreatedFirst) {
    std::vector<std::string> log;
    auto* owner = Create<TComponent>(nullptr);
    Create<TRecorder>(owner, &log, "c1");
    Create<TRecorder>(owner, &log, "c2");
    Create<TRecorder>(owner, &log, "c3");
    ASSERT_EQ(owner->ComponentCount(), 3);
    delete owner;
    EXPECT_EQ(log, (std::vector<std::string>{"destroy c3", "destroy c2", "destroy c1"}));
}

TEST(TComponentTest, NamesAreIdentifiersUniqueAmongSiblingsIgnoringCase) {
    auto* owner = Create<TComponent>(nullptr);
    auto* a = Create<TComponent>(owner);
    auto* b = Create<TComponent>(owner);
    a->SetName("Button1");
    EXPECT_EQ(owner->FindComponent("BUTTON1"), a);
    try {
        b->SetName("button1");
        FAIL() << "duplicate name accepted";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "A component named button1 already exists");
    }
    try {
        b->SetName("Button 1");
        FAIL() << "invalid name accepted";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "''Button 1'' is not a valid component name");
    }
    a->SetName("BUTTON1"); // a change of case only is allowed
    EXPECT_EQ(a->Name(), "BUTTON1");
    EXPECT_EQ(owner->FindComponent(""), nullptr);
    delete owner;
}

TEST(TComponentTest, FreeNotificationAcrossOwnersTellsTheOtherSide) {
    std::vector<std::string> log;
    auto* watcher = Create<TRecorder>(nullptr, &log, "watcher");
    auto* watched = Create<TComponent>(nullptr);
    watched->SetName("Watched");
    watched->FreeNotification(watcher);
    EXPECT_TRUE(watched->ComponentState().Contains(csFreeNotification));
    delete watched;
    EXPECT_EQ(log, (std::vector<std::string>{"watcher told of Watched"}));
    delete watcher; // must not touch the destroyed component
}

TEST(TComponentTest, DesigningStateIsInheritedFromTheOwner) {
    auto* owner = Create<TComponent>(nullptr);
    owner->SetDesigning(true);
    auto* child = Create<TComponent>(owner);
    EXPECT_TRUE(child->ComponentState().Contains(csDesigning));
    delete owner;
}

TEST(TComponentTest, ClassNameIsTheUnqualifiedClassName) {
    auto* c = Create<TComponent>(nullptr);
    EXPECT_EQ(c->ClassName(), "TComponent");
    EXPECT_EQ(EConvertError("x").ClassName(), "EConvertError");
    delete c;
}
