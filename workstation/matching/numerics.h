// The four numerical routines the workstation calls by their library names,
// with the argument shapes its call sites use.
//
//   C06FUF  two-dimensional complex DFT, in place, scaled by 1/sqrt(M*N);
//   C06GCF  complex conjugate (negates the imaginary parts);
//   F01CKF  real matrix product A = B*C, matrices stored column by column;
//   S14ABF  ln Gamma(x).
//
// Data layout of C06FUF: element (i, j), i = 1..M, j = 1..N, stands at index
// (i - 1) * N + (j - 1) of the real-part and the imaginary-part arrays (for the
// workstation's extracts M = N = 256). The forward transform is
//   Z(k1, k2) = 1/sqrt(M*N) * sum z(j1, j2) * exp(-2 pi i (j1 k1 / M + j2 k2 / N)),
// so conjugate, transform, conjugate is the inverse transform.
//
// The transform runs on FFTW3 (double precision). A plan is made once per
// array size, on the first call for that size (normally the one with INIT
// "I"), and kept for the life of the process; later calls reuse it. The
// trigonometric tables and the workspace are accepted for the sake of the
// call shape: the tables are filled with the twiddle factors on "I", but the
// transform does not need them.
//
// Failure codes are returned through IFAIL (0 = success); no routine ever
// ends the program, whatever IFAIL held on entry. The plan cache is guarded by
// a mutex, so the routines may be called from any thread.
#pragma once

namespace velmora::matching {

// IFAIL on return: 0 success; 1 M < 1; 2 N < 1; 3 INIT is none of "I", "S",
// "R"; 4 no memory for the plan (in each failure the data are left
// untouched). INIT "S" or "R" before any "I" for these sizes still
// transforms correctly (the plan is made on demand).
// trigm holds 2*M doubles, trign 2*N, work 2*M*N (any of the three may be
// null: they are not needed by this implementation).
void C06FUF(const int& m, const int& n, double* x, double* y, const char* init, double* trigm,
            double* trign, double* work, int& ifail);

// Negates y[0 .. n-1]. IFAIL on return: 0 success, 1 when n < 1.
void C06GCF(double* y, const int& n, int& ifail);

// A (n x p) = B (n x m) * C (m x p), all column by column. A may be the same
// array as B or C (the product is formed in a scratch copy first). opt is 1, 2
// or 3 as the library defines it (A distinct, A overwrites B, A overwrites C);
// z is a workspace of iz doubles, not needed here. IFAIL on return: 0 success,
// 1 when n, p or m < 1, 2 when opt is not 1, 2 or 3.
void F01CKF(double* a, const double* b, const double* c, const int& n, const int& p, const int& m,
            double* z, const int& iz, const int& opt, int& ifail);

// ln Gamma(x). IFAIL on return: 0 success; 1 x <= 0 (no valid result, 0 is
// returned); 2 x is not finite or ln Gamma(x) overflows (0 is returned).
// An invalid argument never ends the program (IFAIL is always returned):
// the caller decides what to do with the failure.
double S14ABF(const double& x, int& ifail);

}  // namespace velmora::matching
