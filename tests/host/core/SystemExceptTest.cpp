// tests/host/core/SystemExceptTest.cpp - ExceptObject and ExceptAddr for host and foreign
// exceptions thrown by this test program; the description a fatal report reads of the exception
// being handled.
#include "host/core/SystemExcept.h"

#include "host/core/SysUtils.h"
#include "host/core/System.h"
#include "platform/ProcessImage.h"
#include "platform/SignalSafeText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using namespace host;

namespace {

[[gnu::noinline]] void ThrowHostException() {
    throw EConvertError("bad value");
}

[[gnu::noinline]] int ReadPastEnd(const std::vector<int>& AValues) {
    return AValues.at(AValues.size());
}

std::uintptr_t MapAddressOf(const void* AFunction) {
    return platform::ToMapAddress(reinterpret_cast<std::uintptr_t>(AFunction));
}

// The map address one past the end of the function at AFunction (from the symbol table).
std::uintptr_t MapEndOf(const void* AFunction) {
    const platform::TAddressRange range =
        platform::FunctionRangeOf(reinterpret_cast<std::uintptr_t>(AFunction));
    return range.End != 0 ? platform::ToMapAddress(range.End - 1) + 1 : 0;
}

} // namespace

TEST(SystemExceptTest, NothingIsReportedOutsideAHandler) {
    EXPECT_EQ(ExceptObject(), nullptr);
    EXPECT_EQ(ExceptAddr(), nullptr);
}

TEST(SystemExceptTest, HostExceptionIsReportedWithItsThrowSiteInTheMapAddressModel) {
    try {
        ThrowHostException();
    } catch (...) {
        ASSERT_NE(ExceptObject(), nullptr);
        EXPECT_EQ(ExceptObject()->ClassName(), "EConvertError");
        EXPECT_EQ(ExceptObject()->Message(), "bad value");
        const auto addr = reinterpret_cast<std::uintptr_t>(ExceptAddr());
        const std::uintptr_t start =
            MapAddressOf(reinterpret_cast<const void*>(&ThrowHostException));
        EXPECT_GE(addr, start);
        EXPECT_LT(addr, MapEndOf(reinterpret_cast<const void*>(&ThrowHostException)));
        EXPECT_GE(addr, 0x00401000u);
    }
}

TEST(SystemExceptTest, LibraryThrowIsReportedAtTheProgramsCall) {
    const std::vector<int> values{1, 2};
    try {
        ReadPastEnd(values);
    } catch (const std::out_of_range&) {
        Exception* e = ExceptObject();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->ClassName(), "std::out_of_range");
        EXPECT_FALSE(e->Message().empty());
        const auto addr = reinterpret_cast<std::uintptr_t>(ExceptAddr());
        const std::uintptr_t start = MapAddressOf(reinterpret_cast<const void*>(&ReadPastEnd));
        EXPECT_GE(addr, start);
        EXPECT_LT(addr, MapEndOf(reinterpret_cast<const void*>(&ReadPastEnd)));
    }
}

TEST(SystemExceptTest, NestedThrowInsideAHandlerKeepsTheOuterSite) {
    try {
        ThrowHostException();
    } catch (...) {
        void* outer = ExceptAddr();
        try {
            throw std::runtime_error("inner");
        } catch (...) {
            EXPECT_NE(ExceptAddr(), outer);
        }
        EXPECT_EQ(ExceptAddr(), outer);
    }
}

// ---- throw sites inside the throwing function's exact range (from the symbol table) -------

namespace {

[[gnu::noinline]] double ParseBadNumber(const std::string& AText) {
    return StrToFloat(AText) * 2;
}

[[gnu::noinline]] void ThrowRuntimeError() {
    throw std::runtime_error("plain C++");
}

[[noreturn, gnu::noinline]] void RaiseAbortNow() {
    throw EAbort("stop");
}

// The no-return call is this function's last instruction: its return address lies past the
// function's end, so only the address inside the call is attributed to it.
[[gnu::noinline]] void EndsWithNoReturnCall(int AValue) {
    if (AValue > 0)
        RaiseAbortNow();
    RaiseAbortNow();
}

// Ends with a call into the C++ library that never returns, so the return address of that
// call is already past this function's end.
[[noreturn, gnu::noinline]] void FailsThroughTheLibraryAsLastInstruction() {
    std::__throw_runtime_error("from the library");
}

// True when the map address AAddr lies inside the function at AFunction.
::testing::AssertionResult InsideFunction(void* AAddr, const void* AFunction) {
    const auto raw = reinterpret_cast<std::uintptr_t>(AFunction);
    const platform::TAddressRange range = platform::FunctionRangeOf(raw);
    if (range.Begin == 0)
        return ::testing::AssertionFailure() << "no symbol table (stripped test program?)";
    const std::uintptr_t begin = platform::ToMapAddress(range.Begin);
    const std::uintptr_t end = platform::ToMapAddress(range.End - 1) + 1;
    const auto addr = reinterpret_cast<std::uintptr_t>(AAddr);
    if (addr >= begin && addr < end)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << std::hex << "0x" << addr << " not in [0x" << begin << ", 0x" << end << ")";
}

} // namespace

