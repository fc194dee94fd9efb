// What the fuzz targets share: a property check that stops the run at once.
// libFuzzer (and the replay driver) report the trap with the input that broke
// the property, so a violation is a finding just like a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      __builtin_trap();                                                                     \
    }                                                                                       \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
