// fuzz/StoredFormFuzz.cpp - libFuzzer target for the stored-form reader and writer.
//
// Feeds arbitrary text to ReadComponentFromText with the tests' sample components registered
// (they publish every kind of property: strings, ordinals, sets, floats, sub-objects, string
// lists, nested collections, component references, events). Any host exception is a fine
// answer; a crash, a leak, or a form that reads but does not read back to the same text is a
// fault.
#include "host/core/ClassesStreaming.h"
#include "tests/support/SampleComponents.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace host;

namespace {

std::unique_ptr<TComponent> ReadOrNull(const std::string& AText) {
    try {
        return std::unique_ptr<TComponent>(ReadComponentFromText(AText));
    } catch (const Exception& e) {
        // Set STORED_FORM_FUZZ_VERBOSE to see why an input (a seed, say) is refused.
        static const bool verbose = std::getenv("STORED_FORM_FUZZ_VERBOSE") != nullptr;
        if (verbose)
            std::fprintf(stderr, "refused: %s\n", e.Message().c_str());
        return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool registered = [] {
        jex::test::RegisterSampleComponents();
        return true;
    }();
    (void)registered;
    jex::test::LoadLog().clear();
    const std::string text(reinterpret_cast<const char*>(AData), ASize);
    std::unique_ptr<TComponent> first = ReadOrNull(text);
    if (!first)
        return 0;
    // What was read must write, and the written text must read back to the same text.
    const std::string written = WriteComponentToText(first.get());
    first.reset();
    std::unique_ptr<TComponent> second = ReadOrNull(written);
    if (!second) {
        std::fprintf(stderr, "written form does not read back:\n%s\n", written.c_str());
        std::abort();
    }
    const std::string rewritten = WriteComponentToText(second.get());
    if (rewritten != written) {
        std::fprintf(stderr, "round trip changed the form:\n%s\n---\n%s\n", written.c_str(),
                     rewritten.c_str());
        std::abort();
    }
    return 0;
}
