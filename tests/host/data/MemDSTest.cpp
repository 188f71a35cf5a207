// tests/host/data/MemDSTest.cpp - the in-memory table: what may change while it is open, and the
// records it keeps for the next open.
#include "host/data/MemDS.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace host;

namespace {

std::unique_ptr<TMemDataSet> Orders() {
    std::unique_ptr<TMemDataSet> data(Create<TMemDataSet>(nullptr));
    data->SetName("Orders");
    data->SetTableName("orders");
    data->FieldDefs()->Add("item", ftString, 40, true);
    data->FieldDefs()->Add("qty", ftInteger);
    data->SetRecords({{{Variant("pipe"), Variant(2)}, 1}, {{Variant("tap"), Variant(1)}, 2}});
    return data;
}

std::string MessageOf(const std::function<void()>& AFunc) {
    try {
        AFunc();
    } catch (const EDatabaseError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace

TEST(TMemDataSetTest, ItsTableAndRecordsCannotBeSwappedWhileOpen) {
    auto data = Orders();
    data->Open();
    EXPECT_EQ(MessageOf([&] { data->SetTableName("other"); }),
              "Orders: Cannot perform this operation on an open dataset");
    EXPECT_EQ(MessageOf([&] { data->SetRecords({}); }),
              "Orders: Cannot perform this operation on an open dataset");
    // Setting the name it already has is no change.
    data->SetTableName("orders");
    EXPECT_EQ(data->TableName(), "orders");
    EXPECT_EQ(data->RecordCount(), 2);
    data->Close();
    data->SetTableName("archive");
    EXPECT_EQ(data->TableName(), "archive");
}

TEST(TMemDataSetTest, OpeningWithoutColumnsIsRefusedAndLeavesItClosed) {
    std::unique_ptr<TMemDataSet> data(Create<TMemDataSet>(nullptr));
    data->SetName("Empty");
    EXPECT_EQ(MessageOf([&] { data->Open(); }), "Empty: No fields defined");
    EXPECT_FALSE(data->Active());
    EXPECT_EQ(data->FieldCount(), 0);
}

TEST(TMemDataSetTest, TheRecordsWhileOpenAreTheEditedOnesAndSurviveClose) {
    auto data = Orders();
    data->Open();
    data->Edit();
    data->FieldByName("qty")->SetAsInteger(5);
    data->Post();
    data->Append();
    data->FieldByName("item")->SetAsString("valve");
    data->Post();
    std::vector<TDataRecord> now = data->Records();
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now[0].Values[1], Variant(5));
    EXPECT_EQ(now[2].Values[0], Variant("valve"));
    // Keys go on from the highest one stored.
    EXPECT_EQ(now[2].Key, 3);
    data->Close();
    std::vector<TDataRecord> kept = data->Records();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].Values[1], Variant(5));
}

TEST(TMemDataSetTest, ColumnsCanBeCopiedFromAnotherTableAndAreThenItsOwn) {
    auto source = Orders();
    std::unique_ptr<TMemDataSet> copy(Create<TMemDataSet>(nullptr));
    copy->SetFieldDefs(source->FieldDefs());
    copy->SetFieldDefs(nullptr);
    source->FieldDefs()->Add("extra", ftInteger);
    ASSERT_EQ(copy->FieldDefs()->Count(), 2);
    EXPECT_EQ(copy->FieldDefs()->Items(1)->Name(), "qty");
    EXPECT_EQ(copy->FieldDefs()->Items(1)->DataType(), ftInteger);
    EXPECT_EQ(copy->FieldDefs()->Items(0)->Size(), 40);
    EXPECT_TRUE(copy->FieldDefs()->Items(0)->Required());
    copy->Open();
    EXPECT_EQ(copy->FieldCount(), 2);
    EXPECT_TRUE(copy->FieldByName("item")->Required());
    EXPECT_TRUE(copy->IsEmpty());
}
