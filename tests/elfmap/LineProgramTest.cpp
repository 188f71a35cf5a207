// tests/elfmap/LineProgramTest.cpp - the line-number program decoder on hand-assembled tables:
// every opcode kind, the header forms of DWARF 2 to 5, both byte orders, and damaged tables.
#include "elfmap/LineProgram.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace elfmap;

namespace {

// Assembles one line-number table: header fields, then the program.
class TTableBuilder {
public:
    TTableBuilder(int AVersion, bool ADwarf64 = false, bool ABigEndian = false)
        : FVersion(AVersion)
        , FDwarf64(ADwarf64)
        , FBigEndian(ABigEndian) {}

    TTableBuilder& Op(std::initializer_list<std::uint8_t> ABytes) {
        FProgram.insert(FProgram.end(), ABytes);
        return *this;
    }

    TTableBuilder& SetAddress(std::uint64_t AAddress) {
        Op({0, 9, 2});
        Put(FProgram, AAddress, 8);
        return *this;
    }

    TTableBuilder& Uleb(std::uint64_t AValue) {
        do {
            std::uint8_t byte = AValue & 0x7F;
            AValue >>= 7;
            if (AValue != 0)
                byte |= 0x80;
            FProgram.push_back(byte);
        } while (AValue != 0);
        return *this;
    }

    TTableBuilder& Sleb(std::int64_t AValue) {
        for (bool more = true; more;) {
            std::uint8_t byte = AValue & 0x7F;
            AValue >>= 7;
            more = !((AValue == 0 && (byte & 0x40) == 0) || (AValue == -1 && (byte & 0x40) != 0));
            FProgram.push_back(more ? byte | 0x80 : byte);
        }
        return *this;
    }

    TTableBuilder& EndSequence() { return Op({0, 1, 1}); }

    TTableBuilder& FixedAdvancePc(std::uint16_t ADelta) {
        Op({9});
        Put(FProgram, ADelta, 2);
        return *this;
    }

    std::vector<std::uint8_t> Build(std::size_t APadding = 0) const {
        std::vector<std::uint8_t> header;
        if (FVersion >= 5)
            header.insert(header.end(), {8, 0}); // address size, segment selector size
        std::vector<std::uint8_t> fields{1};     // minimum_instruction_length
        if (FVersion >= 4)
            fields.push_back(1); // maximum_operations_per_instruction
        fields.insert(fields.end(), {1, static_cast<std::uint8_t>(LineBase), LineRange, 13});
        fields.insert(fields.end(), {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1}); // standard lengths
        fields.insert(fields.end(), {0, 0}); // empty tables (their form does not matter here)

        std::vector<std::uint8_t> afterLength;
        Put(afterLength, static_cast<std::uint64_t>(FVersion), 2);
        afterLength.insert(afterLength.end(), header.begin(), header.end());
        Put(afterLength, fields.size(), FDwarf64 ? 8 : 4);
        afterLength.insert(afterLength.end(), fields.begin(), fields.end());
        afterLength.insert(afterLength.end(), FProgram.begin(), FProgram.end());

        std::vector<std::uint8_t> table(APadding, 0xEE);
        if (FDwarf64) {
            Put(table, 0xFFFFFFFFu, 4);
            Put(table, afterLength.size(), 8);
        } else {
            Put(table, afterLength.size(), 4);
        }
        table.insert(table.end(), afterLength.begin(), afterLength.end());
        return table;
    }

    static constexpr int LineBase = -5;
    static constexpr std::uint8_t LineRange = 14;

    /// The special opcode that advances the address by AAddress and the line by ALine.
    static std::uint8_t Special(unsigned AAddress, int ALine) {
        return static_cast<std::uint8_t>((ALine - LineBase) + LineRange * AAddress + 13);
    }

private:
    void Put(std::vector<std::uint8_t>& AOut, std::uint64_t AValue, std::size_t ASize) const {
        for (std::size_t i = 0; i < ASize; ++i) {
            const std::size_t shift = 8 * (FBigEndian ? ASize - 1 - i : i);
            AOut.push_back(static_cast<std::uint8_t>(AValue >> shift));
        }
    }

