#pragma once

// Hot passes of the chain are built twice, for AVX2 and for the baseline,
// and the loader picks the one the processor runs. GCC does this for any
// function; clang refuses it for a function used before its definition, so
// clang builds (the fuzzers among them) keep the baseline build only, as do
// builds with VELKOR_NO_CPU_DISPATCH. Both builds give the same bits: no FMA
// contraction in either.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(VELKOR_NO_CPU_DISPATCH)
#define VELKOR_HOT_PASS __attribute__((flatten, target_clones("avx2", "default")))
#else
#define VELKOR_HOT_PASS __attribute__((flatten))
#endif
