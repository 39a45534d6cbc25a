// How the map-format library marks what the map engine's server library
// exports: C linkage, default visibility, under the functions' own names;
// and which of them return a result that must not be ignored.
#pragma once

#ifdef __cplusplus
#define RMF_EXTERN_C extern "C"
#else
#define RMF_EXTERN_C
#endif

#define RMF_API RMF_EXTERN_C __attribute__((visibility("default")))
// The same for functions whose result must not be dropped: a code, a count
// or a pointer the caller owns. The attribute stands after extern "C": g++
// refuses it in front, clang accepts both places.
#define RMF_API_NODISCARD RMF_EXTERN_C [[nodiscard]] __attribute__((visibility("default")))
