// tests/host/data/DBTest.cpp - data sets, data sources and data links: the notifications one
// link sees for each operation (on the in-memory and the SQLite data set alike), navigation,
// editing and field values.
#include "host/data/DB.h"

#include "host/data/MemDS.h"
#include "host/data/SQLiteTables.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace host;
using jex::test::TempDir;

namespace {

using TCalls = std::vector<std::string>;

// Records every notification of the link and its source into one list.
class TRecordingLink : public TDataLink {
public:
    explicit TRecordingLink(TCalls& ACalls)
        : FCalls(ACalls) {}

protected:
    void ActiveChanged() override {
        FCalls.push_back(Active() ? "ActiveChanged(True)" : "ActiveChanged(False)");
    }

    void CheckBrowseMode() override { FCalls.push_back("CheckBrowseMode"); }

    void DataSetChanged() override { FCalls.push_back("DataSetChanged"); }

    void DataSetScrolled(int ADistance) override {
        FCalls.push_back("DataSetScrolled(" + std::to_string(ADistance) + ")");
    }

    void EditingChanged() override {
        FCalls.push_back(Editing() ? "EditingChanged(True)" : "EditingChanged(False)");
    }

    void LayoutChanged() override { FCalls.push_back("LayoutChanged"); }

    void RecordChanged(TField* AField) override {
        FCalls.push_back("RecordChanged(" + (AField ? AField->FieldName() : std::string("nil")) +
                         ")");
    }

    void UpdateData() override { FCalls.push_back("UpdateData"); }

private:
    TCalls& FCalls;
};

// The data sets under test: five orders (id, item, qty) in memory or in an SQLite file.
enum TKind { kMemory, kSQLite };

class TDataSetSequenceTest : public ::testing::TestWithParam<TKind> {
protected:
    void SetUp() override {
        FOwner.reset(Create<TComponent>(nullptr));
        if (GetParam() == kMemory) {
            auto* mem = Create<TMemDataSet>(FOwner.get());
            mem->SetTableName("orders");
            mem->FieldDefs()->Add("id", ftInteger);
            mem->FieldDefs()->Add("item", ftString);
            mem->FieldDefs()->Add("qty", ftInteger);
            std::vector<TDataRecord> rows;
            for (int i = 1; i <= 5; ++i)
                rows.push_back(
                    {{Variant(i), Variant("item" + std::to_string(i)), Variant(i * 10)}, i});
            mem->SetRecords(rows);
            FDataSet = mem;
        } else {
            auto* connection = Create<TSQLiteConnection>(FOwner.get());
            connection->SetDatabaseName(FDir.File("orders.db"));
            std::string sql =
                "BEGIN; CREATE TABLE orders (id INTEGER PRIMARY KEY, item TEXT, qty INTEGER);";
            for (int i = 1; i <= 5; ++i)
                sql += "INSERT INTO orders VALUES (" + std::to_string(i) + ", 'item" +
                       std::to_string(i) + "', " + std::to_string(i * 10) + ");";
            connection->ExecSQL(sql + "COMMIT");
            auto* table = Create<TSQLiteTable>(FOwner.get());
            table->SetConnection(connection);
            table->SetTableName("orders");
            FDataSet = table;
        }
        FSource = Create<TDataSource>(FOwner.get());
        FSource->SetDataSet(FDataSet);
        FSource->SetOnStateChange(
            TNotifyEvent::FromCallable([this](TObject*) { FCalls.push_back("[OnStateChange]"); }));
        FSource->SetOnDataChange(TDataChangeEvent::FromCallable([this](TObject*, TField* AField) {
            FCalls.push_back(AField ? "[OnDataChange(" + AField->FieldName() + ")]"
                                    : "[OnDataChange(nil)]");
        }));
        FSource->SetOnUpdateData(
            TNotifyEvent::FromCallable([this](TObject*) { FCalls.push_back("[OnUpdateData]"); }));
        FLink = std::make_unique<TRecordingLink>(FCalls);
        FLink->SetDataSource(FSource);
    }

    void TearDown() override {
        FLink.reset();
        FOwner.reset();
    }

    // The calls AOperation causes.
    template <typename F>
    TCalls During(F AOperation) {
        FCalls.clear();
        AOperation();
        return FCalls;
    }

