#!/bin/sh
# Cross-builds Qt's Core, Network and Test libraries for Windows from Debian's own qt6-base
# source, with the host's Qt tools, and installs them into the folder given. A finished
# build leaves a stamp there, and a second run returns at once.
set -eu
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$prefix/.built" ] && exit 0

work="$prefix.work"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
apt-get source --download-only qt6-base >/dev/null
tar xf qt6-base_*.orig.tar.xz
source=$(find . -maxdepth 1 -type d -name 'qtbase-*' | head -n 1)

# The leg needs no GUI, so Qt Gui and everything above it stay out.
cmake -S "$source" -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_gui=OFF -DFEATURE_widgets=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_openssl=OFF >configure.log
cmake --build build --parallel "$(nproc)" >build.log
cmake --install build >install.log
touch "$prefix/.built"
cd /
rm -rf "$work"
