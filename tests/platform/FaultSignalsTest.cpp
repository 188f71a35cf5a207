// tests/platform/FaultSignalsTest.cpp - telling a privileged instruction from an access through
// a bad address, which Linux both delivers as SIGSEGV; a worker thread's own signal stack.
#include "platform/FaultSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

struct TInstruction {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
};

// The decoder must read no byte past the instruction: each case is padded with nothing.
bool Privileged(const TInstruction& AInstruction) {
    return platform::IsPrivilegedInstruction(AInstruction.Bytes.data());
}

} // namespace

TEST(FaultSignalsTest, KernelOnlyInstructionsArePrivilegedAlsoBehindPrefixes) {
    const TInstruction privileged[] = {
        {"hlt", {0xF4}},
        {"cli", {0xFA}},
        {"sti", {0xFB}},
        {"in al, 0x60", {0xE4, 0x60}},
        {"out dx, al", {0xEE}},
        {"rep outsb", {0xF3, 0x6E}},
        {"in ax, dx (operand-size prefix)", {0x66, 0xED}},
        {"wrmsr", {0x0F, 0x30}},
        {"rdmsr", {0x0F, 0x32}},
        {"mov rax, cr0", {0x0F, 0x20, 0xC0}},
        {"mov cr3, rax (REX.W)", {0x48, 0x0F, 0x22, 0xD8}},
        {"mov rax, dr7", {0x0F, 0x21, 0xF8}},
        {"invd", {0x0F, 0x08}},
        {"wbinvd", {0x0F, 0x09}},
        {"clts", {0x0F, 0x06}},
        {"lgdt [rax]", {0x0F, 0x01, 0x10}},
        {"lidt [rax]", {0x0F, 0x01, 0x18}},
        {"invlpg [rax]", {0x0F, 0x01, 0x38}},
        {"lmsw ax", {0x0F, 0x01, 0xF0}},
        {"swapgs", {0x0F, 0x01, 0xF8}},
        {"lldt ax", {0x0F, 0x00, 0xD0}},
        {"ltr ax", {0x0F, 0x00, 0xD8}},
    };
    for (const TInstruction& instruction : privileged)
        EXPECT_TRUE(Privileged(instruction)) << instruction.Name;
}

TEST(FaultSignalsTest, OrdinaryInstructionsThatMayFaultOnABadAddressAreNotPrivileged) {
    const TInstruction ordinary[] = {
        {"mov eax, [rax]", {0x8B, 0x00}},
        {"mov [rax], eax (REX)", {0x48, 0x89, 0x00}},
        {"call [rax]", {0xFF, 0x10}},
        {"ret", {0xC3}},
        {"ud2", {0x0F, 0x0B}},
        {"rdtsc", {0x0F, 0x31}},
        {"cpuid", {0x0F, 0xA2}},
        {"sgdt [rax]", {0x0F, 0x01, 0x00}},
        {"xgetbv", {0x0F, 0x01, 0xD0}},
        {"rdtscp", {0x0F, 0x01, 0xF9}},
        {"sldt ax", {0x0F, 0x00, 0xC0}},
        {"lock add [rax], eax", {0xF0, 0x01, 0x00}},
        {"fs mov rax, [rax]", {0x64, 0x48, 0x8B, 0x00}},
    };
    for (const TInstruction& instruction : ordinary)
        EXPECT_FALSE(Privileged(instruction)) << instruction.Name;
    EXPECT_FALSE(platform::IsPrivilegedInstruction(nullptr));
}

namespace {

stack_t CurrentSignalStack() {
    stack_t current{};
    sigaltstack(nullptr, &current);
    return current;
}

} // namespace

TEST(FaultSignalsTest, ThreadSignalStackReplacesTheThreadsStackAndPutsItBack) {
    std::thread([] {
        // A stack of someone else's, as a sanitizer sets up for each thread.
        static char foreign[64 * 1024];
        stack_t theirs{};
        theirs.ss_sp = foreign;
        theirs.ss_size = sizeof foreign;
        ASSERT_EQ(sigaltstack(&theirs, nullptr), 0);
        {
            const platform::TThreadSignalStack own;
            const stack_t during = CurrentSignalStack();
            EXPECT_NE(during.ss_sp, static_cast<void*>(foreign));
            EXPECT_GE(during.ss_size, 64u * 1024u);
            EXPECT_EQ(during.ss_flags & SS_DISABLE, 0);
            // A second one on the same thread leaves the first in place.
            const platform::TThreadSignalStack nested;
            EXPECT_EQ(CurrentSignalStack().ss_sp, during.ss_sp);
        }
        const stack_t after = CurrentSignalStack();
        EXPECT_EQ(after.ss_sp, static_cast<void*>(foreign));
        EXPECT_EQ(after.ss_size, sizeof foreign);
        stack_t none{};
        none.ss_flags = SS_DISABLE;
        sigaltstack(&none, nullptr);
    }).join();
}

TEST(FaultSignalsTest, ThreadWithoutASignalStackHasNoneAgainAfterwards) {
    std::thread([] {
        stack_t none{};
        none.ss_flags = SS_DISABLE;
        ASSERT_EQ(sigaltstack(&none, nullptr), 0);
        {
            const platform::TThreadSignalStack own;
            EXPECT_EQ(CurrentSignalStack().ss_flags & SS_DISABLE, 0);
        }
        EXPECT_NE(CurrentSignalStack().ss_flags & SS_DISABLE, 0);
    }).join();
}