    TempDir FDir;
    std::unique_ptr<TComponent> FOwner;
    TDataSet* FDataSet = nullptr;
    TDataSource* FSource = nullptr;
    std::unique_ptr<TRecordingLink> FLink;
    TCalls FCalls;
};

} // namespace

TEST_P(TDataSetSequenceTest, OpenAndCloseTellTheLinkAndTheSource) {
    EXPECT_EQ(During([&] { FDataSet->Open(); }),
              (TCalls{"ActiveChanged(True)", "[OnStateChange]", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { FDataSet->Close(); }),
              (TCalls{"ActiveChanged(False)", "[OnStateChange]"}));
}

TEST_P(TDataSetSequenceTest, ClosingWhileEditingDiscardsTheEdit) {
    FDataSet->Open();
    FDataSet->Edit();
    FDataSet->FieldByName("qty")->SetAsInteger(99);
    EXPECT_EQ(During([&] { FDataSet->Close(); }),
              (TCalls{"ActiveChanged(False)", "EditingChanged(False)", "[OnStateChange]"}));
    FDataSet->Open();
    EXPECT_EQ(FDataSet->FieldByName("qty")->AsInteger(), 10);
}

TEST_P(TDataSetSequenceTest, ScrollsAreOneNotificationWithTheDistanceMoved) {
    FDataSet->Open();
    EXPECT_EQ(During([&] { FDataSet->Next(); }),
              (TCalls{"CheckBrowseMode", "DataSetScrolled(1)", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { EXPECT_EQ(FDataSet->MoveBy(3), 3); }),
              (TCalls{"CheckBrowseMode", "DataSetScrolled(3)", "[OnDataChange(nil)]"}));
    EXPECT_EQ(FDataSet->RecNo(), 5);
    EXPECT_FALSE(FDataSet->Eof());
    // On the last record a step forward moves nothing but sets Eof; the next one is not sent.
    EXPECT_EQ(During([&] { FDataSet->Next(); }),
              (TCalls{"CheckBrowseMode", "DataSetScrolled(0)", "[OnDataChange(nil)]"}));
    EXPECT_TRUE(FDataSet->Eof());
    EXPECT_EQ(During([&] { FDataSet->Next(); }), (TCalls{"CheckBrowseMode"}));
    EXPECT_EQ(During([&] { EXPECT_EQ(FDataSet->MoveBy(-10), -4); }),
              (TCalls{"CheckBrowseMode", "DataSetScrolled(-4)", "[OnDataChange(nil)]"}));
    EXPECT_TRUE(FDataSet->Bof());
    EXPECT_EQ(FDataSet->RecNo(), 1);
    EXPECT_EQ(During([&] { FDataSet->Last(); }),
              (TCalls{"CheckBrowseMode", "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { FDataSet->First(); }),
              (TCalls{"CheckBrowseMode", "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { FDataSet->First(); }),
              (TCalls{"CheckBrowseMode", "DataSetChanged", "[OnDataChange(nil)]"}));
}

TEST_P(TDataSetSequenceTest, EditFieldChangeAndPost) {
    FDataSet->Open();
    EXPECT_EQ(During([&] { FDataSet->Edit(); }),
              (TCalls{"CheckBrowseMode", "EditingChanged(True)", "[OnStateChange]",
                      "RecordChanged(nil)", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { FDataSet->FieldByName("item")->SetAsString("pipe"); }),
              (TCalls{"RecordChanged(item)", "[OnDataChange(item)]"}));
    EXPECT_EQ(During([&] { FDataSet->Post(); }),
              (TCalls{"UpdateData", "[OnUpdateData]", "CheckBrowseMode", "EditingChanged(False)",
                      "[OnStateChange]", "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(FDataSet->State(), dsBrowse);
    EXPECT_EQ(FDataSet->FieldByName("item")->AsString(), "pipe");
}

TEST_P(TDataSetSequenceTest, InsertCancelAndDelete) {
    FDataSet->Open();
    EXPECT_EQ(During([&] { FDataSet->Insert(); }),
              (TCalls{"CheckBrowseMode", "EditingChanged(True)", "[OnStateChange]",
                      "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(During([&] { FDataSet->Cancel(); }),
              (TCalls{"CheckBrowseMode", "EditingChanged(False)", "[OnStateChange]",
                      "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(FDataSet->RecordCount(), 5);
    EXPECT_EQ(During([&] { FDataSet->Delete(); }),
              (TCalls{"CheckBrowseMode", "DataSetChanged", "[OnDataChange(nil)]"}));
    EXPECT_EQ(FDataSet->RecordCount(), 4);
    EXPECT_EQ(FDataSet->FieldByName("id")->AsInteger(), 2);
}

TEST_P(TDataSetSequenceTest, NavigatingAwayFromAModifiedEditPostsItFirst) {
    FDataSet->Open();
    FDataSet->Edit();
    FDataSet->FieldByName("qty")->SetAsInteger(11);
    EXPECT_EQ(
        During([&] { FDataSet->Next(); }),
        (TCalls{"CheckBrowseMode", "UpdateData", "[OnUpdateData]", "UpdateData", "[OnUpdateData]",
                "CheckBrowseMode", "EditingChanged(False)", "[OnStateChange]", "DataSetChanged",
                "[OnDataChange(nil)]", "DataSetScrolled(1)", "[OnDataChange(nil)]"}));
    FDataSet->First();
    EXPECT_EQ(FDataSet->FieldByName("qty")->AsInteger(), 11);
}

TEST_P(TDataSetSequenceTest, DisabledControlsHearOneChangeAtTheEnd) {
    FDataSet->Open();
    EXPECT_EQ(During([&] {
                  FDataSet->DisableControls();
                  FDataSet->Next();
                  FDataSet->Edit();
                  FDataSet->FieldByName("qty")->SetAsInteger(1);
                  FDataSet->EnableControls();
              }),
              (TCalls{"EditingChanged(True)", "[OnStateChange]", "DataSetChanged",
                      "[OnDataChange(nil)]"}));
}

TEST_P(TDataSetSequenceTest, DataSetEventsComeInTheFrameworksOrder) {
    TCalls events;
    auto record = [&](const char* AName) {
        return TDataSetNotifyEvent::FromCallable(
            [&events, AName](TDataSet*) { events.push_back(AName); });
    };
    FDataSet->SetBeforeOpen(record("BeforeOpen"));
    FDataSet->SetAfterOpen(record("AfterOpen"));
    FDataSet->SetBeforeInsert(record("BeforeInsert"));
    FDataSet->SetAfterInsert(record("AfterInsert"));
    FDataSet->SetOnNewRecord(TDataSetNotifyEvent::FromCallable([&](TDataSet* ADataSet) {
        events.push_back("OnNewRecord");
        ADataSet->FieldByName("qty")->SetAsInteger(1);
    }));
    FDataSet->SetBeforeScroll(record("BeforeScroll"));
    FDataSet->SetAfterScroll(record("AfterScroll"));
    FDataSet->SetBeforePost(record("BeforePost"));
    FDataSet->SetAfterPost(record("AfterPost"));
    FDataSet->SetBeforeDelete(record("BeforeDelete"));
    FDataSet->SetAfterDelete(record("AfterDelete"));
    FDataSet->Open();
    EXPECT_EQ(events, (TCalls{"BeforeOpen", "AfterOpen", "AfterScroll"}));
    events.clear();
    const TCalls link = During([&] { FDataSet->Insert(); });
    EXPECT_EQ(events, (TCalls{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                              "AfterScroll"}));
    // A value set while the record is made is a field change the link hears.
    EXPECT_EQ(link, (TCalls{"CheckBrowseMode", "EditingChanged(True)", "[OnStateChange]",
                            "RecordChanged(qty)", "[OnDataChange(qty)]", "DataSetChanged",
                            "[OnDataChange(nil)]"}));
    EXPECT_FALSE(FDataSet->Modified());
    events.clear();
    FDataSet->FieldByName("id")->SetAsInteger(6);
    FDataSet->Post();
    EXPECT_EQ(events, (TCalls{"BeforePost", "AfterPost"}));
    EXPECT_EQ(FDataSet->RecordCount(), 6);
    events.clear();
    FDataSet->Delete();
    EXPECT_EQ(events, (TCalls{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
}

TEST_P(TDataSetSequenceTest, ALinkLeavingAnOpenSourceSeesItGoInactive) {
    FDataSet->Open();
    EXPECT_EQ(During([&] { FLink->SetDataSource(nullptr); }), (TCalls{"ActiveChanged(False)"}));
    EXPECT_EQ(During([&] { FLink->SetDataSource(FSource); }), (TCalls{"ActiveChanged(True)"}));
    FDataSet->Edit();
    // A link joining during an edit hears both states at once.
    TCalls second;
    TRecordingLink late(second);
    late.SetDataSource(FSource);
    EXPECT_EQ(second, (TCalls{"ActiveChanged(True)", "EditingChanged(True)"}));
    // Destroying the source detaches its links.
    EXPECT_EQ(During([&] { delete FSource; }),
              (TCalls{"ActiveChanged(False)", "EditingChanged(False)"}));
    EXPECT_EQ(FLink->DataSource(), nullptr);
    EXPECT_EQ(late.DataSource(), nullptr);
}

TEST_P(TDataSetSequenceTest, HidingAFieldIsALayoutChange) {
    FDataSet->Open();
    EXPECT_EQ(During([&] { FDataSet->FieldByName("qty")->SetVisible(false); }),
              (TCalls{"LayoutChanged", "[OnDataChange(nil)]"}));
}

INSTANTIATE_TEST_SUITE_P(MemoryAndSQLite, TDataSetSequenceTest, ::testing::Values(kMemory, kSQLite),
                         [](const ::testing::TestParamInfo<TKind>& AInfo) {
                             return AInfo.param == kMemory ? std::string("Memory")
                                                           : std::string("SQLite");
                         });

// ---- Editing rules and field values, on the in-memory data set -------------------------------

namespace {

class TDataSetEditingTest : public ::testing::Test {
protected:
    void SetUp() override {
        FData.reset(Create<TMemDataSet>(nullptr));
        FData->SetName("Orders");
        FData->FieldDefs()->Add("name", ftString);
        FData->FieldDefs()->Add("qty", ftInteger);
        FData->FieldDefs()->Add("price", ftFloat);
        FData->FieldDefs()->Add("paid", ftBoolean);
        FData->FieldDefs()->Add("due", ftDateTime);
        FData->SetRecords({{{Variant("Ann"), Variant(3), Variant(2.5), Variant(true),
                             Variant::FromDateTime(EncodeDate(2026, 12, 8))},
                            1}});
        FData->Open();
    }

    template <typename E, typename F>
    static std::string MessageOf(F AFunc) {
        try {
            AFunc();
        } catch (const E& e) {
            return e.Message();
        }
        return "(nothing raised)";
    }

    std::unique_ptr<TMemDataSet> FData;
};

} // namespace

TEST_F(TDataSetEditingTest, FieldsConvertTheirValuesAndReadNullAsEmpty) {
    EXPECT_EQ(FData->FieldByName("QTY")->AsString(), "3");
    EXPECT_EQ(FData->FieldByName("price")->AsString(), "2.5");
    EXPECT_EQ(FData->FieldByName("paid")->AsString(), "True");
    EXPECT_EQ(FData->FieldByName("due")->AsString(), "12/8/2026");
    FData->Edit();
    FData->FieldByName("qty")->SetAsString("42");
    FData->FieldByName("price")->SetAsInteger(7);
    FData->FieldByName("paid")->SetAsString("false");
    FData->FieldByName("due")->SetAsString("2026-12-24 18:30");
    FData->FieldByName("name")->Clear();
    EXPECT_EQ(FData->FieldByName("qty")->Value().VarType(), varInteger);
    EXPECT_DOUBLE_EQ(FData->FieldByName("price")->AsFloat(), 7.0);
    EXPECT_FALSE(FData->FieldByName("paid")->AsBoolean());
    EXPECT_EQ(FData->FieldByName("due")->AsString(), "12/24/2026 6:30:00 PM");
    EXPECT_TRUE(FData->FieldByName("name")->IsNull());
    EXPECT_EQ(FData->FieldByName("name")->AsString(), "");
    EXPECT_EQ(FData->FieldByName("name")->AsInteger(), 0);
    EXPECT_EQ(FData->FieldByName("name")->OldValue(), Variant("Ann"));
}

TEST_F(TDataSetEditingTest, BadValuesAreRefusedAndTheOldValueStays) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->FieldByName("qty")->SetAsInteger(1); }),
              "Orders: Dataset not in edit or insert mode");
    FData->Edit();
    EXPECT_EQ(MessageOf<EConvertError>([&] { FData->FieldByName("qty")->SetAsString("many"); }),
              "'many' is not a valid integer value");
    EXPECT_EQ(MessageOf<EConvertError>([&] { FData->FieldByName("paid")->SetAsString("maybe"); }),
              "'maybe' is not a valid boolean value");
    EXPECT_EQ(FData->FieldByName("qty")->AsInteger(), 3);
    FData->FieldByName("qty")->SetOnValidate(TFieldNotifyEvent::FromCallable([](TField* AField) {
        if (AField->AsInteger() < 0)
            throw EDatabaseError("quantity below zero");
    }));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->FieldByName("qty")->SetAsInteger(-1); }),
              "quantity below zero");
    EXPECT_EQ(FData->FieldByName("qty")->AsInteger(), 3);
    EXPECT_FALSE(FData->Modified());
    FData->FieldByName("name")->SetReadOnly(true);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->FieldByName("name")->SetAsString("x"); }),
              "Orders: Field 'name' cannot be modified");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->FieldByName("nope"); }),
              "Orders: Field 'nope' not found");
}

TEST_F(TDataSetEditingTest, ARequiredFieldLeftEmptyKeepsTheRecordInInsert) {
    FData->FieldByName("name")->SetRequired(true);
    FData->Append();
    FData->FieldByName("qty")->SetAsInteger(5);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->Post(); }),
              "Orders: Field 'name' must have a value");
    EXPECT_EQ(FData->State(), dsInsert);
    EXPECT_EQ(FData->FieldByName("qty")->AsInteger(), 5);
    FData->FieldByName("name")->SetAsString("Bob");
    FData->Post();
    EXPECT_EQ(FData->RecordCount(), 2);
    EXPECT_EQ(FData->RecNo(), 2);
}

TEST_F(TDataSetEditingTest, ClosedAndEmptyDataSetsRefuseOperations) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->Post(); }),
              "Orders: Dataset not in edit or insert mode");
    FData->Delete();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->Delete(); }),
              "Orders: Cannot perform this operation on an empty dataset");
    EXPECT_TRUE(FData->Eof() && FData->Bof());
    EXPECT_EQ(FData->RecNo(), 0);
    // Editing an empty data set starts a new record.
    FData->Edit();
    EXPECT_EQ(FData->State(), dsInsert);
    FData->Cancel();
    FData->Close();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->Next(); }),
              "Orders: Cannot perform this operation on a closed dataset");
    EXPECT_EQ(FData->FieldCount(), 0);
}

