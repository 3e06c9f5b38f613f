// Which code computes the comparison pass's hot loops: the baseline path
// (plain C++ for any processor) or the AVX2 kernels (avx2_kernels.h), which
// give bit for bit the same results eight lanes at a time.
//
// The AVX2 path is the default wherever the processor has it. The baseline
// path stays selectable everywhere, so that benchmarks can set the two side
// by side and tests can check that they agree on every machine.
#pragma once

namespace tarvik {

enum class VectorPath { kBaseline, kAvx2 };

// "baseline" or "avx2".
const char* vector_path_name(VectorPath path);
// The baseline path always; AVX2 when this processor runs it.
bool vector_path_available(VectorPath path);
// The path used where none is named. Setting an unavailable path returns
// false and changes nothing.
VectorPath default_vector_path();
bool set_default_vector_path(VectorPath path);

}  // namespace tarvik
