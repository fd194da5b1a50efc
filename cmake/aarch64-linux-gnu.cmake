# Cross-compiling for 64-bit ARM Linux with Debian's GCC (g++-aarch64-linux-gnu);
# programs built here run under qemu-user with the target's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Libraries from Debian's :arm64 packages (multiarch: dpkg --add-architecture
# arm64, then e.g. libspng-dev:arm64): pkg-config reads only their .pc files,
# the libraries are found under / as well as the cross root, and their
# headers are searched after the cross compiler's own, so that the C
# library's headers still come from the cross root.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
list(APPEND CMAKE_FIND_ROOT_PATH /)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CXX_FLAGS_INIT "-idirafter /usr/include/aarch64-linux-gnu -idirafter /usr/include")
set(CMAKE_C_FLAGS_INIT "-idirafter /usr/include/aarch64-linux-gnu -idirafter /usr/include")
# Their own dependencies (zlib for libspng) are found at link time there too.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,-rpath-link,/usr/lib/aarch64-linux-gnu -Wl,-rpath-link,/lib/aarch64-linux-gnu")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

# Under qemu the programs find those libraries through LD_LIBRARY_PATH. Its
# "/lib" is the cross root's (qemu's -L prefix), which must come first: the
# C library has to be the one that matches the cross root's loader, not the
# multiarch copy (a mismatched pair hangs in fork()).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu
    -E LD_LIBRARY_PATH=/lib:/usr/lib/aarch64-linux-gnu)
