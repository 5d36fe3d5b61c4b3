#!/bin/sh
# Builds the program and its tests for Windows in build-windows/project, against Qt for
# Windows cross-built from Debian's source once (kept in the user's cache).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
qt=$(windows/build-qt.sh)
cmake -S . -B build-windows/project -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/windows/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-windows/project --parallel "$(nproc)"
