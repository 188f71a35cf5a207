// host/data/DB.h - data sets, fields, data sources and data links.
//
// A TDataSet holds its records in memory once opened and moves a cursor over them; concrete
// data sets (MemDS.h, SQLiteTables.h) say where the records come from and where a posted or
// deleted record goes. Every change is announced as a TDataEvent to the data set's TDataSource
// objects, which pass it on to their TDataLink objects in the framework's order, so a link
// sees the same notifications whatever the data set stores its records in.
#pragma once

#include "host/core/Classes.h"
#include "host/data/Variants.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host {

enum TDataSetState : std::uint8_t {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening,
};

/// dsEdit, dsInsert and dsSetKey: the states in which field values may be set.
bool IsEditMode(TDataSetState AState);

enum TDataEvent : std::uint8_t {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
    deConnectChange,
    deReconcileError,
    deDisabledStateChange,
};

enum TFieldType : std::uint8_t {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
};

/// The type information of TFieldType, for published FieldDefs.
const TTypeInfo& FieldTypeTypeInfo();

/// The error class of every data-access failure, including those the database engine reports.
JEX_EXCEPTION(EDatabaseError, Exception);

/// Raises EDatabaseError AMessage, prefixed "<Name>: " when AComponent has a name.
[[noreturn]] void DatabaseError(const std::string& AMessage,
                                const TComponent* AComponent = nullptr);

/// The framework's data-access messages.
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";

/// "2026-12-08 14:30:05.250" (the milliseconds only when not 0, the time only when not
/// midnight): the text SQL databases read as a date-time.
std::string DateTimeToSQLText(TDateTime AValue);

/// Reads "yyyy-mm-dd", "yyyy-mm-dd hh:nn", "yyyy-mm-dd hh:nn:ss" or with ".zzz" (a "T" may
/// stand for the space); false for anything else, ADateTime then untouched.
bool TrySQLTextToDateTime(const std::string& AText, TDateTime& ADateTime);

class TDataSet;
class TDataSource;
class TDataLink;
class TField;

using TDataSetNotifyEvent = TEvent<void(TDataSet*)>;
using TFieldNotifyEvent = TEvent<void(TField*)>;
/// (Sender, Field): the field that changed, nullptr when the record or the data set changed.
using TDataChangeEvent = TEvent<void(TObject*, TField*)>;

// ---- Fields ---------------------------------------------------------------------------------

/// One column of a data set's current record. Created by the data set when it opens and
/// destroyed when it closes; its values live in the data set. Reading a NULL value gives ""
/// (AsString), 0 (AsInteger, AsFloat, AsDateTime) or false (AsBoolean); Value gives Null.
/// Setting a value outside an edit state raises EDatabaseError "Dataset not in edit or insert
/// mode"; a value that does not convert to the field's type raises EConvertError.
class TField;
std::unique_ptr<TField> CreateField(TFieldType AType);

class TField : public TComponent {
    JEX_CLASS(TField)

public:
    TField(TComponent* AOwner, TFieldType ADataType);
    ~TField() override;

    const std::string& FieldName() const { return FFieldName; }

    void SetFieldName(const std::string& AValue) { FFieldName = AValue; }

    TFieldType DataType() const { return FDataType; }

    /// The declared size of text fields (0 when the database gives none); informational.
    int Size() const { return FSize; }

    void SetSize(int AValue) { FSize = AValue; }

    /// The data set the field belongs to; nullptr for a field outside one.
    TDataSet* DataSet() const { return FDataSet; }

    /// Position among the data set's fields.
    int Index() const { return FIndex; }

    /// The value in the current record (the edit buffer while editing); Null for NULL and
    /// when there is no current record.
    const Variant& Value() const;

    /// Converts AValue to the field's type and stores it in the edit buffer; Null clears.
    void SetValue(const Variant& AValue);

