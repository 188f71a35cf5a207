// host/data/MemDS.h - TMemDataSet: a data set whose records live only in memory.
//
// Its columns come from the stored FieldDefs; its records exist from Open to Close (and can be
// saved and restored around that with Records/SetRecords). TableName is a name and nothing
// more: it tells readers of the data set which table the records stand for.
#pragma once

#include "host/data/DB.h"

#include <memory>
#include <string>
#include <vector>

namespace host {

/// An in-memory table. Posting and deleting only change the records in memory.
class TMemDataSet : public TDataSet {
    JEX_CLASS(TMemDataSet)

public:
    explicit TMemDataSet(TComponent* AOwner);
    ~TMemDataSet() override;

    /// The name of the table the records stand for.
    const std::string& TableName() const { return FTableName; }

    /// Raises EDatabaseError "Cannot perform this operation on an open dataset" while open.
    void SetTableName(const std::string& AValue);

    /// The columns the data set opens with.
    TFieldDefs* FieldDefs() const { return FFieldDefs.get(); }

    /// Copies AValue's column descriptions.
    void SetFieldDefs(TFieldDefs* AValue);

    /// The records the next Open starts with (the current ones while open), values in the
    /// order of FieldDefs.
    std::vector<TDataRecord> Records() const;

    /// Replaces the records the next Open starts with; raises EDatabaseError while open.
    void SetRecords(std::vector<TDataRecord> ARecords);

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) override;
    void InternalDelete(const TDataRecord& ARecord) override;

private:
    std::string FTableName;
    std::unique_ptr<TFieldDefs> FFieldDefs;
    std::vector<TDataRecord> FStored; // kept across Close
    std::int64_t FNextKey = 1;
};

} // namespace host