TEST_F(TDataSetEditingTest, PostedRecordsSurviveCloseAndReopen) {
    FData->Insert();
    FData->FieldByName("name")->SetAsString("First");
    FData->Post();
    EXPECT_EQ(FData->RecNo(), 1);
    FData->Close();
    FData->Open();
    EXPECT_EQ(FData->RecordCount(), 2);
    EXPECT_EQ(FData->FieldByName("name")->AsString(), "First");
}

TEST_F(TDataSetEditingTest, TextIsReadInTheFieldsTypeAndBadTextLeavesTheValueAlone) {
    FData->Edit();
    FData->FieldByName("price")->SetAsString("1.5");
    FData->FieldByName("paid")->SetAsBoolean(false);
    FData->FieldByName("paid")->SetAsString("TRUE");
    EXPECT_DOUBLE_EQ(FData->FieldByName("price")->AsFloat(), 1.5);
    EXPECT_TRUE(FData->FieldByName("paid")->AsBoolean());
    EXPECT_EQ(MessageOf<EConvertError>([&] { FData->FieldByName("price")->SetAsString("cheap"); }),
              "'cheap' is not a valid floating point value");
    for (const char* bad : {"2026-12-24 18:30x", "12/24/2026", "tomorrow"})
        EXPECT_EQ(MessageOf<EConvertError>([&] { FData->FieldByName("due")->SetAsString(bad); }),
                  std::string("'") + bad + "' is not a valid date and time");
    EXPECT_DOUBLE_EQ(FData->FieldByName("due")->AsDateTime(), EncodeDate(2026, 12, 8));
    FData->FieldByName("due")->SetAsDateTime(EncodeDate(2027, 1, 2));
    FData->FieldByName("price")->SetAsFloat(3.75);
    FData->Post();
    EXPECT_EQ(FData->FieldByName("due")->AsString(), "1/2/2027");
    EXPECT_DOUBLE_EQ(FData->FieldByName("price")->AsFloat(), 3.75);
    // A number stored in a text column reads as a date-time; an empty one as 0.
    FData->Edit();
    FData->FieldByName("name")->SetAsFloat(2.5);
    EXPECT_DOUBLE_EQ(FData->FieldByName("name")->AsDateTime(), 2.5);
    FData->FieldByName("name")->Clear();
    EXPECT_DOUBLE_EQ(FData->FieldByName("name")->AsDateTime(), 0);
}

