#pragma once
// The shape of a fuzz target. Each fuzz/fuzz_<name>.cpp defines one function of its own name
// that takes any bytes, and names it with CORVELLA_FUZZ_TARGET("fuzz_<name>", Function).
// In a libFuzzer build (CORVELLA_LIBFUZZER defined) the macro adds the LLVMFuzzerTestOneInput
// wrapper, so each file becomes its own fuzzer; otherwise it registers the function with the
// replay main (replay_main.cpp), which links every target into one executable and runs the
// fixtures and past crashes through them under ctest with any compiler.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using TFuzzEntry = int (*)(const std::uint8_t *Data, std::size_t Size);

// Adds an entry point to the replay table; returns true so that it can initialise a static.
bool RegisterFuzzEntry(const char *Name, TFuzzEntry Entry);

// A property every input must keep; a violation is reported as a crash.
inline void FuzzRequire(bool Condition)
{
  if (!Condition) std::abort();
}

#if defined(CORVELLA_LIBFUZZER)
#define CORVELLA_FUZZ_TARGET(Name, Function)                                         \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) \
  {                                                                                   \
    return Function(Data, Size);                                                      \
  }
#else
#define CORVELLA_FUZZ_TARGET(Name, Function) \
  [[maybe_unused]] static const bool Function##Registered = RegisterFuzzEntry(Name, Function);
#endif
