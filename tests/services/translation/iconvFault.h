// Injected shortage: while `iconvShortage` is set, iconv_open() and newlocale() fail with ENOMEM.
// A test program's own definitions come before the C library's for the libraries it links.
#pragma once

#include <cerrno>
#include <dlfcn.h>
#include <iconv.h>
#include <locale.h>

inline bool iconvShortage = false;

extern "C" iconv_t iconv_open(const char *to, const char *from)
{
    static auto *real = reinterpret_cast<iconv_t (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "iconv_open"));
    return iconvShortage ? (errno = ENOMEM, reinterpret_cast<iconv_t>(-1)) : real(to, from);
}

extern "C" locale_t newlocale(int mask, const char *name, locale_t base)
{
    static auto *real = reinterpret_cast<locale_t (*)(int, const char *, locale_t)>(dlsym(RTLD_NEXT, "newlocale"));
    return iconvShortage ? (errno = ENOMEM, locale_t()) : real(mask, name, base);
}
