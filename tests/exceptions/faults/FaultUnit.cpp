// tests/exceptions/faults/FaultUnit.cpp - the child program's faulting procedures.
//
// Built without optimisation, so every fault stays on its own line in its own procedure.
// Pointers and divisors come through volatile variables: the compiler cannot see the fault
// coming and turn it into a trap instruction of its own.
#include "FaultUnit.h"

#include <cstdlib>
#include <stdexcept>

namespace {

int* volatile nullPointer = nullptr;
volatile int zero = 0;
volatile double zeroFloat = 0.0;
volatile double hugeFloat = 1e308;
volatile double tinyFloat = 1e-308;

} // namespace

int ReadThroughNull() {
    return *nullPointer; // fault-line: ReadThroughNull
}

void WriteThroughNull() {
    *nullPointer = 42; // fault-line: WriteThroughNull
}

int DivideByZero() {
    return 1000 / zero; // fault-line: DivideByZero
}

// recursion-begin
int Recurse(int ADepth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(ADepth);
    // Never false: the test wants the stack to run out.
    if (ADepth >= 0)
        return Recurse(ADepth + 1) + frame[0];
    return frame[0];
}

// recursion-end

void CallAbort() {
    std::abort(); // fault-line: CallAbort
}

void ThrowInWorker() {
    throw std::runtime_error("worker failed"); // fault-line: ThrowInWorker
}

void FaultInNoexcept() noexcept {
    *nullPointer = 7; // fault-line: FaultInNoexcept
}

double FloatDivideByZero() {
    return 1.0 / zeroFloat; // fault-line: FloatDivideByZero
}

double FloatInvalid() {
    return zeroFloat / zeroFloat; // fault-line: FloatInvalid
}

double FloatOverflow() {
    return hugeFloat * hugeFloat; // fault-line: FloatOverflow
}

double FloatUnderflow() {
    return tinyFloat * tinyFloat; // fault-line: FloatUnderflow
}

void ExecutePrivileged() {
    asm volatile("hlt"); // fault-line: ExecutePrivileged
}
