// tests/host/core/ClassesStreamingTest.cpp - stored forms: exact text layout, round trips,
// reading rules and errors.
#include "host/core/ClassesStreaming.h"

#include "tests/support/Raises.h"
#include "tests/support/SampleComponents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace host;
using namespace jex::test;

namespace {

// A form whose constructor makes one of its parts itself, as C++ forms with typed members do.
class TPrebuiltForm : public TTestForm {
    JEX_CLASS(TPrebuiltForm)

public:
    using TTestForm::TTestForm;

    void AfterConstruction() override {
        TTestForm::AfterConstruction();
        FPart = Create<TTestWidget>(this);
        FPart->SetName("Widget1");
    }

    TTestWidget* FPart = nullptr;
};

const TClassInfo& TPrebuiltForm::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TPrebuiltForm>("TPrebuiltForm", &TTestForm::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

// A component whose Loaded fails, to check the clean-up.
class TFailingWidget : public TTestWidget {
    JEX_CLASS(TFailingWidget)

public:
    using TTestWidget::TTestWidget;

    void Loaded() override {
        TTestWidget::Loaded();
        throw EInvalidOperation("cannot start");
    }
};

const TClassInfo& TFailingWidget::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TFailingWidget>("TFailingWidget", &TTestWidget::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

class ClassesStreamingTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterClasses({&TTestForm::StaticClassInfo(), &TTestWidget::StaticClassInfo(),
                         &TPrebuiltForm::StaticClassInfo(), &TFailingWidget::StaticClassInfo()});
        LoadLog().clear();
    }

    // Builds the sample form: two widgets with a bit of everything.
    static std::unique_ptr<TTestForm> MakeSampleForm() {
        auto form = std::unique_ptr<TTestForm>(Create<TTestForm>(nullptr));
        form->SetName("Form1");
        form->SetCaption("Main form");
        form->SetOnCreate(TNotifyEvent(form.get(), &TTestForm::FormCreate));
        auto* w1 = Create<TTestWidget>(form.get());
        w1->SetName("Widget1");
        auto* w2 = Create<TTestWidget>(form.get());
        w2->SetName("Widget2");
        w1->SetTag(7);
        w1->SetCaption("Don't panic\r\nok");
        w1->SetCount(42);
        w1->SetEnabled(false);
        w1->SetVisible(true);
        w1->SetKind(wkLarge);
        w1->SetOptions({woItalic, woUnder});
        w1->SetRatio(2.0 / 3.0);
        w1->SetBig(9000000000LL);
        w1->SetStamp(37848.4325759375);
        w1->SetPrice(12.5);
        w1->SetHidden("secret");
        w1->SendTo()->SetEMail("support@example.com");
        w1->SendTo()->SetAttach(true);
        w1->Lines()->FLines = {"first", "", std::string(LongLine())};
        w1->Items()->Add()->SetCaption("one");
        TTestItem* two = w1->Items()->Add();
        two->SetCaption("two");
        two->SetWidth(5);
        w1->SetBuddy(w2);
        w1->SetOnClick(TNotifyEvent(form.get(), &TTestForm::WidgetClick));
        w2->SetBuddy(form.get());
        return form;
    }

    static std::string LongLine() {
        std::string s;
        for (int i = 0; i < 7; ++i)
            s += "0123456789";
        return s;
    }

    static std::string Text(std::initializer_list<const char*> ALines) {
        std::string result;
        for (const char* line : ALines)
            result += std::string(line) + "\r\n";
        return result;
    }

    static const std::string& SampleText() {
        static const std::string text = Text({
            "object Form1: TTestForm",
            "  Caption = 'Main form'",
            "  OnCreate = FormCreate",
            "  object Widget1: TTestWidget",
            "    Tag = 7",
            "    Caption = 'Don'#39't panic'#13#10'ok'",
            "    Count = 42",
            "    Enabled = False",
            "    Visible = True",
            "    Kind = wkLarge",
            "    Options = [woItalic, woUnder]",
            "    Ratio = 0.666666666666667",
            "    Big = 9000000000",
            "    Stamp = 37848.4325759375d",
            "    Price = 125000c",
            "    SendTo.EMail = 'support@example.com'",
            "    SendTo.Attach = True",
            "    SendTo.Options = []",
            "    Lines.Strings = (",
            "      'first'",
            "      ''",
            "      ",
            "        '0123456789012345678901234567890123456789012345678901234567890123' +",
            "        '456789')",
            "    Items = <",
            "      item",
            "        Caption = 'one'",
            "      end",
            "      item",
            "        Caption = 'two'",
            "        Width = 5",
            "      end>",
            "    Buddy = Widget2",
            "    OnClick = WidgetClick",
            "  end",
            "  object Widget2: TTestWidget",
            "    Count = 0",
            "    Visible = False",
            "    SendTo.Options = []",
            "    Items = <>",
            "    Buddy = Owner",
            "  end",
            "end",
        });
        return text;
    }

    static std::unique_ptr<TComponent> Read(const std::string& AText) {
        return std::unique_ptr<TComponent>(ReadComponentFromText(AText));
    }

    static std::string ReadError(const std::string& AText) {
        return MessageOf<EReadError>([&] { Read(AText); });
    }

    static std::string ParserError(const std::string& AText) {
        return MessageOf<EParserError>([&] { Read(AText); });
    }

    static std::string WidgetText(const std::string& AProps) {
        return "object Form1: TTestForm\r\n  object Widget1: TTestWidget\r\n" + AProps +
               "\r\n  end\r\nend\r\n";
    }

    // The value written for the Ratio-like property line APrefix of a widget.
    static std::string WrittenLine(TTestWidget& AWidget, const std::string& APrefix) {
        const std::string text = WriteComponentToText(&AWidget);
        const std::size_t at = text.find("\r\n  " + APrefix + " = ");
        if (at == std::string::npos)
            return "<absent>";
        const std::size_t start = at + 4 + APrefix.size() + 3;
        return text.substr(start, text.find("\r\n", start) - start);
    }
};

// ---- Writing -------------------------------------------------------------------------------

TEST_F(ClassesStreamingTest, WritesTheSampleFormInTheExactLayout) {
    auto form = MakeSampleForm();
    EXPECT_EQ(WriteComponentToText(form.get()), SampleText());
}

TEST_F(ClassesStreamingTest, ReadingTheSampleBackRestoresEveryPropertyAndWritesTheSameText) {
    auto loaded = Read(SampleText());
    auto* form = dynamic_cast<TTestForm*>(loaded.get());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->Name(), "Form1");
    EXPECT_EQ(form->Caption(), "Main form");
    EXPECT_EQ(form->OnCreate(), TNotifyEvent(form, &TTestForm::FormCreate));
    ASSERT_EQ(form->ComponentCount(), 2);
    auto* w1 = dynamic_cast<TTestWidget*>(form->FindComponent("Widget1"));
    auto* w2 = dynamic_cast<TTestWidget*>(form->FindComponent("Widget2"));
    ASSERT_NE(w1, nullptr);
    ASSERT_NE(w2, nullptr);
    EXPECT_EQ(w1->Owner(), form);
    EXPECT_EQ(w1->Tag(), 7);
    EXPECT_EQ(w1->Caption(), "Don't panic\r\nok");
    EXPECT_EQ(w1->Count(), 42);
    EXPECT_FALSE(w1->Enabled());
    EXPECT_TRUE(w1->Visible());
    EXPECT_EQ(w1->Kind(), wkLarge);
    EXPECT_EQ(w1->Options(), (TWidgetOptions{woItalic, woUnder}));
    EXPECT_DOUBLE_EQ(w1->Ratio(), 2.0 / 3.0);
    EXPECT_EQ(w1->Big(), 9000000000LL);
    EXPECT_DOUBLE_EQ(w1->Stamp(), 37848.4325759375);
    EXPECT_DOUBLE_EQ(w1->Price(), 12.5);
    EXPECT_EQ(w1->Hidden(), "");
    EXPECT_EQ(w1->SendTo()->EMail(), "support@example.com");
    EXPECT_TRUE(w1->SendTo()->Attach());
    EXPECT_EQ(w1->Lines()->FLines, (std::vector<std::string>{"first", "", LongLine()}));
    ASSERT_EQ(w1->Items()->Count(), 2);
    EXPECT_EQ(w1->Items()->Item(0)->Caption(), "one");
    EXPECT_EQ(w1->Items()->Item(1)->Width(), 5);
    EXPECT_EQ(w1->Items()->FUpdateDepth, 0);
    EXPECT_EQ(w1->Buddy(), w2);
    EXPECT_EQ(w2->Buddy(), form);
    ASSERT_TRUE(w1->OnClick().Assigned());
    w1->OnClick()(w1);
    EXPECT_EQ(form->FClicks, 1);
    EXPECT_EQ(WriteComponentToText(form), SampleText());
}

