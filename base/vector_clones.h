// Hot element loops compiled twice, for the x86-64 baseline and for AVX2, the loader choosing the
// one the processor runs (GNU indirect functions, so only on Linux with g++). Both compute every
// value bit for bit alike: the loops work element by element with the same IEEE operations in
// the same order, and AVX2 alone brings no fused multiply-add to contract them into.
#ifndef HARNIX_BASE_VECTOR_CLONES_H_
#define HARNIX_BASE_VECTOR_CLONES_H_

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define HARNIX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define HARNIX_VECTOR_CLONES
#endif

#endif  // HARNIX_BASE_VECTOR_CLONES_H_
