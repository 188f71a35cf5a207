// elfmap/LineProgram.cpp - the DWARF line-number state machine, rows reduced to what the map
// needs.
#include "elfmap/LineProgram.h"

#include <cstddef>

namespace elfmap {

namespace {

// Standard opcodes (DWARF 5, section 6.2.5.2) and the extended ones that matter here.
enum : std::uint8_t {
    lnsCopy = 1,
    lnsAdvancePc = 2,
    lnsAdvanceLine = 3,
    lnsConstAddPc = 8,
    lnsFixedAdvancePc = 9,
};

enum : std::uint8_t {
    lneEndSequence = 1,
    lneSetAddress = 2,
};

/// Reads values of the file's byte order inside [position, end); a read past the end yields 0
/// and marks the cursor failed, so callers check once after a group of reads.
class TCursor {
public:
    TCursor(std::span<const std::uint8_t> AData, std::size_t APosition, std::size_t AEnd,
            bool ABigEndian)
        : FData(AData)
        , FPosition(APosition)
        , FEnd(AEnd)
        , FBigEndian(ABigEndian) {}

    bool Ok() const { return FOk; }

    bool AtEnd() const { return FPosition >= FEnd; }

    std::size_t Position() const { return FPosition; }

    std::uint64_t Fixed(std::size_t ASize) {
        if (ASize > FEnd - FPosition) {
            Fail();
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < ASize; ++i) {
            const std::size_t at = FBigEndian ? FPosition + i : FPosition + ASize - 1 - i;
            value = value << 8 | FData[at];
        }
        FPosition += ASize;
        return value;
    }

    std::uint8_t U8() { return static_cast<std::uint8_t>(Fixed(1)); }

    std::uint64_t Uleb() { return Leb128(false); }

    std::int64_t Sleb() { return static_cast<std::int64_t>(Leb128(true)); }

    /// Moves to APosition, which must lie inside the cursor's range.
    void MoveTo(std::size_t APosition) {
        if (APosition > FEnd)
            Fail();
        else
            FPosition = APosition;
    }

private:
    /// A LEB128 number; a signed one is sign-extended from its last byte's bit 6.
    std::uint64_t Leb128(bool ASigned) {
        std::uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            if (FPosition >= FEnd) {
                Fail();
                return 0;
            }
            const std::uint8_t byte = FData[FPosition++];
            if (shift < 64)
                value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                if (ASigned && shift + 7 < 64 && (byte & 0x40) != 0)
                    value |= ~std::uint64_t{0} << (shift + 7);
                return value;
            }
        }
    }

    void Fail() {
        FOk = false;
        FPosition = FEnd;
    }

    std::span<const std::uint8_t> FData;
    std::size_t FPosition;
    std::size_t FEnd;
    bool FBigEndian;
    bool FOk = true;
};

struct THeader {
    std::size_t ProgramStart = 0;
    std::size_t UnitEnd = 0;
    std::uint8_t MinimumInstructionLength = 1;
    std::uint8_t MaximumOperations = 1;
    int LineBase = 0;
    std::uint8_t LineRange = 1;
    std::uint8_t OpcodeBase = 1;
    std::span<const std::uint8_t> StandardOpcodeLengths;
};

bool ReadHeader(std::span<const std::uint8_t> ASection, std::size_t AOffset, bool ABigEndian,
                THeader& AHeader) {
    TCursor cursor(ASection, AOffset, ASection.size(), ABigEndian);
    std::uint64_t length = cursor.Fixed(4);
    const bool dwarf64 = length == 0xFFFFFFFFu;
    if (dwarf64)
        length = cursor.Fixed(8);
    else if (length >= 0xFFFFFFF0u)
        return false; // reserved
    if (!cursor.Ok() || length > ASection.size() - cursor.Position())
        return false;
    AHeader.UnitEnd = cursor.Position() + static_cast<std::size_t>(length);
    TCursor header(ASection, cursor.Position(), AHeader.UnitEnd, ABigEndian);

    const auto version = static_cast<std::uint16_t>(header.Fixed(2));
    if (version < 2 || version > 5)
        return false;
    if (version >= 5) {
        header.U8(); // address size: DW_LNE_set_address carries its own
        header.U8(); // segment selector size
    }
    const std::uint64_t headerLength = header.Fixed(dwarf64 ? 8 : 4);
    if (!header.Ok() || headerLength > AHeader.UnitEnd - header.Position())
        return false;
    AHeader.ProgramStart = header.Position() + static_cast<std::size_t>(headerLength);
    AHeader.MinimumInstructionLength = header.U8();
    if (version >= 4)
        AHeader.MaximumOperations = header.U8();
    header.U8(); // default_is_stmt: every row counts here
    AHeader.LineBase = static_cast<std::int8_t>(header.U8());
    AHeader.LineRange = header.U8();
    AHeader.OpcodeBase = header.U8();
    if (!header.Ok() || AHeader.LineRange == 0 || AHeader.OpcodeBase == 0)
        return false;
    const std::size_t lengths = AHeader.OpcodeBase - 1u;
    if (header.Position() + lengths > AHeader.ProgramStart)
        return false;
    AHeader.StandardOpcodeLengths = ASection.subspan(header.Position(), lengths);
    // Producers that knew no VLIW wrote 0 here; it means one operation per instruction.
    if (AHeader.MaximumOperations == 0)
        AHeader.MaximumOperations = 1;
    return true;
}

} // namespace