    int FVersion;
    bool FDwarf64;
    bool FBigEndian;
    std::vector<std::uint8_t> FProgram;
};

// A program touching every opcode that moves the state, with its expected rows.
TTableBuilder& TypicalProgram(TTableBuilder& ABuilder) {
    return ABuilder.SetAddress(0x401000)
        .Op({1})                               // copy: 0x401000 line 1
        .Op({TTableBuilder::Special(4, 2)})    // 0x401004 line 3
        .Op({3})                               // advance_line
        .Sleb(-2)                              // line 1
        .Op({2})                               // advance_pc
        .Uleb(300)                             // 0x401130
        .Op({1})                               // 0x401130 line 1
        .Op({8})                               // const_add_pc: (255-13)/14 = 17
        .FixedAdvancePc(16)                    // 0x401151
        .Op({4, 2, 5, 7, 6, 7, 10, 11, 12, 1}) // file, column, stmt, block, isa: no rows
        .Op({0, 2, 4, 9})                      // set_discriminator: skipped
        .Op({0, 3, 0x80, 0xAA, 0xBB})          // unknown extended opcode: skipped
        .Op({3})
        .Sleb(40)
        .Op({1}) // 0x401151 line 41
        .Op({2})
        .Uleb(15)
        .EndSequence() // 0x401160, end
        .SetAddress(0x402000)
        .Op({TTableBuilder::Special(2, 8)}) // after a reset: 0x402002 line 9
        .EndSequence();
}

const std::vector<TLineRow>& TypicalRows() {
    static const std::vector<TLineRow> rows = {
        {0x401000, 1, false}, {0x401004, 3, false}, {0x401130, 1, false}, {0x401151, 41, false},
        {0x401160, 41, true}, {0x402002, 9, false}, {0x402002, 9, true},
    };
    return rows;
}

void ExpectRows(const std::vector<TLineRow>& AActual, const std::vector<TLineRow>& AExpected) {
    ASSERT_EQ(AActual.size(), AExpected.size());
    for (std::size_t i = 0; i < AActual.size(); ++i) {
        EXPECT_EQ(AActual[i].Address, AExpected[i].Address) << "row " << i;
        EXPECT_EQ(AActual[i].Line, AExpected[i].Line) << "row " << i;
        EXPECT_EQ(AActual[i].EndSequence, AExpected[i].EndSequence) << "row " << i;
    }
}

} // namespace

TEST(DecodeLineProgramTest, RunsEveryOpcodeKindInEveryHeaderForm) {
    struct TForm {
        int Version;
        bool Dwarf64;
        bool BigEndian;
    };

    for (const TForm form : {TForm{2, false, false}, TForm{3, false, false}, TForm{4, false, false},
                             TForm{5, false, false}, TForm{5, true, false}, TForm{4, false, true},
                             TForm{5, true, true}}) {
        TTableBuilder builder(form.Version, form.Dwarf64, form.BigEndian);
        const std::vector<std::uint8_t> section = TypicalProgram(builder).Build(7);
        std::vector<TLineRow> rows;
        EXPECT_TRUE(DecodeLineProgram(section, 7, form.BigEndian, rows))
            << "version " << form.Version;
        ExpectRows(rows, TypicalRows());
    }
}

TEST(DecodeLineProgramTest, RefusesDamagedTablesWithoutReadingPastThem) {
    TTableBuilder builder(4);
    const std::vector<std::uint8_t> whole = TypicalProgram(builder).Build();
    std::vector<TLineRow> rows;
    // Cut anywhere: the length no longer fits, so nothing is decoded.
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
        rows.clear();
        EXPECT_FALSE(DecodeLineProgram(cut, 0, false, rows)) << "cut at " << size;
    }
    rows.clear();
    EXPECT_FALSE(DecodeLineProgram(whole, whole.size(), false, rows)); // offset past the end

    std::vector<std::uint8_t> badVersion = whole;
    badVersion[4] = 6;
    EXPECT_FALSE(DecodeLineProgram(badVersion, 0, false, rows));

    // A program that stops inside an operand, inside the unit's own length.
    TTableBuilder dangling(4);
    dangling.SetAddress(0x1000).Op({1, 2, 0x80});
    rows.clear();
    EXPECT_FALSE(DecodeLineProgram(dangling.Build(), 0, false, rows));
    ASSERT_EQ(rows.size(), 1u); // the row before the damage
    EXPECT_EQ(rows[0].Address, 0x1000u);

    // An extended opcode claiming more bytes than the unit has.
    TTableBuilder overlong(4);
    overlong.SetAddress(0x1000).Op({0, 0x7F, 3});
    EXPECT_FALSE(DecodeLineProgram(overlong.Build(), 0, false, rows));
}

TEST(DecodeLineProgramTest, LineAdvancesBeyondEveryIntegerWrapInsteadOfOverflowing) {
    // Found by fuzzing: two advance_line operands near the largest 64-bit value.
    TTableBuilder builder(4);
    builder.SetAddress(0x1000).Op({3}).Sleb(INT64_MAX - 536870958).Op({3}).Sleb(INT64_MAX);
    builder.Op({1}).Op({3}).Sleb(INT64_MIN).Op({TTableBuilder::Special(1, -5)}).EndSequence();
    std::vector<TLineRow> rows;
    ASSERT_TRUE(DecodeLineProgram(builder.Build(), 0, false, rows));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].Address, 0x1001u);
    EXPECT_TRUE(rows[2].EndSequence);
}

TEST(DecodeLineProgramTest, ReadsOnlyItsOwnUnit) {
    TTableBuilder first(4);
    first.SetAddress(0x1000).Op({1}).EndSequence();
    TTableBuilder second(4);
    second.SetAddress(0x9000).Op({1}).EndSequence();
    std::vector<std::uint8_t> section = first.Build();
    const std::size_t secondOffset = section.size();
    const std::vector<std::uint8_t> tail = second.Build();
    section.insert(section.end(), tail.begin(), tail.end());

    std::vector<TLineRow> rows;
    ASSERT_TRUE(DecodeLineProgram(section, 0, false, rows));
    ExpectRows(rows, {{0x1000, 1, false}, {0x1000, 1, true}});
    rows.clear();
    ASSERT_TRUE(DecodeLineProgram(section, secondOffset, false, rows));
    ExpectRows(rows, {{0x9000, 1, false}, {0x9000, 1, true}});
}