    std::string AsString() const;
    void SetAsString(const std::string& AValue);
    std::int64_t AsInteger() const;
    void SetAsInteger(std::int64_t AValue);
    double AsFloat() const;
    void SetAsFloat(double AValue);
    bool AsBoolean() const;
    void SetAsBoolean(bool AValue);
    TDateTime AsDateTime() const;
    void SetAsDateTime(TDateTime AValue);

    bool IsNull() const { return Value().IsNull(); }

    /// Sets the value to Null.
    void Clear() { SetValue(Variant::Null()); }

    /// The value before the unposted changes: the value Edit started with in dsEdit, Null in
    /// dsInsert, the current value otherwise.
    const Variant& OldValue() const;

    /// The value being edited in dsEdit and dsInsert; the current value otherwise.
    const Variant& NewValue() const { return Value(); }

    bool ReadOnly() const { return FReadOnly; }

    /// A read-only field refuses values: EDatabaseError "Field '<Name>' cannot be modified".
    void SetReadOnly(bool AValue) { FReadOnly = AValue; }

    /// Post refuses a record whose required field is NULL: EDatabaseError "Field '<Name>' must
    /// have a value".
    bool Required() const { return FRequired; }

    void SetRequired(bool AValue) { FRequired = AValue; }

    bool Visible() const { return FVisible; }

    /// Showing or hiding a column changes the layout the links see (LayoutChanged).
    void SetVisible(bool AValue);

    /// Called after a value is stored and before the links hear of it.
    TFieldNotifyEvent OnChange() const { return FOnChange; }

    void SetOnChange(TFieldNotifyEvent AValue) { FOnChange = std::move(AValue); }

    /// Called with the new value in place; raising refuses the value, which then reverts.
    TFieldNotifyEvent OnValidate() const { return FOnValidate; }

    void SetOnValidate(TFieldNotifyEvent AValue) { FOnValidate = std::move(AValue); }

    /// AValue converted to this field's type: what SetValue stores. Null and Unassigned give
    /// Null; raises EConvertError for text that does not convert.
    virtual Variant ConvertValue(const Variant& AValue) const;

private:
    friend class TDataSet;
    friend std::unique_ptr<TField> CreateField(TFieldType AType);

    TDataSet* FDataSet = nullptr;
    int FIndex = -1;
    std::string FFieldName;
    TFieldType FDataType;
    int FSize = 0;
    bool FReadOnly = false;
    bool FRequired = false;
    bool FVisible = true;
    TFieldNotifyEvent FOnChange;
    TFieldNotifyEvent FOnValidate;
};

/// Text; values are kept as they are given.
class TStringField : public TField {
public:
    explicit TStringField(TComponent* AOwner)
        : TField(AOwner, ftString) {}
};

/// 64-bit integers (SQL INTEGER); text is read with StrToInt64, floats are rounded.
class TIntegerField : public TField {
public:
    explicit TIntegerField(TComponent* AOwner)
        : TField(AOwner, ftInteger) {}
};

/// Doubles; text is read with StrToFloat in the user's locale.
class TFloatField : public TField {
public:
    explicit TFloatField(TComponent* AOwner)
        : TField(AOwner, ftFloat) {}
};

/// True/False; text is "True"/"False" in any letter case, numbers are true unless 0.
class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* AOwner)
        : TField(AOwner, ftBoolean) {}
};

/// TDateTime values; text is read as SQL date-time text (see TrySQLTextToDateTime).
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* AOwner)
        : TField(AOwner, ftDateTime) {}
};

/// The field class for a field type: string, integer (ftSmallint, ftInteger, ftWord,
/// ftAutoInc, ftLargeint), float (ftFloat, ftCurrency, ftBCD), boolean, date-time (ftDate,
/// ftTime, ftDateTime); other types are kept as text.
std::unique_ptr<TField> CreateField(TFieldType AType);

/// The fields of a data set, in column order.
class TFields {
public:
    int Count() const { return static_cast<int>(FList.size()); }

