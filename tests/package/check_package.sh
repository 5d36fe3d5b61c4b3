#!/bin/sh
# Builds the Debian package from a build folder and checks what it carries: the program,
# a valid desktop entry and AppStream metadata, the manual page, icons whose sizes match
# their folders, and dependencies on the Qt libraries the program links.
set -eu
build=$1
id=com.veldorique.QuorvexConfigCreator
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/packages.sh"

deb=$(make_package DEB "$build" "$work/package")
dpkg-deb -x "$deb" "$work/root"
share="$work/root/usr/share"

test -x "$work/root/usr/bin/quorvex-config-creator"
# The window's module, where the program's run path finds it.
test -f "$work/root/usr/lib/quorvex-config-creator/quorvex-config-creator-window.so"
desktop-file-validate "$share/applications/$id.desktop"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"
test -f "$share/icons/hicolor/scalable/apps/quorvex-config-creator.svg"
grep -q "^.SH SYNOPSIS" "$share/man/man1/quorvex-config-creator.1"
grep -q '^.SS status$' "$share/man/man1/quorvex-config-creator.1"
# The examples stand one command a line, not filled into one paragraph.
sed -n '/^\.SH EXAMPLES/,/^\.PP/p' "$share/man/man1/quorvex-config-creator.1" | grep -q '^\.nf$'

# The shell completion, sourced as bash does and asked for the last of the words given,
# each reply followed by a bar; --map asks the installed program for the maps.
completion="$share/bash-completion/completions/quorvex-config-creator"
expect() {
    want=$1
    shift
    said=$(HOME="$work" XDG_CONFIG_HOME="$work" bash -c '. "$1"; program=$2; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                    _quorvex_config_creator "$program"; printf "%s|" "${COMPREPLY[@]}"' sh \
        "$completion" "${program:-$work/root/usr/bin/quorvex-config-creator}" quorvex-config-creator "$@")
    [ "$said" = "$want" ] || { echo "'$*' completes as '$said', not '$want'" >&2; exit 1; }
}
mkdir -p "$work/games" "$work/game dir/baseq3/maps"
touch "$work/games.cfg"
{ printf 'IBSP\056\000\000\000'; head -c 200 /dev/zero; } >"$work/game dir/baseq3/maps/q3dm17.bsp"
expect "create|" cr
expect "--server-name|" create --ser
expect "--help|--game-dir|--port|" stop --
expect "$work/game dir|$work/games|" run --game-dir "$work/gam"
expect "$work/games.cfg|" show "$work/games."
expect "$work/games.cfg|" create --output = "$work/games."
expect "--output=$work/games.cfg|" create "--output=$work/games."
expect "q3dm17|" create --game-dir "'$work/game dir'" --map q3
expect "q3dm17|" create --game-dir = "$(printf %s "$work/game dir" | sed 's/ /\\ /')" --map = q
expect "q3dm17|" rcon --game-dir "'$work/game dir'" MAP q
expect "|" rcon say q
# kick completes the slots and names that players lists, here from a stand-in.
printf '#!/bin/sh\n[ "$1 $2" = "players --game-dir=%s" ] && printf "%s"\n' "$work/games" \
    'map: q3dm17\n 0  RedFox  score 12  ping 48  127.0.0.1:1  rate 1\n11  A Name  score -3  ping CNCT  [::1]:2  rate 9\n' \
    >"$work/players"
chmod +x "$work/players"
program="$work/players" expect "0|RedFox|11|A Name|" kick --game-dir "$work/games" ""
program="$work/players" expect "A Name|" kick --game-dir "$work/games" A

icons=0
for png in "$share"/icons/hicolor/*/apps/*.png; do
    folder=$(basename "$(dirname "$(dirname "$png")")")
    # Width and height stand as big-endian 32-bit numbers at bytes 16 to 23 of a PNG.
    size=$(od -An -tu1 -j16 -N8 "$png" |
        awk '{ printf "%dx%d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    if [ "$size" != "$folder" ]; then
        echo "$png is $size, not $folder" >&2
        exit 1
    fi
    icons=$((icons + 1))
done
test "$icons" -ge 2

depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins zlib1g; do
    case ", $depends," in
    *", $package"[\ ,]*) ;;
    *)
        echo "Depends lacks $package: $depends" >&2
        exit 1
        ;;
    esac
done
echo "$(basename "$deb"): $depends"