TEST_F(ClassesStreamingTest, DefaultsEmptyStringsAndUnstoredPropertiesAreNotWritten) {
    auto widget = std::unique_ptr<TTestWidget>(Create<TTestWidget>(nullptr));
    // Count and Visible have no default and are always written; a collection is always
    // written; a set without default is written even when empty.
    EXPECT_EQ(WriteComponentToText(widget.get()), Text({
                                                      "object TTestWidget",
                                                      "  Count = 0",
                                                      "  Visible = False",
                                                      "  SendTo.Options = []",
                                                      "  Items = <>",
                                                      "end",
                                                  }));
    widget->SetHidden("x");
    EXPECT_EQ(WriteComponentToText(widget.get()).find("Hidden"), std::string::npos);
    widget->FStoreHidden = true;
    EXPECT_NE(WriteComponentToText(widget.get()).find("  Hidden = 'x'\r\n"), std::string::npos);
    // An event bound to something other than a published method of the root has no name.
    widget->SetOnClick(TNotifyEvent::FromCallable([](TObject*) {}));
    EXPECT_EQ(WriteComponentToText(widget.get()).find("OnClick"), std::string::npos);
}

TEST_F(ClassesStreamingTest, LongStringsAreCutIntoChunksOfSixtyFourCharacters) {
    auto widget = std::unique_ptr<TTestWidget>(Create<TTestWidget>(nullptr));
    widget->SetCaption(std::string(64, 'a'));
    EXPECT_NE(
        WriteComponentToText(widget.get()).find("  Caption = '" + std::string(64, 'a') + "'\r\n"),
        std::string::npos);
    // #nnn counts as one character of a chunk.
    widget->SetCaption(std::string(63, 'b') + "\t" + std::string(65, 'c'));
    EXPECT_NE(WriteComponentToText(widget.get())
                  .find("  Caption = \r\n    '" + std::string(63, 'b') + "'#9 +\r\n    '" +
                        std::string(64, 'c') + "' +\r\n    'c'\r\n  Count"),
              std::string::npos);
}