TEST_F(TDataSetEditingTest, AFieldHearsItsOwnChangeWithTheNewValueInPlace) {
    std::vector<std::int64_t> seen;
    TField* qty = FData->FieldByName("qty");
    qty->SetOnChange(TFieldNotifyEvent::FromCallable(
        [&](TField* AField) { seen.push_back(AField->AsInteger()); }));
    FData->Edit();
    qty->SetAsInteger(8);
    FData->FieldByName("name")->SetAsString("Bea");
    qty->SetAsInteger(9);
    EXPECT_EQ(seen, (std::vector<std::int64_t>{8, 9}));
    EXPECT_EQ(qty->OldValue(), Variant(3));
    FData->Post();
    // Outside an edit the old value is the current one.
    EXPECT_EQ(qty->OldValue(), Variant(9));
}

TEST_F(TDataSetEditingTest, ANewRecordWhoseDefaultsFailIsGivenUp) {
    TCalls calls;
    std::unique_ptr<TDataSource> source(Create<TDataSource>(nullptr));
    source->SetDataSet(FData.get());
    TRecordingLink link(calls);
    link.SetDataSource(source.get());
    FData->SetOnNewRecord(TDataSetNotifyEvent::FromCallable(
        [](TDataSet*) { throw EDatabaseError("no order number left"); }));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { FData->Append(); }), "no order number left");
    EXPECT_EQ(FData->State(), dsBrowse);
    EXPECT_EQ(FData->RecordCount(), 1);
    EXPECT_EQ(FData->FieldByName("name")->AsString(), "Ann");
    EXPECT_FALSE(link.Editing());
    EXPECT_EQ(calls.back(), "DataSetChanged");
    // Deleting a new record only cancels it.
    FData->SetOnNewRecord({});
    FData->Insert();
    FData->FieldByName("name")->SetAsString("Never");
    FData->Delete();
    EXPECT_EQ(FData->State(), dsBrowse);
    EXPECT_EQ(FData->RecordCount(), 1);
    EXPECT_EQ(FData->FieldByName("name")->AsString(), "Ann");
}

