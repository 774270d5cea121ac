# Cross build for the camera (ARM64 Linux) with Debian's cross compiler and
# the arm64 multiarch libraries (GLib, GoogleTest) that tools/setup installs:
#   cmake -S . -B build-aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The programs and tests it builds run on this machine through qemu-user and
# binfmt_misc, so CTest runs them as it runs native ones.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Debian's multiarch layout: libraries and package files come from
# /usr/lib/aarch64-linux-gnu (the library architecture above), headers from
# /usr/include, which the two architectures share; pkg-config reads only the
# arm64 files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
