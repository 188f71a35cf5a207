// bench/ThrowBench.cpp - what the suite adds to a C++ throw that is caught at once: a throw
// caught three frames up through the suite's throw hook (which records the site and the raw
// frames of the call stack), side by side with the same throw handed straight to the C++
// runtime, as a program without the suite throws.
#include "host/core/SysUtils.h"

#include <benchmark/benchmark.h>

#include <cxxabi.h>
#include <dlfcn.h>
#include <typeinfo>

namespace {

using TThrow = void (*)(void*, std::type_info*, void (*)(void*));

// The C++ runtime's own throw entry point, behind the suite's interposed one.
TThrow RuntimeThrow() {
    static const TThrow real = [] {
        void* runtime = dlopen("libstdc++.so.6", RTLD_NOW | RTLD_NOLOAD);
        return reinterpret_cast<TThrow>(runtime != nullptr ? dlsym(runtime, "__cxa_throw")
                                                           : nullptr);
    }();
    return real;
}

[[gnu::noinline]] void ThrowPlain(int AValue) {
    void* object = abi::__cxa_allocate_exception(sizeof(int));
    *static_cast<int*>(object) = AValue;
    RuntimeThrow()(object, const_cast<std::type_info*>(&typeid(int)), nullptr);
    __builtin_unreachable();
}

[[gnu::noinline]] void ThrowThroughSuite(int AValue) {
    throw AValue;
}

template <void (*Thrower)(int)>
[[gnu::noinline]] void Level2(int AValue) {
    Thrower(AValue);
    benchmark::ClobberMemory();
}

template <void (*Thrower)(int)>
[[gnu::noinline]] void Level1(int AValue) {
    Level2<Thrower>(AValue);
    benchmark::ClobberMemory();
}

template <void (*Thrower)(int)>
void ThrowCaughtThreeFramesUp(benchmark::State& AState) {
    if (RuntimeThrow() == nullptr) {
        AState.SkipWithError("the C++ runtime's __cxa_throw was not found");
        return;
    }
    int caught = 0;
    for (auto _ : AState) {
        try {
            Level1<Thrower>(1);
        } catch (int value) {
            caught += value;
        }
    }
    benchmark::DoNotOptimize(caught);
}

void PlainThrowAndCatch(benchmark::State& AState) {
    ThrowCaughtThreeFramesUp<&ThrowPlain>(AState);
}

void SuiteThrowAndCatch(benchmark::State& AState) {
    ThrowCaughtThreeFramesUp<&ThrowThroughSuite>(AState);
}

BENCHMARK(PlainThrowAndCatch);
BENCHMARK(SuiteThrowAndCatch);

} // namespace

BENCHMARK_MAIN();