TEST_F(TDataSetEditingTest, OpeningAnOpenDataSetOrRefreshingItKeepsItsPlace) {
    int opens = 0;
    FData->Close();
    FData->SetBeforeOpen(TDataSetNotifyEvent::FromCallable([&](TDataSet*) { ++opens; }));
    FData->SetActive(true);
    FData->Open();
    FData->SetActive(true);
    EXPECT_EQ(opens, 1);
    FData->Append();
    FData->FieldByName("name")->SetAsString("Bob");
    FData->Post();
    ASSERT_EQ(FData->RecNo(), 2);
    // A refresh first posts what is being edited, then stays on the record it was on.
    FData->Edit();
    FData->FieldByName("qty")->SetAsInteger(6);
    FData->Refresh();
    EXPECT_EQ(FData->State(), dsBrowse);
    EXPECT_EQ(FData->RecNo(), 2);
    EXPECT_EQ(FData->FieldByName("qty")->AsInteger(), 6);
    FData->SetActive(false);
    EXPECT_FALSE(FData->Active());
    EXPECT_EQ(FData->Records().size(), 2u);
}

TEST(SQLDateTimeTextTest, RoundTripsAndRefusesMalformedText) {
    const TDateTime value = EncodeDate(2026, 12, 8) + EncodeTime(14, 30, 5, 250);
    EXPECT_EQ(DateTimeToSQLText(value), "2026-12-08 14:30:05.250");
    EXPECT_EQ(DateTimeToSQLText(EncodeDate(1899, 1, 2)), "1899-01-02");
    TDateTime back = 0;
    ASSERT_TRUE(TrySQLTextToDateTime("2026-12-08T14:30:05.250", back));
    EXPECT_EQ(DateTimeToSQLText(back), "2026-12-08 14:30:05.250");
    ASSERT_TRUE(TrySQLTextToDateTime("1899-01-02 06:00", back));
    EXPECT_EQ(DateTimeToSQLText(back), "1899-01-02 06:00:00");
    for (const char* bad : {"", "2026-13-01", "2026-02-30", "2026-12-08 25:00", "2026-12-08x",
                            "26-12-08", "2026-12-08 14:30:05.2"})
        EXPECT_FALSE(TrySQLTextToDateTime(bad, back)) << bad;
}

