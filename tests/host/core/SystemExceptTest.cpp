// tests/host/core/SystemExceptTest.cpp - ExceptObject and ExceptAddr for host and foreign
// exceptions thrown by this test program.
#include "host/core/SysUtils.h"
#include "host/core/System.h"
#include "platform/ProcessImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
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
        EXPECT_LT(addr, start + 256);
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
        EXPECT_LT(addr, start + 512);
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
