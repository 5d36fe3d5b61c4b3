#!/bin/sh
# Builds the Windows zip from a build folder and checks what it carries: exactly the program,
# the DLLs it loads and Qt's plugins, in one folder named after the package, and that every
# DLL the program and each of those DLLs import is either in the zip or part of Windows.
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/packages.sh"

zip=$(make_package ZIP "$build" "$work/package")
case "$(basename "$zip")" in
quorvex-config-creator-*-win64.zip) ;;
*)
    echo "unexpected name: $zip" >&2
    exit 1
    ;;
esac
top=$(unpack_zip "$zip" "$work/unpacked")

expected="Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libgcc_s_seh-1.dll libstdc++-6.dll
libwinpthread-1.dll platforms/qwindows.dll quorvex-config-creator-window.dll
quorvex-config-creator.com quorvex-config-creator.exe
styles/qwindowsvistastyle.dll"
actual=$(cd "$work/unpacked" && find . -type f | sed "s|^\./$(basename "$top")/||" | LC_ALL=C sort)
if [ "$actual" != "$(printf '%s\n' $expected | LC_ALL=C sort)" ]; then
    printf 'the zip holds:\n%s\n' "$(cd "$work/unpacked" && find . -type f)" >&2
    exit 1
fi

# The program is a windowed program, not a console one, and carries its icon: resources of
# the types icon (3) and icon group (14).
objdump=x86_64-w64-mingw32-objdump
headers=$("$objdump" -p "$top/quorvex-config-creator.exe")
printf '%s\n' "$headers" | grep -q '^Subsystem[[:space:]]*00000002'
for type in 0x000003 0x00000e; do
    printf '%s\n' "$headers" | sed -n '/^The .rsrc Resource Directory/,$p' |
        grep -Eq "^[0-9a-f]+   Entry: ID: $type," || { echo "the program has no icon" >&2; exit 1; }
done

# Windows' own DLLs that the program and Qt use, on every Windows that Qt 6 runs on
# (Windows 10 and later), API sets included.
system="advapi32 api-ms-win-core-synch-l1-2-0 api-ms-win-core-winrt-l1-1-0
api-ms-win-core-winrt-string-l1-1-0 authz comdlg32 d3d11 d3d9 dwmapi dxgi gdi32 imm32 iphlpapi kernel32
mpr msvcrt netapi32 ole32 oleaut32 shcore shell32 shlwapi user32 userenv uxtheme
version winmm ws2_32 wtsapi32"
status=0
for binary in $(find "$top" -type f); do
    for dll in $("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'); do
        lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
        case " $(echo $system) " in *" ${lower%.dll} "*) continue ;; esac
        if [ -z "$(find "$top" -maxdepth 1 -iname "$dll")" ]; then
            echo "$(basename "$binary") imports $dll, which the zip lacks" >&2
            status=1
        fi
    done
done
exit "$status"