// ---- Links that join, change or pass on events while they are told ---------------------------

namespace {

// A recording link that hands chosen notifications on to a callback and can ignore events.
class TActingLink : public TRecordingLink {
public:
    using TRecordingLink::TRecordingLink;

    std::function<void()> OnScrolled;

    void Ignore(std::uint32_t AEvents) { SetIgnoredEvents(AEvents); }

protected:
    void DataSetScrolled(int ADistance) override {
        TRecordingLink::DataSetScrolled(ADistance);
        if (OnScrolled)
            OnScrolled();
    }
};

std::unique_ptr<TMemDataSet> ThreeRecords() {
    std::unique_ptr<TMemDataSet> data(Create<TMemDataSet>(nullptr));
    data->FieldDefs()->Add("qty", ftInteger);
    data->SetRecords({{{Variant(1)}, 1}, {{Variant(2)}, 2}, {{Variant(3)}, 3}});
    data->Open();
    return data;
}

} // namespace

TEST(TDataLinkDispatchTest, AControlJoiningWhileTheOnlyLinkIsToldHearsTheSameEventAfterIt) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> owned(Create<TDataSource>(nullptr));
    TDataSource& source = *owned;
    source.SetDataSet(data.get());
    TCalls calls;
    TActingLink first(calls);
    TRecordingLink control(calls);
    control.SetVisualControl(true);
    first.OnScrolled = [&] { control.SetDataSource(&source); };
    first.SetDataSource(&source);
    calls.clear();
    data->Next();
    EXPECT_EQ(calls, (TCalls{"CheckBrowseMode", "DataSetScrolled(1)", "ActiveChanged(True)",
                             "DataSetScrolled(1)"}));
}