    /// The field at AIndex; raises EListError "List index out of bounds (<index>)".
    TField* Fields(int AIndex) const;

    TField* operator[](int AIndex) const { return Fields(AIndex); }

    /// The field called AName, ignoring case; nullptr for none.
    TField* FindField(const std::string& AName) const;

    auto begin() const { return FList.begin(); }

    auto end() const { return FList.end(); }

private:
    friend class TDataSet;
    std::vector<TField*> FList;
};

// ---- Field definitions ----------------------------------------------------------------------

/// The stored description of one column of an in-memory data set.
class TFieldDef : public TCollectionItem {
    JEX_CLASS(TFieldDef)

public:
    explicit TFieldDef(TCollection* ACollection);

    const std::string& Name() const { return FName; }

    void SetName(const std::string& AValue);

    TFieldType DataType() const { return FDataType; }

    void SetDataType(TFieldType AValue);

    int Size() const { return FSize; }

    void SetSize(int AValue);

    bool Required() const { return FRequired; }

    void SetRequired(bool AValue);

    std::string DisplayName() const override { return FName; }

    /// Copies another column description (name, type, size, required), so FieldDefs can be
    /// assigned from another data set's.
    void Assign(TPersistent* ASource) override;

private:
    std::string FName;
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    bool FRequired = false;
};

/// The column descriptions of a data set, stored with the form as `FieldDefs = < item ... >`.
class TFieldDefs : public TOwnedCollection {
    JEX_CLASS(TFieldDefs)

public:
    explicit TFieldDefs(TPersistent* AOwner);

    TFieldDef* Items(int AIndex) const {
        return static_cast<TFieldDef*>(TCollection::Items(AIndex));
    }

    /// Appends a column description.
    TFieldDef* Add(const std::string& AName, TFieldType ADataType, int ASize = 0,
                   bool ARequired = false);
    using TCollection::Add;
};

// ---- Data sets ------------------------------------------------------------------------------

/// One stored record: its values in field order, and a key the concrete data set may use to
/// find the record again in its store (a rowid, say).
struct TDataRecord {
    std::vector<Variant> Values;
    std::int64_t Key = 0;
};

/// The ancestor of every data set: states, a cursor over the records read at Open, the edit
/// buffer with the old values, and the before/after events. Operations on a closed data set
/// raise EDatabaseError "Cannot perform this operation on a closed dataset"; Delete on an empty
/// one "Cannot perform this operation on an empty dataset". A Post that the store refuses
/// leaves the data set in its edit state with the values as they were set: nothing is stored.
/// Concrete classes close themselves in their destructors (see CloseForDestroy).
class TDataSet : public TComponent {
    JEX_CLASS(TDataSet)

public:
    explicit TDataSet(TComponent* AOwner);

    /// Detaches every data source (their links then see the data set go inactive).
    ~TDataSet() override;

    bool Active() const { return FState != dsInactive; }

    /// Opens or closes; while the form is being loaded the value is kept for Loaded.
    void SetActive(bool AValue);

    /// Reads the records and creates the fields: BeforeOpen, then the links hear
    /// ActiveChanged, then AfterOpen and, with records, AfterScroll. Nothing changes when
    /// reading fails.
    void Open();

    /// Discards any edit, tells the links (ActiveChanged, EditingChanged), drops records and
    /// fields: BeforeClose, AfterClose.
    void Close();

    TDataSetState State() const { return FState; }

    /// True once a field value was set in the current edit.
    bool Modified() const { return FModified; }

    /// True unless the data set or its store is read-only.
    bool CanModify() const { return GetCanModify(); }

    // Navigation: each first settles an edit in progress (CheckBrowseMode).

    /// To the first record; the links hear DataSetChanged even when already there.
    void First();
    /// To the last record; the links hear DataSetChanged.
    void Last();

    void Next() { MoveBy(1); }

    void Prior() { MoveBy(-1); }