bool DecodeLineProgram(std::span<const std::uint8_t> ASection, std::uint64_t AOffset,
                       bool ABigEndian, std::vector<TLineRow>& ARows) {
    THeader h;
    if (AOffset >= ASection.size() ||
        !ReadHeader(ASection, static_cast<std::size_t>(AOffset), ABigEndian, h))
        return false;

    // Every row takes at least one byte of the program: room for all of them at once spares
    // the copies of a growing vector (pages reserved but never written cost nothing).
    ARows.reserve(ARows.size() + (h.UnitEnd - h.ProgramStart));
    TCursor program(ASection, h.ProgramStart, h.UnitEnd, ABigEndian);
    std::uint64_t address = 0;
    std::uint64_t opIndex = 0;
    std::uint64_t line = 1; // an unsigned register: a damaged program wraps it, never overflows
    const auto advance = [&](std::uint64_t AOperations) {
        if (h.MaximumOperations == 1) {
            address += h.MinimumInstructionLength * AOperations;
            return;
        }
        address += h.MinimumInstructionLength * ((opIndex + AOperations) / h.MaximumOperations);
        opIndex = (opIndex + AOperations) % h.MaximumOperations;
    };
    const auto emit = [&](bool AEnd) { ARows.push_back({address, static_cast<int>(line), AEnd}); };

    while (!program.AtEnd()) {
        const std::uint8_t opcode = program.U8();
        if (opcode >= h.OpcodeBase) {
            const unsigned adjusted = opcode - h.OpcodeBase;
            advance(adjusted / h.LineRange);
            line += h.LineBase + static_cast<int>(adjusted % h.LineRange);
            emit(false);
            continue;
        }
        if (opcode == 0) {
            const std::uint64_t length = program.Uleb();
            if (length == 0)
                continue;
            const std::size_t start = program.Position();
            if (!program.Ok() || length > h.UnitEnd - start)
                return false;
            const std::uint8_t extended = program.U8();
            if (extended == lneEndSequence) {
                emit(true);
                address = 0;
                opIndex = 0;
                line = 1;
            } else if (extended == lneSetAddress) {
                const std::uint64_t size = length - 1;
                if (size == 0 || size > 8)
                    return false;
                address = program.Fixed(static_cast<std::size_t>(size));
                opIndex = 0;
            }
            program.MoveTo(start + static_cast<std::size_t>(length));
            continue;
        }
        switch (opcode) {
        case lnsCopy:
            emit(false);
            break;
        case lnsAdvancePc:
            advance(program.Uleb());
            break;
        case lnsAdvanceLine:
            line += program.Sleb();
            break;
        case lnsConstAddPc:
            advance((255u - h.OpcodeBase) / h.LineRange);
            break;
        case lnsFixedAdvancePc:
            address += program.Fixed(2);
            opIndex = 0;
            break;
        default:
            // Every other standard opcode only carries LEB128 operands, as many as the header
            // says (set_file, set_column, set_isa, and the operand-less ones).
            for (std::uint8_t i = 0; i < h.StandardOpcodeLengths[opcode - 1u]; ++i)
                program.Uleb();
        }
        if (!program.Ok())
            return false;
    }
    return program.Ok();
}

} // namespace elfmap