TEST(TDataLinkDispatchTest, ALinkThatBecomesAControlWhileToldHearsTheEventAgainAsOne) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> owned(Create<TDataSource>(nullptr));
    TDataSource& source = *owned;
    source.SetDataSet(data.get());
    TCalls calls;
    TActingLink link(calls);
    link.OnScrolled = [&] { link.SetVisualControl(true); };
    link.SetDataSource(&source);
    calls.clear();
    data->Next();
    EXPECT_EQ(calls, (TCalls{"CheckBrowseMode", "DataSetScrolled(1)", "DataSetScrolled(1)"}));
    calls.clear();
    data->Next(); // a control now: told once
    EXPECT_EQ(calls, (TCalls{"CheckBrowseMode", "DataSetScrolled(1)"}));
}

TEST(TDataLinkDispatchTest, IgnoredEventsPassTheLinkByButStateChangesStillReachIt) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> owned(Create<TDataSource>(nullptr));
    TDataSource& source = *owned;
    source.SetDataSet(data.get());
    TCalls calls;
    TActingLink quiet(calls);
    TCalls otherCalls;
    TRecordingLink other(otherCalls);
    quiet.Ignore(~std::uint32_t{0});
    quiet.SetDataSource(&source);
    other.SetDataSource(&source);
    calls.clear();
    otherCalls.clear();
    data->Edit();
    data->FieldByName("qty")->SetAsInteger(5);
    data->Post();
    data->Next();
    EXPECT_EQ(calls, (TCalls{"EditingChanged(True)", "EditingChanged(False)"}));
    // The other link of the source hears everything, in order.
    EXPECT_EQ(otherCalls.front(), "CheckBrowseMode");
    EXPECT_EQ(otherCalls.back(), "DataSetScrolled(1)");
    quiet.Ignore(0);
    calls.clear();
    data->Next();
    EXPECT_EQ(calls, (TCalls{"CheckBrowseMode", "DataSetScrolled(1)"}));
}

