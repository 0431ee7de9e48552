#pragma once
// Debug assertions of invariants: checked in builds configured with
// GLIMMARK_CHECK_INVARIANTS (the sanitizer preset), compiled out elsewhere so
// that a host never loses its document to one. A broken invariant prints
// where and aborts, so the sanitizer's report points at the caller.
#include <cstdio>
#include <cstdlib>

#ifdef GLIMMARK_CHECK_INVARIANTS
#define GLIMMARK_INVARIANT(condition)                                                        \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)
#else
#define GLIMMARK_INVARIANT(condition) \
  do {                                \
  } while (0)
#endif
