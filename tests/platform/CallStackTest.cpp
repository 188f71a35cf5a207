// tests/platform/CallStackTest.cpp - the raw frames taken at a throw, through functions that
// keep no frame-pointer chain.
//
// This file is built with -fomit-frame-pointer (tests/platform/CMakeLists.txt), and the middle
// function of each chain also overwrites %rbp while it calls on: a walk that followed frame
// pointers would lose the frames from there outwards.
#include "platform/CallStack.h"

#include "host/core/SystemExcept.h"
#include "platform/ProcessImage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace {

using TFrames = std::array<std::uintptr_t, 16>;

struct TCapture {
    TFrames Frames{};
    std::size_t Count = 0;
    std::size_t Skip = 0;
    std::size_t Capacity = 16;
};

[[gnu::noinline]] void InnerCapture(TCapture& ACapture) {
    ACapture.Count =
        platform::CaptureCallStack(ACapture.Frames.data(), ACapture.Capacity, ACapture.Skip);
    asm volatile("" ::: "memory");
}

[[gnu::noinline]] void MiddleCapture(TCapture& ACapture) {
    // %rbp holds garbage while the inner function runs.
    asm volatile("mov $0x10, %%rbp" ::: "rbp");
    InnerCapture(ACapture);
    asm volatile("" ::: "memory");
}

[[gnu::noinline]] void OuterCapture(TCapture& ACapture) {
    MiddleCapture(ACapture);
    asm volatile("" ::: "memory");
}

// Throws unconditionally, so that the compiler moves no part of it into a separate cold
// function.
[[gnu::noinline]] void InnerThrow(int AValue) {
    throw std::runtime_error(AValue > 0 ? "deep" : "shallow");
}

[[gnu::noinline]] void MiddleThrow(int AValue) {
    asm volatile("mov $0x10, %%rbp" ::: "rbp");
    InnerThrow(AValue);
    asm volatile("" ::: "memory");
}

[[gnu::noinline]] void OuterThrow(int AValue) {
    MiddleThrow(AValue);
    asm volatile("" ::: "memory");
}

bool InFunction(std::uintptr_t AAddress, const void* AFunction) {
    const platform::TAddressRange range =
        platform::FunctionRangeOf(reinterpret_cast<std::uintptr_t>(AFunction));
    return range.Begin != 0 && AAddress >= range.Begin && AAddress < range.End;
}

#define EXPECT_FRAME_IN(AFrame, AFunction)                                                         \
    EXPECT_TRUE(InFunction(AFrame, reinterpret_cast<const void*>(&AFunction)))                     \
        << "frame 0x" << std::hex << (AFrame) << " is not in " #AFunction

} // namespace

TEST(CallStackTest, EveryCallerIsListedInnermostFirstWithoutFramePointers) {
    TCapture capture;
    OuterCapture(capture);
    ASSERT_GE(capture.Count, 4u);
    EXPECT_FRAME_IN(capture.Frames[0], InnerCapture);
    EXPECT_FRAME_IN(capture.Frames[1], MiddleCapture);
    EXPECT_FRAME_IN(capture.Frames[2], OuterCapture);
    // The walk goes on past the broken chain, out to the test runner.
    EXPECT_GT(capture.Count, 5u);
}

TEST(CallStackTest, SkippedCallersAndTheCapacityCutTheInnerAndOuterEnds) {
    TCapture skipped;
    skipped.Skip = 1;
    OuterCapture(skipped);
    ASSERT_GE(skipped.Count, 2u);
    EXPECT_FRAME_IN(skipped.Frames[0], MiddleCapture);
    EXPECT_FRAME_IN(skipped.Frames[1], OuterCapture);

    TCapture cut;
    cut.Capacity = 2;
    OuterCapture(cut);
    ASSERT_EQ(cut.Count, 2u);
    EXPECT_FRAME_IN(cut.Frames[0], InnerCapture);
    EXPECT_FRAME_IN(cut.Frames[1], MiddleCapture);
    EXPECT_EQ(cut.Frames[2], 0u);

    // Nowhere to put frames, or more callers skipped than there are: nothing is written.
    TCapture none;
    none.Capacity = 0;
    OuterCapture(none);
    EXPECT_EQ(none.Count, 0u);
    EXPECT_EQ(none.Frames[0], 0u);
    EXPECT_EQ(platform::CaptureCallStack(nullptr, 16, 0), 0u);
    for (const std::size_t skip : {std::size_t{100}, std::size_t{100000}}) {
        TCapture past;
        past.Skip = skip;
        OuterCapture(past);
        EXPECT_EQ(past.Count, 0u) << skip;
        EXPECT_EQ(past.Frames[0], 0u) << skip;
    }
}

TEST(CallStackTest, ThrownExceptionKeepsEveryFrameOfTheThrowingThread) {
    try {
        OuterThrow(1);
        FAIL() << "nothing was thrown";
    } catch (const std::runtime_error&) {
        const std::span<const std::uintptr_t> frames = host::ExceptFrames();
        ASSERT_GE(frames.size(), 4u);
        EXPECT_FRAME_IN(frames[0], InnerThrow);
        EXPECT_FRAME_IN(frames[1], MiddleThrow);
        EXPECT_FRAME_IN(frames[2], OuterThrow);
    }
}