    /// Moves ADistance records (as far as there are), returns how far it moved; the links hear
    /// one DataSetScrolled. At the end (Eof) a move forward does nothing, at the start (Bof)
    /// a move back does nothing.
    int MoveBy(int ADistance);

    bool Eof() const { return FEof; }

    bool Bof() const { return FBof; }

    /// 1-based number of the current record; 0 when there is none (empty, or a new record).
    int RecNo() const;

    int RecordCount() const { return static_cast<int>(FRecords.size()); }

    bool IsEmpty() const { return FRecords.empty(); }

    // Editing.

    /// Starts editing the current record (an empty data set inserts instead): the links hear
    /// EditingChanged and RecordChanged without a field.
    void Edit();
    /// Starts a new record before the current one: EditingChanged, then DataSetChanged.
    void Insert();
    /// Starts a new record after the last one.
    void Append();
    /// Asks the links to store their data (UpdateData), writes the record to the store, then
    /// EditingChanged and DataSetChanged. Raises EDatabaseError outside an edit state.
    void Post();
    /// Discards the edit: EditingChanged and DataSetChanged; nothing when browsing.
    void Cancel();
    /// Deletes the current record from the store (a new record is cancelled instead).
    void Delete();
    /// Tells the links the browse mode is wanted, then posts a modified edit, else cancels it.
    void CheckBrowseMode();
    /// Asks the links to store their data in the edit buffer (UpdateData).
    void UpdateRecord();
    /// Reads the records again from the store, keeping the position where possible.
    void Refresh();

    // Fields.

    TFields& Fields() { return FFields; }

    const TFields& Fields() const { return FFields; }

    int FieldCount() const { return FFields.Count(); }

    /// The field called AName (ignoring case), nullptr for none.
    TField* FindField(const std::string& AName) const { return FFields.FindField(AName); }

    /// The field called AName; raises EDatabaseError "Field '<AName>' not found".
    TField* FieldByName(const std::string& AName) const;

    // Notifications.

    /// Holds notifications to the data sources back until the matching EnableControls, which
    /// then sends one state change (if the state changed) and one DataSetChanged. Nests.
    void DisableControls();
    void EnableControls();

    bool ControlsDisabled() const { return FDisableCount > 0; }

    /// Announces AEvent to the data sources (unless controls are disabled); AInfo carries the
    /// field (deFieldChange, as a pointer) or the scroll distance (deDataSetScroll).
    void DataEvent(TDataEvent AEvent, std::intptr_t AInfo);

    /// The data sources attached to this data set, in attachment order.
    const std::vector<TDataSource*>& DataSources() const { return FDataSources; }

    // Events, each (DataSet).

    TDataSetNotifyEvent BeforeOpen() const { return FBeforeOpen; }

    void SetBeforeOpen(TDataSetNotifyEvent AValue) { FBeforeOpen = std::move(AValue); }

    TDataSetNotifyEvent AfterOpen() const { return FAfterOpen; }

    void SetAfterOpen(TDataSetNotifyEvent AValue) { FAfterOpen = std::move(AValue); }

    TDataSetNotifyEvent BeforeClose() const { return FBeforeClose; }

    void SetBeforeClose(TDataSetNotifyEvent AValue) { FBeforeClose = std::move(AValue); }

    TDataSetNotifyEvent AfterClose() const { return FAfterClose; }

    void SetAfterClose(TDataSetNotifyEvent AValue) { FAfterClose = std::move(AValue); }

    TDataSetNotifyEvent BeforeInsert() const { return FBeforeInsert; }

    void SetBeforeInsert(TDataSetNotifyEvent AValue) { FBeforeInsert = std::move(AValue); }

    TDataSetNotifyEvent AfterInsert() const { return FAfterInsert; }

    void SetAfterInsert(TDataSetNotifyEvent AValue) { FAfterInsert = std::move(AValue); }

