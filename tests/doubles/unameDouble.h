/*
 * unameDouble.h - control of the test program's own uname().
 *
 * A test program that links the double_uname object library has its own uname(), which the
 * plug-in's object code calls instead of the C library's. It asks the kernel directly, unless a
 * failure was programmed, and counts its calls.
 */
#ifndef TESTS_DOUBLES_UNAMEDOUBLE_H
#define TESTS_DOUBLES_UNAMEDOUBLE_H

#include <string>

namespace unameDouble {

// Answer the kernel's data again, and forget the calls.
void Reset();
// Make every call fail with -1 and errno `error`.
void Fail(int error);
int Calls();
// The node name the kernel reports, read without going through the double.
std::string RealNodeName();

} // namespace unameDouble

#endif