// ---- Fields on their own, and links that edit ---------------------------------------------

TEST(TFieldTest, AFieldOutsideADataSetRefusesValuesAndOddTypesAreHeldAsText) {
    std::unique_ptr<TField> loose = CreateField(ftInteger);
    loose->SetFieldName("qty");
    EXPECT_TRUE(loose->IsNull());
    try {
        loose->SetAsInteger(1);
        FAIL() << "nothing raised";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Field 'qty' has no dataset");
    }
    std::unique_ptr<TField> memo = CreateField(ftMemo);
    EXPECT_EQ(memo->DataType(), ftMemo);
    EXPECT_EQ(memo->ConvertValue(Variant(12)), Variant("12"));
    EXPECT_TRUE(memo->ConvertValue(Variant()).IsNull());

    auto data = std::unique_ptr<TMemDataSet>(Create<TMemDataSet>(nullptr));
    data->FieldDefs()->Add("notes", ftMemo);
    data->SetRecords({{{Variant("line 1\nline 2")}, 1}});
    data->Open();
    EXPECT_EQ(data->Fields()[0]->DataType(), ftMemo);
    EXPECT_EQ(data->Fields()[0]->AsString(), "line 1\nline 2");
    EXPECT_THROW((void)data->Fields()[1], EListError);
    EXPECT_THROW((void)data->Fields()[-1], EListError);
}

TEST(TDataLinkEditTest, ALinkStartsAnEditOnlyWhereItsSourceAndItsOwnSettingAllowIt) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> source(Create<TDataSource>(nullptr));
    source->SetDataSet(data.get());
    TCalls calls;
    TRecordingLink link(calls);
    link.SetDataSource(source.get());

    link.SetReadOnly(true);
    EXPECT_FALSE(link.Edit());
    EXPECT_EQ(data->State(), dsBrowse);
    source->SetAutoEdit(false);
    link.SetReadOnly(false);
    EXPECT_FALSE(link.Edit());
    EXPECT_EQ(data->State(), dsBrowse);
    source->SetAutoEdit(true);
    EXPECT_TRUE(link.Edit());
    EXPECT_EQ(data->State(), dsEdit);
    // A read-only link does not count itself as editing while the data set edits.
    calls.clear();
    link.SetReadOnly(true);
    EXPECT_FALSE(link.Editing());
    EXPECT_EQ(calls, (TCalls{"EditingChanged(False)"}));
    data->Cancel();
}

TEST(TDataLinkEditTest, ADisabledSourceLeavesItsLinksInactiveUntilEnabledAgain) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> source(Create<TDataSource>(nullptr));
    source->SetDataSet(data.get());
    TCalls calls;
    TRecordingLink link(calls);
    link.SetDataSource(source.get());
    calls.clear();
    source->SetEnabled(false);
    source->SetEnabled(false);
    EXPECT_FALSE(link.Active());
    data->Next();
    source->SetEnabled(true);
    EXPECT_TRUE(link.Active());
    EXPECT_EQ(calls, (TCalls{"ActiveChanged(False)", "ActiveChanged(True)"}));
}

TEST(TDataLinkEditTest, ALinkThatFailsToStoreItsDataKeepsTheEditAndCanStoreLater) {
    auto data = ThreeRecords();
    std::unique_ptr<TDataSource> source(Create<TDataSource>(nullptr));
    source->SetDataSet(data.get());

    // An editor control: writes its text into the field when asked, refusing bad text.
    class TEditorLink : public TDataLink {
    public:
        std::string Text;

    protected:
        void UpdateData() override { DataSet()->FieldByName("qty")->SetAsString(Text); }
    } editor;

    editor.SetDataSource(source.get());
    data->Edit();
    editor.Text = "lots";
    EXPECT_THROW(data->Post(), EConvertError);
    EXPECT_EQ(data->State(), dsEdit);
    editor.Text = "12";
    data->Post();
    EXPECT_EQ(data->State(), dsBrowse);
    EXPECT_EQ(data->FieldByName("qty")->AsInteger(), 12);
}