    TDataSetNotifyEvent BeforeEdit() const { return FBeforeEdit; }

    void SetBeforeEdit(TDataSetNotifyEvent AValue) { FBeforeEdit = std::move(AValue); }

    TDataSetNotifyEvent AfterEdit() const { return FAfterEdit; }

    void SetAfterEdit(TDataSetNotifyEvent AValue) { FAfterEdit = std::move(AValue); }

    TDataSetNotifyEvent BeforePost() const { return FBeforePost; }

    void SetBeforePost(TDataSetNotifyEvent AValue) { FBeforePost = std::move(AValue); }

    TDataSetNotifyEvent AfterPost() const { return FAfterPost; }

    void SetAfterPost(TDataSetNotifyEvent AValue) { FAfterPost = std::move(AValue); }

    TDataSetNotifyEvent BeforeCancel() const { return FBeforeCancel; }

    void SetBeforeCancel(TDataSetNotifyEvent AValue) { FBeforeCancel = std::move(AValue); }

    TDataSetNotifyEvent AfterCancel() const { return FAfterCancel; }

    void SetAfterCancel(TDataSetNotifyEvent AValue) { FAfterCancel = std::move(AValue); }

    TDataSetNotifyEvent BeforeDelete() const { return FBeforeDelete; }

    void SetBeforeDelete(TDataSetNotifyEvent AValue) { FBeforeDelete = std::move(AValue); }

    TDataSetNotifyEvent AfterDelete() const { return FAfterDelete; }

    void SetAfterDelete(TDataSetNotifyEvent AValue) { FAfterDelete = std::move(AValue); }

    TDataSetNotifyEvent BeforeScroll() const { return FBeforeScroll; }

    void SetBeforeScroll(TDataSetNotifyEvent AValue) { FBeforeScroll = std::move(AValue); }

    TDataSetNotifyEvent AfterScroll() const { return FAfterScroll; }

    void SetAfterScroll(TDataSetNotifyEvent AValue) { FAfterScroll = std::move(AValue); }

    /// Called on a new record once it is in dsInsert, to set default values.
    TDataSetNotifyEvent OnNewRecord() const { return FOnNewRecord; }

    void SetOnNewRecord(TDataSetNotifyEvent AValue) { FOnNewRecord = std::move(AValue); }

    /// Opens the data set when the stored form said Active = True.
    void Loaded() override;

protected:
    /// Reads the store: defines the fields (AddField) and the records (AddRecord). Raising
    /// leaves the data set closed.
    virtual void InternalOpen() = 0;

    /// Releases what InternalOpen took; the records and fields are dropped afterwards.
    virtual void InternalClose() {}

    /// Writes ARecord to the store: a new record when AOld is nullptr (the store may then set
    /// ARecord's key and values to what it made of them), else the edit of AOld (ARecord is
    /// then left as it is). Raising refuses the record.
    virtual void InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) = 0;
    /// Removes ARecord from the store; raising keeps it.
    virtual void InternalDelete(const TDataRecord& ARecord) = 0;

    /// Reads the records again; the default keeps the ones in memory.
    virtual void InternalRefresh() {}

    virtual bool GetCanModify() const { return true; }

    /// Appends a field of AType named AName (for InternalOpen).
    TField* AddField(const std::string& AName, TFieldType AType, int ASize = 0);

    /// Appends a stored record (for InternalOpen and InternalRefresh).
    void AddRecord(TDataRecord ARecord) { FRecords.push_back(std::move(ARecord)); }

    /// Drops every stored record (for InternalRefresh).
    void ClearRecords() { FRecords.clear(); }

    /// The records read at Open with every change posted since.
    const std::vector<TDataRecord>& CurrentRecords() const { return FRecords; }

    /// Goes inactive without the Before/After events and releases the store, for the
    /// destructors of concrete classes (the owner's handlers may be gone by then).
    void CloseForDestroy();

    [[noreturn]] void Error(const std::string& AMessage) const { DatabaseError(AMessage, this); }