TEST_F(ClassesStreamingTest, FloatsAreWrittenWithFifteenSignificantDigits) {
    auto widget = std::unique_ptr<TTestWidget>(Create<TTestWidget>(nullptr));
    const std::pair<double, const char*> cases[] = {
        {100, "100"},
        {12.5, "12.5"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.333333333333333"},
        {0.0001, "0.0001"},
        {0.0000999, "9.99E-5"},
        {1.5E-5, "1.5E-5"},
        {-1.5E-10, "-1.5E-10"},
        {1E14, "100000000000000"},
        {123456789012345, "123456789012345"},
        {999999999999999.9, "1E15"},
        {1E15, "1E15"},
        {1234567890123456, "1.23456789012346E15"},
        {1E100, "1E100"},
    };
    for (const auto& [value, text] : cases) {
        widget->SetRatio(value);
        EXPECT_EQ(WrittenLine(*widget, "Ratio"), text) << value;
    }
    widget->SetScale(0.5F);
    EXPECT_EQ(WrittenLine(*widget, "Scale"), "0.5s");
}

TEST_F(ClassesStreamingTest, ComponentsAreMarkedWritingOnlyWhileBeingWritten) {
    auto widget = std::unique_ptr<TTestWidget>(Create<TTestWidget>(nullptr));
    widget->SetCaption("x");
    WriteComponentToText(widget.get());
    EXPECT_TRUE(widget->FStateAtCaptionRead.Contains(csWriting));
    EXPECT_FALSE(widget->ComponentState().Contains(csWriting));
}

TEST_F(ClassesStreamingTest, ReferencesOutsideTheRootAreWrittenThroughTheirOwner) {
    auto other = std::unique_ptr<TTestForm>(Create<TTestForm>(nullptr));
    other->SetName("Other");
    auto* target = Create<TTestWidget>(other.get());
    target->SetName("Target");
    auto widget = std::unique_ptr<TTestWidget>(Create<TTestWidget>(nullptr));
    widget->SetName("Lonely");
    widget->SetBuddy(target);
    EXPECT_NE(WriteComponentToText(widget.get()).find("  Buddy = Other.Target\r\n"),
              std::string::npos);
    widget.reset(); // the buddy link must not dangle either way
}

// ---- Reading -------------------------------------------------------------------------------

TEST_F(ClassesStreamingTest, ReaderAcceptsEveryLexicalFormOfValues) {
    auto loaded = Read("OBJECT Form1: TTestForm\n"
                       "  Caption = 'It''s '#65#$42 +\n"
                       "    'C'\r"
                       "  INLINE Widget1: TTestWidget [3]\n"
                       "    Tag = $1F\n"
                       "    Count = -8\n"
                       "    Enabled = FALSE\n"
                       "    kind = WKSMALL\n"
                       "    Options = [WOBOLD,woUnder]\n"
                       "    Ratio = 0.100000000000000000\n"
                       "    Scale = 1.5E-2s\n"
                       "    Stamp = 2.5d\n"
                       "    Price = 125000C\n"
                       "    Handle = -2147483646\n"
                       "    Buddy = nil\n"
                       "    Lines.Strings = ('a' 'b' +\n 'c')\n"
                       "    Items = <item [0] Caption = 'x' end item end>\n"
                       "  End\n"
                       "end");
    auto* form = dynamic_cast<TTestForm*>(loaded.get());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->Caption(), "It's ABC");
    auto* w = dynamic_cast<TTestWidget*>(form->FindComponent("Widget1"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Tag(), 31);
    EXPECT_EQ(w->Count(), -8);
    EXPECT_FALSE(w->Enabled());
    EXPECT_EQ(w->Kind(), wkSmall);
    EXPECT_EQ(w->Options(), (TWidgetOptions{woBold, woUnder}));
    EXPECT_DOUBLE_EQ(w->Ratio(), 0.1);
    EXPECT_FLOAT_EQ(w->Scale(), 0.015F);
    EXPECT_DOUBLE_EQ(w->Stamp(), 2.5);
    EXPECT_DOUBLE_EQ(w->Price(), 12.5);
    EXPECT_EQ(w->Handle(), 0x80000002U);
    // Currency keeps four decimals.
    auto cents = Read(WidgetText("    Price = 0.00004"));
    EXPECT_EQ(dynamic_cast<TTestWidget*>(cents->FindComponent("Widget1"))->Price(), 0.0);
    EXPECT_EQ(w->Lines()->FLines, (std::vector<std::string>{"a", "bc"}));
    ASSERT_EQ(w->Items()->Count(), 2);
    EXPECT_EQ(w->Items()->Item(0)->Caption(), "x");
}

TEST_F(ClassesStreamingTest,
       ComponentsAreLoadingDuringReadAndLoadedRootFirstThenInCompletionOrder) {
    auto loaded = Read("object Form1: TTestForm\r\n"
                       "  object Widget1: TTestWidget\r\n"
                       "    Caption = 'w1'\r\n"
                       "    object Inner: TTestWidget\r\n"
                       "    end\r\n"
                       "  end\r\n"
                       "  object Widget2: TTestWidget\r\n"
                       "  end\r\n"
                       "end\r\n");
    EXPECT_EQ(LoadLog(), (std::vector<std::string>{"Form1", "Inner", "Widget1", "Widget2"}));
    auto* w1 = dynamic_cast<TTestWidget*>(loaded->FindComponent("Widget1"));
    ASSERT_NE(w1, nullptr);
    EXPECT_TRUE(w1->FStateAtCaption.Contains(csLoading));
    EXPECT_TRUE(w1->FStateAtCaption.Contains(csReading));
    EXPECT_TRUE(w1->ComponentState().Empty());
    EXPECT_TRUE(loaded->ComponentState().Empty());
    // Nested objects belong to the root.
    EXPECT_EQ(loaded->FindComponent("Inner")->Owner(), loaded.get());
}

TEST_F(ClassesStreamingTest, ReferencesMayPointForwardAndCollectionItemsMayHoldThem) {
    auto loaded = Read(WidgetText("    Buddy = Widget2\r\n"
                                  "    Items = <item Link = Widget2 end>\r\n"
                                  "  end\r\n"
                                  "  object Widget2: TTestWidget\r\n"
                                  "    Buddy = Form1"));
    auto* w1 = dynamic_cast<TTestWidget*>(loaded->FindComponent("Widget1"));
    TComponent* w2 = loaded->FindComponent("Widget2");
    ASSERT_NE(w1, nullptr);
    EXPECT_EQ(w1->Buddy(), w2);
    EXPECT_EQ(w1->Items()->Item(0)->Link(), w2);
    EXPECT_EQ(dynamic_cast<TTestWidget*>(w2)->Buddy(), loaded.get());
}

TEST_F(ClassesStreamingTest, ACollectionReadTwiceKeepsOnlyTheLastItemsAndTheirReferences) {
    auto loaded = Read(WidgetText("    Items = <item Link = Widget1 end item end>\r\n"
                                  "    Items = <item Caption = 'only' end>\r\n"
                                  "    Buddy = Widget1\r\n"
                                  "    Buddy = nil"));
    auto* w1 = dynamic_cast<TTestWidget*>(loaded->FindComponent("Widget1"));
    ASSERT_NE(w1, nullptr);
    ASSERT_EQ(w1->Items()->Count(), 1);
    EXPECT_EQ(w1->Items()->Item(0)->Caption(), "only");
    EXPECT_EQ(w1->Items()->Item(0)->Link(), nullptr);
    EXPECT_EQ(w1->Items()->FEndUpdates, 2);
    EXPECT_EQ(w1->Buddy(), nullptr);
}

TEST_F(ClassesStreamingTest, ItemsHoldCollectionsOfTheirOwnWrittenOnlyWhenNotEmpty) {
    auto form = std::unique_ptr<TTestForm>(Create<TTestForm>(nullptr));
    form->SetName("Form1");
    auto* w1 = Create<TTestWidget>(form.get());
    w1->SetName("Widget1");
    TTestItem* outer = w1->Items()->Add();
    outer->Children()->Add()->SetLink(w1);
    outer->Children()->Item(0)->Children()->Add()->SetCaption("deep");
    w1->Items()->Add()->SetWidth(2);
    const std::string written = WriteComponentToText(form.get());
    EXPECT_EQ(written, Text({"object Form1: TTestForm",
                             "  object Widget1: TTestWidget",
                             "    Count = 0",
                             "    Visible = False",
                             "    SendTo.Options = []",
                             "    Items = <",
                             "      item",
                             "        Children = <",
                             "          item",
                             "            Link = Widget1",
                             "            Children = <",
                             "              item",
                             "                Caption = 'deep'",
                             "              end>",
                             "          end>",
                             "      end",
                             "      item",
                             "        Width = 2",
                             "      end>",
                             "  end",
                             "end"}));
    auto loaded = Read(written);
    auto* back = dynamic_cast<TTestWidget*>(loaded->FindComponent("Widget1"));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Items()->Count(), 2);
    TTestItem* inner = back->Items()->Item(0)->Children()->Item(0);
    EXPECT_EQ(inner->Link(), back);
    EXPECT_EQ(inner->Children()->Item(0)->Caption(), "deep");
    EXPECT_EQ(WriteComponentToText(loaded.get()), written);
}

