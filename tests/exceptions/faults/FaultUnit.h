// tests/exceptions/faults/FaultUnit.h - the child program's faulting procedures; each marks its
// faulting line in FaultUnit.cpp with a "fault-line:" comment that the tests look up.
#pragma once

int ReadThroughNull();
void WriteThroughNull();
int DivideByZero();
int Recurse(int ADepth);
void CallAbort();
void ThrowInWorker();
void FaultInNoexcept() noexcept;
double FloatDivideByZero();
double FloatInvalid();
double FloatOverflow();
double FloatUnderflow();
void ExecutePrivileged();