private:
    friend class TField;
    friend class TDataSource;

    void SetState(TDataSetState AValue);
    void CheckActive() const;
    void BeginInsertAppend(bool AAppend);
    void ClearFields();
    const Variant& FieldValue(const TField* AField) const;
    const Variant& FieldOldValue(const TField* AField) const;
    void SetFieldValue(TField* AField, const Variant& AValue);
    void AddDataSource(TDataSource* ASource);
    void RemoveDataSource(TDataSource* ASource);
    static void Fire(const TDataSetNotifyEvent& AEvent, TDataSet* ASender);

    TDataSetState FState = dsInactive;
    bool FModified = false;
    bool FBof = true;
    bool FEof = true;
    bool FStreamedActive = false;
    int FDisableCount = 0;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;
    std::vector<TDataRecord> FRecords;
    int FCurrent = -1;   // index of the current record, -1 when empty
    int FInsertAt = -1;  // where a new record goes on Post
    TDataRecord FBuffer; // the record being edited or inserted (read only in edit states)
    TDataRecord FOld;    // the record as Edit found it (read only in dsEdit)
    std::vector<std::unique_ptr<TField>> FOwnedFields;
    TFields FFields;
    std::vector<TDataSource*> FDataSources;

    TDataSetNotifyEvent FBeforeOpen, FAfterOpen, FBeforeClose, FAfterClose;
    TDataSetNotifyEvent FBeforeInsert, FAfterInsert, FBeforeEdit, FAfterEdit;
    TDataSetNotifyEvent FBeforePost, FAfterPost, FBeforeCancel, FAfterCancel;
    TDataSetNotifyEvent FBeforeDelete, FAfterDelete, FBeforeScroll, FAfterScroll;
    TDataSetNotifyEvent FOnNewRecord;
};

// ---- Data sources and links -----------------------------------------------------------------

/// Connects a data set to data links. Its State follows the data set's (dsInactive while
/// disabled or without data set); a change of state goes to every link, then OnStateChange,
/// and coming from dsInactive also OnDataChange without field. Other events reach the links
/// only while the source is not inactive: links that are not visual controls first.
class TDataSource : public TComponent {
    JEX_CLASS(TDataSource)

public:
    explicit TDataSource(TComponent* AOwner);

    /// Leaves the data set and detaches every link (each then sees itself go inactive).
    ~TDataSource() override;

    TDataSet* DataSet() const { return FDataSet; }

    void SetDataSet(TDataSet* AValue);

    bool Enabled() const { return FEnabled; }

    void SetEnabled(bool AValue);

    /// Whether Edit() of a link puts a browsing data set into dsEdit.
    bool AutoEdit() const { return FAutoEdit; }

    void SetAutoEdit(bool AValue) { FAutoEdit = AValue; }

    TDataSetState State() const { return FState; }

    /// Puts the data set into dsEdit when AutoEdit is set and it is browsing.
    void Edit();

    /// The links attached to this source, in attachment order.
    const std::vector<TDataLink*>& DataLinks() const { return FDataLinks; }

    TNotifyEvent OnStateChange() const { return FOnStateChange; }

    void SetOnStateChange(TNotifyEvent AValue) { FOnStateChange = std::move(AValue); }

    TDataChangeEvent OnDataChange() const { return FOnDataChange; }

    void SetOnDataChange(TDataChangeEvent AValue) { FOnDataChange = std::move(AValue); }

    TNotifyEvent OnUpdateData() const { return FOnUpdateData; }

    void SetOnUpdateData(TNotifyEvent AValue) { FOnUpdateData = std::move(AValue); }

private:
    friend class TDataSet;
    friend class TDataLink;