// The fuzz target starts from this seed: it must stay a form that reads, with every kind of
// property the sample components publish.
TEST_F(ClassesStreamingTest, TheFuzzSeedReadsAndWritesBackToTheSameText) {
    std::ifstream in(std::string(JEX_SOURCE_DIR) + "/fuzz/corpus/StoredForm/sample.txt",
                     std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(text.empty());
    auto first = Read(text);
    auto* w1 = dynamic_cast<TTestWidget*>(first->FindComponent("W1"));
    ASSERT_NE(w1, nullptr);
    EXPECT_EQ(w1->Items()->Item(0)->Children()->Item(0)->Link(), first.get());
    const std::string written = WriteComponentToText(first.get());
    EXPECT_EQ(WriteComponentToText(Read(written).get()), written);
}

TEST_F(ClassesStreamingTest, ReadingIntoAnExistingRootReusesItsOwnPartsAndChecksTheClass) {
    auto form = std::unique_ptr<TPrebuiltForm>(Create<TPrebuiltForm>(nullptr));
    // The header may name the root's class or one of its ancestors.
    ReadComponentInto(form.get(), "inherited MyForm: TTestForm\r\n"
                                  "  Caption = 'c'\r\n"
                                  "  object Widget1: TTestWidget\r\n"
                                  "    Count = 3\r\n"
                                  "  end\r\n"
                                  "  object Widget2: TTestWidget\r\n"
                                  "  end\r\n"
                                  "end\r\n");
    EXPECT_EQ(form->Name(), "MyForm");
    EXPECT_EQ(form->Caption(), "c");
    EXPECT_EQ(form->ComponentCount(), 2);
    EXPECT_EQ(form->FPart->Count(), 3);
    EXPECT_EQ(LoadLog(), (std::vector<std::string>{"MyForm", "Widget1", "Widget2"}));

    auto plain = std::unique_ptr<TTestForm>(Create<TTestForm>(nullptr));
    EXPECT_EQ(MessageOf<EReadError>(
                  [&] { ReadComponentInto(plain.get(), "object F: TPrebuiltForm\r\nend\r\n"); }),
              "Stored class TPrebuiltForm does not match TTestForm");
    EXPECT_EQ(MessageOf<EReadError>([&] {
                  ReadComponentInto(plain.get(), "object F: TTestForm\r\n"
                                                 "  inherited Missing: TTestWidget\r\n"
                                                 "  end\r\n"
                                                 "end\r\n");
              }),
              "Ancestor for 'Missing' not found");
}

TEST_F(ClassesStreamingTest, AFailedReadIntoARootDestroysWhatItCreatedAndClearsTheStates) {
    auto form = std::unique_ptr<TPrebuiltForm>(Create<TPrebuiltForm>(nullptr));
    EXPECT_EQ(MessageOf<EReadError>([&] {
                  ReadComponentInto(form.get(), "object F: TPrebuiltForm\r\n"
                                                "  object Extra: TTestWidget\r\n"
                                                "  end\r\n"
                                                "  object Widget1: TTestWidget\r\n"
                                                "    Count = 'x'\r\n"
                                                "  end\r\n"
                                                "end\r\n");
              }),
              "Error reading Widget1.Count: Invalid property value");
    EXPECT_EQ(form->ComponentCount(), 1);
    EXPECT_EQ(form->FindComponent("Extra"), nullptr);
    EXPECT_TRUE(form->ComponentState().Empty());
    EXPECT_TRUE(form->FPart->ComponentState().Empty());
}

TEST_F(ClassesStreamingTest, AFailingLoadedDestroysTheNewRoot) {
    EXPECT_EQ(MessageOf<EInvalidOperation>([&] {
                  Read("object F: TTestForm\r\n  object W: TFailingWidget\r\n  end\r\nend\r\n");
              }),
              "cannot start");
}

// ---- Errors --------------------------------------------------------------------------------

TEST_F(ClassesStreamingTest, UnknownClassesAreReportedByName) {
    EXPECT_EQ(MessageOf<EClassNotFound>([&] { Read("object X: TNoSuchForm\r\nend\r\n"); }),
              "Class TNoSuchForm not found");
    EXPECT_EQ(MessageOf<EClassNotFound>([&] {
                  Read("object F: TTestForm\r\n  object X: TNoSuchWidget\r\n  end\r\nend\r\n");
              }),
              "Class TNoSuchWidget not found");
}

TEST_F(ClassesStreamingTest, PropertyErrorsNameTheComponentAndThePath) {
    EXPECT_EQ(ReadError(WidgetText("    Colour = 1")),
              "Error reading Widget1.Colour: Property Colour does not exist");
    EXPECT_EQ(ReadError(WidgetText("    SendTo.Nope = 1")),
              "Error reading Widget1.SendTo.Nope: Property Nope does not exist");
    EXPECT_EQ(ReadError(WidgetText("    Caption.Length = 1")),
              "Error reading Widget1.Caption.Length: Property Caption does not exist");
    EXPECT_EQ(ReadError(WidgetText("    Count = 'x'")),
              "Error reading Widget1.Count: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Count = 4294967296")),
              "Error reading Widget1.Count: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Kind = wkHuge")),
              "Error reading Widget1.Kind: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Options = [woBold, woStrike]")),
              "Error reading Widget1.Options: Invalid property value");
    // Values the property's floating type cannot hold.
    EXPECT_EQ(ReadError(WidgetText("    Scale = 1E300")),
              "Error reading Widget1.Scale: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Price = 1E16")),
              "Error reading Widget1.Price: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Caption = 12")),
              "Error reading Widget1.Caption: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    OnClick = NoSuchMethod")),
              "Error reading Widget1.OnClick: Invalid property value");
    // A published method of another signature does not fit the event.
    EXPECT_EQ(ReadError(WidgetText("    OnClick = KeyPressed")),
              "Error reading Widget1.OnClick: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Buddy = Nobody")),
              "Error reading Widget1.Buddy: Invalid property value");
    EXPECT_EQ(ReadError(WidgetText("    Lines.Strings = ('a' 1)")),
              "Error reading Widget1.Lines.Strings: Invalid property value");
    // Errors inside collection items name the item, then the collection.
    EXPECT_EQ(ReadError(WidgetText("    Items = <item Depth = 1 end>")),
              "Error reading Widget1.Items: Error reading TTestItem.Depth: Property Depth does "
              "not exist");
    // Unnamed components are named by their class.
    EXPECT_EQ(ReadError("object TTestForm\r\n  Caption = 1\r\nend\r\n"),
              "Error reading TTestForm.Caption: Invalid property value");
}

