#!/bin/sh
# Compiles every source that a Windows build uses with MinGW-w64 for syntax only, against
# the host's Qt headers: a fast check of code no Linux build sees. The POSIX-only files
# are left out, as the build leaves them out there; moc output comes from the host's moc.
# The program's icon resource is compiled as well.
set -eu
cd "$(dirname "$0")/.."
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
moc="$(qmake6 -query QT_INSTALL_LIBEXECS 2>/dev/null || echo /usr/lib/qt6/libexec)/moc"
mocs=$(mktemp -d)
trap 'rm -rf "$mocs"' EXIT

set --
for module in "" QtCore QtGui QtNetwork QtWidgets QtTest; do
    set -- "$@" -isystem "$qt/$module"
done
# zlib's headers alone, as Qt's own zlib that the Windows build uses has the same.
mkdir "$mocs/zlib"
ln -s /usr/include/zlib.h /usr/include/zconf.h "$mocs/zlib/"
set -- "$@" -isystem "$mocs/zlib"

# One compiler a core at a time; xargs fails when any of them does.
export mocs
find src tests bench -name '*.cpp' ! -name '*_posix.cpp' | sort |
    xargs -P "$(nproc)" -I '{}' sh -c '
        source={}
        if grep -q "^#include \".*\.moc\"" "$source"; then
            "$0" "$source" -o "$mocs/$(basename "$source" .cpp).moc"
        fi
        exec x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
            -DUNICODE -D_UNICODE -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_NETWORK_LIB \
            -DQT_TESTLIB_LIB -DFAKE_SERVER="\"fake_server.exe\"" \
            -DSCRIPTNUMBERS_HELPER="\"scriptnumbers_helper.exe\"" \
            -DLAUNCH_HELPER="\"launch_helper.exe\"" -DPROGRAM="\"quorvex-config-creator.exe\"" \
            -DQUORVEX_VERSION="\"1.0.0\"" \
            -Isrc -Itests -I"$mocs" "$@" "$source"
    ' "$moc" "$@"

# The program's icon resource compiles too.
x86_64-w64-mingw32-windres data/quorvex-config-creator.rc -o "$mocs/icon.o"
