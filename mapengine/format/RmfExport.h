// How the map-format library marks what the map engine's server library
// exports: C linkage, default visibility, under the functions' own names.
#pragma once

#ifdef __cplusplus
#define RMF_EXTERN_C extern "C"
#else
#define RMF_EXTERN_C
#endif

#define RMF_API RMF_EXTERN_C __attribute__((visibility("default")))