TEST_F(ClassesStreamingTest, SetterErrorsAndNameClashesPassOnWithTheirOwnText) {
    EXPECT_EQ(MessageOf<EComponentError>([&] {
                  Read("object F: TTestForm\r\n  object A: TTestWidget\r\n  end\r\n"
                       "  object A: TTestWidget\r\n  end\r\nend\r\n");
              }),
              "A component named A already exists");
    EXPECT_EQ(ReadError(WidgetText("    Buddy = Owner\r\n    Items = <item Link = 3 end>")),
              "Error reading Widget1.Items: Error reading TTestItem.Link: Invalid property value");
}

TEST_F(ClassesStreamingTest, MalformedTextGivesAParserErrorWithTheLine) {
    EXPECT_EQ(ParserError(""), "Unexpected end of file on line 1");
    EXPECT_EQ(ParserError("object Form1: TTestForm\r\n  Caption = 'x'\r\n"),
              "Unexpected end of file on line 3");
    EXPECT_EQ(ParserError("object Form1: TTestForm\r\n  Caption = 'abc\r\nend\r\n"),
              "Invalid string constant on line 2");
    EXPECT_EQ(ParserError("object Form1: TTestForm\n\n  Count = 12abc\nend\n"),
              "Invalid number: 12abc on line 3");
    EXPECT_EQ(ParserError("object Form1: TTestForm\n  Count = $\nend\n"),
              "Invalid number: $ on line 2");
    EXPECT_EQ(ParserError("object Form1: TTestForm\n  Ratio = 1E\nend\n"),
              "Invalid number: 1E on line 2");
    EXPECT_EQ(ParserError("object Form1: TTestForm\n  Caption 'x'\nend\n"),
              "'=' expected on line 2");
    EXPECT_EQ(ParserError("thing Form1: TTestForm\nend\n"), "'object' expected on line 1");
    EXPECT_EQ(ParserError("object Form1: TTestForm\nend\nend\n"), "End of file expected on line 3");
    EXPECT_EQ(ParserError("object F: TTestForm\n  object W: TTestWidget\n  end\n  Caption = 'x'\n"
                          "end\n"),
              "'end' expected on line 4");
    EXPECT_EQ(ParserError("object F: TTestForm\n  Caption = 'a' +\n  12\nend\n"),
              "String expected on line 3");
    EXPECT_EQ(ParserError("object F: TTestForm\n  Data = {0A0}\nend\n"),
              "Invalid binary value on line 2");
    EXPECT_EQ(ParserError("object F: TTestForm\n  Caption = #\nend\n"),
              "Invalid string constant on line 2");
    EXPECT_EQ(ParserError("object F: TTestForm\n  Caption = ?\nend\n"),
              "Invalid property value on line 2");
}

TEST_F(ClassesStreamingTest, DeepNestingIsRefusedBeforeTheStackRunsOut) {
    std::string objects;
    for (int i = 0; i < 5000; ++i)
        objects += "object TTestWidget\n";
    EXPECT_EQ(ParserError(objects),
              "Nesting too deep on line " + std::to_string(MaxStoredFormNesting + 2));
    const std::string lists =
        "object F: TTestForm\n  Lines.Strings = " + std::string(100000, '(') + "\nend\n";
    EXPECT_EQ(ParserError(lists), "Nesting too deep on line 2");
    std::string collections = "object F: TTestForm\n  Items = ";
    for (int i = 0; i < 1000; ++i)
        collections += "<item X = ";
    EXPECT_EQ(ParserError(collections), "Nesting too deep on line 2");
}

} // namespace