TEST(SystemExceptTest, ThrowSitesLieInsideTheThrowingFunctionOfTheExecutable) {
    try {
        ThrowHostException();
    } catch (...) {
        EXPECT_TRUE(
            InsideFunction(ExceptAddr(), reinterpret_cast<const void*>(&ThrowHostException)));
    }
    try {
        ThrowRuntimeError();
    } catch (const std::runtime_error&) {
        EXPECT_EQ(ExceptObject()->ClassName(), "std::runtime_error");
        EXPECT_TRUE(
            InsideFunction(ExceptAddr(), reinterpret_cast<const void*>(&ThrowRuntimeError)));
    }
    const std::vector<int> values{1};
    try {
        ReadPastEnd(values);
    } catch (const std::out_of_range&) {
        EXPECT_TRUE(InsideFunction(ExceptAddr(), reinterpret_cast<const void*>(&ReadPastEnd)));
    }
}

TEST(SystemExceptTest, ConversionErrorIsReportedAtTheProgramsCallIntoTheLibrary) {
    try {
        ParseBadNumber("abc");
        FAIL() << "StrToFloat accepted bad text";
    } catch (const EConvertError&) {
        EXPECT_EQ(ExceptObject()->Message(), "'abc' is not a valid floating point value");
        EXPECT_TRUE(InsideFunction(ExceptAddr(), reinterpret_cast<const void*>(&ParseBadNumber)));
    }
}

TEST(SystemExceptTest, NoReturnCallAsLastInstructionIsAttributedToItsCaller) {
    for (int value : {0, 1}) {
        try {
            EndsWithNoReturnCall(value);
        } catch (const EAbort&) {
            // The innermost frame in the executable is RaiseAbortNow itself.
            EXPECT_TRUE(
                InsideFunction(ExceptAddr(), reinterpret_cast<const void*>(&RaiseAbortNow)));
        }
    }
}

TEST(SystemExceptTest, LibraryNoReturnCallAsLastInstructionIsInsideTheCaller) {
    try {
        FailsThroughTheLibraryAsLastInstruction();
    } catch (const std::runtime_error&) {
        EXPECT_TRUE(InsideFunction(
            ExceptAddr(), reinterpret_cast<const void*>(&FailsThroughTheLibraryAsLastInstruction)));
    }
}

TEST(SystemExceptTest, ForeignExceptionsAtAReusedAddressKeepTheirOwnClass) {
    for (int round = 0; round < 3; ++round) {
        try {
            throw std::runtime_error("a");
        } catch (...) {
            EXPECT_EQ(ExceptObject()->ClassName(), "std::runtime_error");
        }
        try {
            throw std::logic_error("b");
        } catch (...) {
            EXPECT_EQ(ExceptObject()->ClassName(), "std::logic_error");
            EXPECT_EQ(ExceptObject()->Message(), "b");
        }
    }
}

namespace {

struct TDescription {
    bool Described = false;
    std::string ClassName;
    std::string Message;
};

// What the fatal report would write for the exception being handled.
TDescription DescribeNow() {
    char buffer[128];
    platform::TSignalSafeText name(buffer, sizeof buffer);
    const char* message = nullptr;
    TDescription description;
    description.Described = DescribeCurrentException(name, message);
    description.ClassName = std::string(buffer, name.Length());
    description.Message = message != nullptr ? message : "(null)";
    return description;
}

template <typename T>
TDescription DescribeThrown(T AObject) {
    try {
        throw AObject;
    } catch (...) {
        return DescribeNow();
    }
}

struct TPlainObject {
    int Value = 0;
};

} // namespace

TEST(SystemExceptTest, TheDescriptionForAFatalReportNamesTheClassAsAReaderKnowsIt) {
    // A host exception by its own name, however deep its namespace.
    TDescription d = DescribeThrown(EConvertError("bad value"));
    EXPECT_TRUE(d.Described);
    EXPECT_EQ(d.ClassName, "EConvertError");
    EXPECT_EQ(d.Message, "bad value");
    // Standard exceptions by their full C++ name and what().
    d = DescribeThrown(std::runtime_error("disk gone"));
    EXPECT_EQ(d.ClassName, "std::runtime_error");
    EXPECT_EQ(d.Message, "disk gone");
    d = DescribeThrown(std::out_of_range("index 7"));
    EXPECT_EQ(d.ClassName, "std::out_of_range");
    EXPECT_EQ(d.Message, "index 7");
    // An object of the program's own, not derived from std::exception: a name, no message.
    d = DescribeThrown(TPlainObject{});
    EXPECT_TRUE(d.Described);
    EXPECT_NE(d.ClassName.find("TPlainObject"), std::string::npos) << d.ClassName;
    EXPECT_EQ(d.Message, "");
}

TEST(SystemExceptTest, TheDescriptionFallsBackToTheRawTypeNameItCannotSpell) {
    // Neither a template instance nor a built-in type is a plain class name; the report still
    // names something the reader can look up.
    TDescription d = DescribeThrown(42);
    EXPECT_TRUE(d.Described);
    EXPECT_EQ(d.ClassName, typeid(int).name());
    EXPECT_EQ(d.Message, "");
    d = DescribeThrown(std::vector<int>{1});
    EXPECT_EQ(d.ClassName, typeid(std::vector<int>).name());
}

TEST(SystemExceptTest, NothingIsDescribedOutsideAHandler) {
    const TDescription d = DescribeNow();
    EXPECT_FALSE(d.Described);
    EXPECT_EQ(d.ClassName, "");
    EXPECT_EQ(d.Message, "");
}