    void DataEvent(TDataEvent AEvent, std::intptr_t AInfo);
    void NotifyDataLinks(TDataEvent AEvent, std::intptr_t AInfo);
    void NotifyDataLinks(bool AVisual, TDataEvent AEvent, std::intptr_t AInfo);
    void AddDataLink(TDataLink* ALink);
    void RemoveDataLink(TDataLink* ALink);

    TDataSet* FDataSet = nullptr;
    bool FEnabled = true;
    bool FAutoEdit = true;
    TDataSetState FState = dsInactive;
    std::vector<TDataLink*> FDataLinks;
    TNotifyEvent FOnStateChange;
    TDataChangeEvent FOnDataChange;
    TNotifyEvent FOnUpdateData;
};

/// Watches a data set through a data source. The notifications arrive as calls of the virtual
/// methods below; by default LayoutChanged and DataSetScrolled call DataSetChanged, which
/// calls RecordChanged(nullptr); the others do nothing. Only state changes reach a link that
/// is not Active. While the link is inside its own UpdateData, RecordChanged is held back.
class TDataLink : public TPersistent {
public:
    TDataLink();

    /// Leaves the data source.
    ~TDataLink() override;

    TDataSource* DataSource() const { return FDataSource; }

    /// Leaves the old source and joins AValue; each side updates Active and Editing, so the
    /// link hears ActiveChanged when joining or leaving a source whose data set is open.
    void SetDataSource(TDataSource* AValue);

    /// The data set of the source; nullptr without one.
    TDataSet* DataSet() const;

    /// True while the source's state is not dsInactive.
    bool Active() const { return FActive; }

    /// True while the data set is in an edit state and the link is not read-only.
    bool Editing() const { return FEditing; }

    bool ReadOnly() const { return FReadOnly; }

    void SetReadOnly(bool AValue);

    /// Visual-control links hear every event after the other links of their source.
    bool VisualControl() const { return FVisualControl; }

    void SetVisualControl(bool AValue) { FVisualControl = AValue; }

    /// Asks the source to start editing (unless read-only); returns Editing.
    bool Edit();

    /// Calls UpdateData, holding back RecordChanged meanwhile.
    void UpdateRecord();

    /// The number of records the link shows at once.
    int BufferCount() const { return 1; }

protected:
    virtual void ActiveChanged() {}

    virtual void CheckBrowseMode() {}

    virtual void DataSetChanged() { RecordChanged(nullptr); }

    /// ADistance: how many records the cursor moved (signed, 0 when it could not move).
    virtual void DataSetScrolled(int ADistance);

    virtual void FocusControl(TField** AField) { (void)AField; }

    virtual void EditingChanged() {}

    virtual void LayoutChanged() { DataSetChanged(); }

    /// AField: the field whose value changed, nullptr when the record as a whole changed.
    virtual void RecordChanged(TField* AField) { (void)AField; }

    virtual void UpdateData() {}

    /// Keeps the events whose bits (1 << TDataEvent) are set in AEvents from the handlers
    /// above, for a link whose owner would drop them anyway: the source then passes the link
    /// by at the cost of one test. deUpdateState always gets through, so Active and Editing
    /// (and ActiveChanged, EditingChanged) stay right.
    void SetIgnoredEvents(std::uint32_t AEvents) {
        FIgnoredEvents = AEvents & ~(std::uint32_t{1} << deUpdateState);
    }

private:
    friend class TDataSource;

    bool Ignores(TDataEvent AEvent) const { return ((FIgnoredEvents >> AEvent) & 1u) != 0; }

    void DataEvent(TDataEvent AEvent, std::intptr_t AInfo);
    void UpdateState();

    TDataSource* FDataSource = nullptr;
    bool FActive = false;
    bool FEditing = false;
    bool FReadOnly = false;
    bool FUpdating = false;
    bool FVisualControl = false;
    std::uint32_t FIgnoredEvents = 0;
};

/// Makes the data-access classes known to stored forms (TDataSource, TFieldDef and the
/// concrete data sets register themselves through their units).
void RegisterDBClasses();

} // namespace host
