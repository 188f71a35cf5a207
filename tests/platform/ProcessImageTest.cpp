// tests/platform/ProcessImageTest.cpp - the running program's own code: the map address model
// both ways, the module of an address, function ranges, standard-library code instantiated into
// the program, and the main thread.
#include "platform/ProcessImage.h"

#include "platform/File.h"
#include "platform/PlatformServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

[[gnu::noinline]] int OwnFunction(int AValue) {
    asm volatile("");
    return AValue + 1;
}

std::uintptr_t AddressOf(const void* AFunction) {
    return reinterpret_cast<std::uintptr_t>(AFunction);
}

constexpr std::uintptr_t MapBase = 0x00401000;

} // namespace

TEST(ProcessImageTest, TheProgramsCodeMapsToTheMapModelAndBack) {
    const std::uintptr_t own = AddressOf(reinterpret_cast<const void*>(&OwnFunction));
    ASSERT_TRUE(InMainExecutable(own));
    const std::uintptr_t mapped = ToMapAddress(own);
    EXPECT_GE(mapped, MapBase);
    EXPECT_EQ(FromMapAddress(mapped), own);
    // Below the model's base, or past the program's code, is no address of the program.
    EXPECT_EQ(FromMapAddress(MapBase - 1), 0u);
    EXPECT_EQ(FromMapAddress(0), 0u);
    const TMainImage& image = MainImage();
    EXPECT_EQ(FromMapAddress(MapBase + (image.ExecEnd - image.TextStart)), 0u);
    // Code of a library is reported as it is.
    const std::uintptr_t library = AddressOf(reinterpret_cast<const void*>(&::getpid));
    EXPECT_FALSE(InMainExecutable(library));
    EXPECT_EQ(ToMapAddress(library), library);
}

TEST(ProcessImageTest, AnAddressIsNamedByTheModuleItLiesIn) {
    const TModuleInfo own = ModuleOf(AddressOf(reinterpret_cast<const void*>(&OwnFunction)));
    EXPECT_EQ(own.Path, PlatformServices().Files->ExecutablePath());
    EXPECT_NE(own.Base, 0u);
    const TModuleInfo libc = ModuleOf(AddressOf(reinterpret_cast<const void*>(&::getpid)));
    EXPECT_NE(libc.Path.find("libc"), std::string::npos) << libc.Path;
    EXPECT_NE(libc.Base, own.Base);
    // Nothing is loaded at the first page.
    const TModuleInfo none = ModuleOf(16);
    EXPECT_EQ(none.Path, "");
    EXPECT_EQ(none.Base, 0u);
}

TEST(ProcessImageTest, FunctionRangesAndStandardLibraryCodeComeFromTheSymbolTable) {
    const std::uintptr_t own = AddressOf(reinterpret_cast<const void*>(&OwnFunction));
    const TAddressRange range = FunctionRangeOf(own + 1);
    EXPECT_EQ(range.Begin, own);
    EXPECT_GT(range.End, own);
    const TAddressRange outside =
        FunctionRangeOf(AddressOf(reinterpret_cast<const void*>(&::getpid)));
    EXPECT_EQ(outside.Begin, 0u);
    EXPECT_EQ(outside.End, 0u);
    // A standard template instantiated into this program is library code all the same.
    const int& (*larger)(const int&, const int&) = &std::max<int>;
    EXPECT_TRUE(InStandardLibraryCode(AddressOf(reinterpret_cast<const void*>(larger))));
    EXPECT_FALSE(InStandardLibraryCode(own));
    EXPECT_FALSE(InStandardLibraryCode(0));
}

TEST(ProcessImageTest, OnlyTheThreadThatStartedTheProgramIsTheMainThread) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(CurrentThreadId(), static_cast<std::uint64_t>(getpid()));
    bool workerIsMain = true;
    std::uint64_t workerId = 0;
    std::thread([&] {
        workerIsMain = IsMainThread();
        workerId = CurrentThreadId();
    }).join();
    EXPECT_FALSE(workerIsMain);
    EXPECT_NE(workerId, CurrentThreadId());
}
