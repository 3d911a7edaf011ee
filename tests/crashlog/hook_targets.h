// Routines for the hooking tests: one with a NOP pad at its entry, as our own hookable
// code has, and one with an ordinary prologue. Each takes eight integers (two of them on
// the stack) and four floating-point numbers.
#pragma once

namespace qv::test {

using MixedFn = double (*)(long, double, long, double, long, double, long, double, long, long, long,
                           long);

// A checksum of the arguments in which every position counts.
inline double Checksum(long i1, double d1, long i2, double d2, long i3, double d3, long i4,
                       double d4, long i5, long i6, long i7, long i8) {
  return double(i1) + 2 * d1 + 3 * double(i2) + 5 * d2 + 7 * double(i3) + 11 * d3 +
         13 * double(i4) + 17 * d4 + 19 * double(i5) + 23 * double(i6) + 29 * double(i7) +
         31 * double(i8);
}

[[gnu::noinline, gnu::patchable_function_entry(5, 0)]] inline double PaddedMixed(
    long i1, double d1, long i2, double d2, long i3, double d3, long i4, double d4, long i5,
    long i6, long i7, long i8) {
  return Checksum(i1, d1, i2, d2, i3, d3, i4, d4, i5, i6, i7, i8);
}

[[gnu::noinline]] inline double PlainMixed(long i1, double d1, long i2, double d2, long i3,
                                           double d3, long i4, double d4, long i5, long i6, long i7,
                                           long i8) {
  return Checksum(i1, d1, i2, d2, i3, d3, i4, d4, i5, i6, i7, i8) + 0.5;
}

}  // namespace qv::test
