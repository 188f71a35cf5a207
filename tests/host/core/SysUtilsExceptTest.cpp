// tests/host/core/SysUtilsExceptTest.cpp - the one-paragraph exception description: layout,
// module and offset in the map address model, the period rule and truncation.
#include "host/core/SysUtils.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace host;

namespace {

std::string ExeFileName() {
    const std::string path = platform::PlatformServices().Files->ExecutablePath();
    return path.substr(path.rfind('/') + 1);
}

} // namespace

TEST(SysUtilsExceptTest, ExecutableAddressIsReportedRelativeToTheMapImageBase) {
    EConvertError e("'abc' is not a valid integer value");
    const void* addr = reinterpret_cast<void*>(std::uintptr_t{0x0040A4F3});
    ASSERT_NE(platform::FromMapAddress(0x0040A4F3), 0u) << "test program smaller than expected";
    EXPECT_EQ(ExceptionErrorMessage(&e, addr),
              "Exception EConvertError in module " + ExeFileName() +
                  " at 0000A4F3.\r\n'abc' is not a valid integer value.\r\n");
}

TEST(SysUtilsExceptTest, LibraryAddressNamesTheLibraryWithItsOwnOffset) {
    Exception e("x");
    // An address inside this library's code: the function itself.
    const auto fn = reinterpret_cast<std::uintptr_t>(
        static_cast<std::string (*)(const Exception*, const void*)>(&ExceptionErrorMessage));
    const platform::TModuleInfo module = platform::ModuleOf(fn);
    const std::string text = ExceptionErrorMessage(&e, reinterpret_cast<void*>(fn));
    char offset[16];
    std::snprintf(offset, sizeof offset, "%08lX", static_cast<unsigned long>(fn - module.Base));
    EXPECT_NE(text.find("in module libhostrt.so at " + std::string(offset) + "."),
              std::string::npos)
        << text;
}

TEST(SysUtilsExceptTest, PeriodIsAddedUnlessTheMessageEndsWithOneOrIsEmpty) {
    const void* addr = reinterpret_cast<void*>(std::uintptr_t{0x00401000});
    Exception oops("Oops!");
    Exception done("Done.");
    Exception empty("");
    Exception withNul(std::string("cut\0hidden", 10));
    EXPECT_NE(ExceptionErrorMessage(&oops, addr).find("\r\nOops!.\r\n"), std::string::npos);
    EXPECT_NE(ExceptionErrorMessage(&done, addr).find("\r\nDone.\r\n"), std::string::npos);
    EXPECT_TRUE(ExceptionErrorMessage(&empty, addr).ends_with(".\r\n\r\n"));
    EXPECT_TRUE(ExceptionErrorMessage(&withNul, addr).ends_with("\r\ncut.\r\n"));
}

TEST(SysUtilsExceptTest, BufferFormTruncatesToSizeAndReturnsTheLength) {
    Exception e("message");
    const void* addr = reinterpret_cast<void*>(std::uintptr_t{0x00401000});
    const std::string full = ExceptionErrorMessage(&e, addr);
    char buffer[21];
    EXPECT_EQ(ExceptionErrorMessage(&e, addr, buffer, 20), 20);
    EXPECT_EQ(std::string(buffer), full.substr(0, 20));
    char big[512];
    EXPECT_EQ(ExceptionErrorMessage(&e, addr, big, 500), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(big), full);
    EXPECT_EQ(ExceptionErrorMessage(&e, addr, nullptr, 10), 0);
}

TEST(SysUtilsExceptTest, ConsoleShowExceptionWritesTheDescriptionToStandardError) {
    EConvertError e("bad");
    testing::internal::CaptureStderr();
    ShowException(&e, reinterpret_cast<void*>(std::uintptr_t{0x00401010}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "Exception EConvertError in module " + ExeFileName() + " at 00001010.\r\nbad.\r\n");
}
