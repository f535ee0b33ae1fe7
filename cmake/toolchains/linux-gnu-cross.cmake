# Shared by the toolchain files of this folder: a cross build with Debian's cross toolchain for
# ARL_TRIPLET, against the target's multiarch -dev packages (scripts/install-cross-deps.sh).
# Target programs run through qemu-user with the target's libraries, so tests need no binfmt.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ARL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ARL_TRIPLET}-g++)
# Debian installs the target's libraries in /usr/lib/<triplet>: find_library and find_package
# look there first, and take programs (sqlite3, msgfmt) from the build machine.
set(CMAKE_LIBRARY_ARCHITECTURE ${ARL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${ARL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# pkg-config reports the target's .pc files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ARL_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
# The target's programs run with the target's multiarch C library (libc6:<arch>, which its -dev
# packages bring), whose loader qemu finds at its usual path. The cross toolchain's own copy in
# /usr/<triplet> is only the fallback: it lags behind the multiarch one, and a loader of one build
# with the C library of another crashes forked children and new threads.
if(EXISTS /usr/lib/${ARL_TRIPLET}/libc.so.6)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ARL_QEMU})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ARL_QEMU} -L /usr/${ARL_TRIPLET})
endif()
