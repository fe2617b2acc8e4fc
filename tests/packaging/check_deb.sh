#!/usr/bin/env bash
# Checks the Debian package that build_deb.sh made: its exact files and their modes, the
# icons' sizes, the desktop entry, the command-line program and its manual page, the control
# fields, that Depends covers every library the programs link (with high enough versions), and
# that it installs and removes cleanly.
#   check_deb.sh DEB_DIR PROJECT_VERSION
set -uo pipefail
source "$(dirname "$0")/checks.sh"
deb_dir=$1 version=$2

tmp=$(mktemp -d "${TMPDIR:-/tmp}/virellock-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# A signal (CTest's timeout, Ctrl-C) ends the script through the EXIT trap too.
trap 'exit 1' HUP INT TERM
use_private_home "$tmp"
export PATH="$PATH:/usr/sbin:/sbin"


shopt -s nullglob
debs=("$deb_dir"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one .deb in $deb_dir, found ${#debs[@]}" >&2
    exit 1
fi
deb=${debs[0]}

# --- files -----------------------------------------------------------------------------------

# path and mode of everything the package installs
expected_files="\
/usr/bin/virellock 755
/usr/bin/virellock-cli 755
/usr/share/man/man1/virellock-cli.1.gz 644
/usr/share/applications/virellock.desktop 644
/usr/share/icons/hicolor/128x128/apps/virellock.png 644
/usr/share/icons/hicolor/16x16/apps/virellock.png 644
/usr/share/icons/hicolor/32x32/apps/virellock.png 644
/usr/share/icons/hicolor/48x48/apps/virellock.png 644
/usr/share/icons/hicolor/64x64/apps/virellock.png 644
/usr/share/icons/hicolor/scalable/apps/virellock.svg 644"

root="$tmp/root"
if ! dpkg-deb -x "$deb" "$root"; then
    echo "FAIL: dpkg-deb -x could not extract $deb" >&2
    exit 1
fi

actual_files=$(cd "$root" && find . ! -type d -printf '/%P %m\n' | LC_ALL=C sort)
if [ "$actual_files" = "$(LC_ALL=C sort <<<"$expected_files")" ]; then
    ok "file list and modes"
else
    fail "file list or modes differ (- expected, + packaged):"
    diff <(LC_ALL=C sort <<<"$expected_files") <(echo "$actual_files") >&2
fi

empty_dirs=$(cd "$root" && find . -mindepth 1 -type d -empty)
[ -z "$empty_dirs" ] && ok "no empty folders" || fail "empty folders in the package: $empty_dirs"

not_root_owned=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
[ -z "$not_root_owned" ] && ok "everything owned by root" || fail "not owned by root: $not_root_owned"

program="$root/usr/bin/virellock"
cli="$root/usr/bin/virellock-cli"
for file in "$program" "$cli"; do
    if [ "$(od -An -c -N4 "$file" 2>/dev/null | tr -d ' ')" = '177ELF' ]; then
        ok "${file#"$root"/} is an ELF file"
    else
        fail "${file#"$root"/} is not an ELF file"
    fi
done

# A PNG's width and height are the big-endian 32-bit numbers at bytes 16 and 20.
png_size() {
    local w h
    w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
    h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
    echo "${w}x${h}"
}
for size in 16 32 48 64 128; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/virellock.png"
    [ -f "$icon" ] || continue # reported by the file list
    actual=$(png_size "$icon")
    [ "$actual" = "${size}x${size}" ] && ok "icon ${size}x${size}" ||
        fail "icon in ${size}x${size}/ is $actual"
done
svg="$root/usr/share/icons/hicolor/scalable/apps/virellock.svg"
grep -q '<svg' "$svg" 2>/dev/null && ok "scalable icon is SVG" || fail "scalable icon is not SVG"

# --- desktop entry ---------------------------------------------------------------------------

entry="$root/usr/share/applications/virellock.desktop"
if validation=$(desktop-file-validate "$entry" 2>&1) &&
    ! grep -Eq '(error|warning):' <<<"$validation"; then
    ok "desktop-file-validate"
else
    fail "desktop-file-validate: $validation"
fi
desktop_key() { sed -n "s/^$1=//p" "$entry" | head -n1; }
exec_program=$(desktop_key Exec | awk '{print $1}')
[ -x "$root/usr/bin/$exec_program" ] && ok "Exec names the packaged program" ||
    fail "Exec=$exec_program is not a program in usr/bin of the package"
[ "$(desktop_key Icon)" = virellock ] && ok "Icon=virellock" || fail "Icon is '$(desktop_key Icon)'"
[ "$(desktop_key Type)" = Application ] || fail "Type is '$(desktop_key Type)'"
[ "$(desktop_key Name)" = Virellock ] || fail "Name is '$(desktop_key Name)'"

# --- the command-line program ----------------------------------------------------------------

# It runs without a display: no Qt Gui or Widgets, not even indirectly.
gui_libraries=$(objdump -p "$cli" 2>/dev/null | awk '$1 == "NEEDED" {print $2}' |
    grep -E 'libQt6(Gui|Widgets)|libX|libxcb|libGL' || true)
[ -z "$gui_libraries" ] && ok "virellock-cli links no Qt Gui or Widgets" ||
    fail "virellock-cli links $gui_libraries"
cli_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$cli" --version 2>&1)
[ "$cli_version" = "virellock-cli $version" ] && ok "virellock-cli --version without a display" ||
    fail "virellock-cli --version said '$cli_version'"
manual="$root/usr/share/man/man1/virellock-cli.1.gz"
if ! gzip -t "$manual" 2>/dev/null; then
    fail "the manual page is not gzip"
elif ! command -v groff >/dev/null; then
    echo "note: groff is missing, so the manual page is not rendered"
elif warnings=$(zcat "$manual" | groff -k -man -Tutf8 -ww -z 2>&1) && [ -z "$warnings" ]; then
    ok "the manual page renders without warnings"
else
    fail "the manual page: $warnings"
fi

# --- control fields --------------------------------------------------------------------------

field() { dpkg-deb -f "$deb" "$1"; }
while read -r name expected; do
    actual=$(field "$name")
    [ "$actual" = "$expected" ] && ok "$name: $actual" || fail "$name is '$actual', expected '$expected'"
done <<EOF
Package virellock
Version $version
Section utils
Architecture $(dpkg --print-architecture)
EOF
field Maintainer | grep -Eq '^[^<>]+ <[^<> ]+@[^<> ]+>$' && ok "Maintainer: $(field Maintainer)" ||
    fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[ "$(field Description | wc -l)" -ge 2 ] && ok "Description has a summary and a body" ||
    fail "Description lacks a long description: $(field Description)"
scripts=$(dpkg-deb -I "$deb" | grep -Eo '\b(pre|post)(inst|rm)\b' | sort -u)
[ -z "$scripts" ] && ok "no maintainer scripts" || fail "maintainer scripts: $scripts"

# Depends, one clause a line, versions and t64 suffixes (Ubuntu 24.04's library names)
# dropped: exactly these, the font as alternatives.
depends=$(field Depends)
clauses=$(sed 's/, */\n/g' <<<"$depends" | sed -E 's/ *\([^)]*\)//g; s/t64( |$)/\1/g' |
    LC_ALL=C sort)
expected_clauses=$(LC_ALL=C sort <<'EOF'
fonts-wqy-microhei | fonts-noto-cjk
libc6
libgcc-s1
libqt6core6
libqt6gui6
libqt6widgets6
libssl3
libstdc++6
libzstd1
EOF
)
if [ "$clauses" = "$expected_clauses" ]; then
    ok "Depends: $depends"
else
    fail "Depends clauses differ (- expected, + packaged):"
    diff <(echo "$expected_clauses") <(echo "$clauses") >&2
fi

# The version a Depends clause asks for, empty when none.
depends_version() {
    sed 's/, */\n/g' <<<"$depends" | sed -E 's/^([^ ]*)t64( |$)/\1\2/' | awk -v p="$1" '$1 == p' |
        sed -n 's/.*(>= *\([^)]*\)).*/\1/p'
}

# Every library the program links comes from a package in Depends. A Debian "t64" library
# package provides the old name on amd64, so that is the name a package depends on.
owner_of() {
    local path=$1 candidate
    for candidate in "$path" "$(readlink -f "$path")" "/usr$path" "${path#/usr}"; do
        dpkg -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1 && return 0
    done
    return 1
}
needed=$(objdump -p "$program" "$cli" | awk '$1 == "NEEDED" {print $2}' | sort -u)
[ -n "$needed" ] || fail "objdump finds no NEEDED libraries in the programs"
for soname in $needed; do
    path=$(ldd "$program" "$cli" | awk -v s="$soname" '$1 == s && $3 ~ /^\// {print $3} $1 ~ "/"s"$" {print $1}' | head -n1)
    package=$(owner_of "$path")
    if [ -z "$package" ]; then
        fail "$soname ($path) belongs to no installed package"
        continue
    fi
    package=${package%t64}
    if sed 's/, */\n/g' <<<"$depends" | awk '{print $1}' | sed 's/t64$//' | grep -qxF "$package"; then
        ok "$soname comes from $package, which Depends names"
    else
        fail "$soname comes from $package, which Depends lacks"
    fi
done

# The minimum versions are at least what dpkg-shlibdeps computes from the symbols used.
mkdir -p "$tmp/shlibdeps/debian"
printf 'Source: virellock\n\nPackage: virellock\nArchitecture: any\n' >"$tmp/shlibdeps/debian/control"
if shlibs=$(cd "$tmp/shlibdeps" && dpkg-shlibdeps --warnings=0 -O "$program" "$cli" 2>&1); then
    for clause in $(sed -n 's/^shlibs:Depends=//p' <<<"$shlibs" | sed 's/ //g; s/,/ /g'); do
        package=${clause%%(*}
        package=${package%t64}
        wanted=$(sed -n 's/.*(>=\(.*\))/\1/p' <<<"$clause")
        ours=$(depends_version "$package")
        if [ -z "$wanted" ]; then
            continue
        elif [ -n "$ours" ] && dpkg --compare-versions "$ours" ge "$wanted"; then
            ok "$package (>= $ours) covers dpkg-shlibdeps' (>= $wanted)"
        else
            fail "$package: Depends asks for '${ours:-no version}', dpkg-shlibdeps needs >= $wanted"
        fi
    done
else
    fail "dpkg-shlibdeps failed (is dpkg-dev installed?): $shlibs"
fi

# --- install and remove in a private dpkg root ------------------------------------------------

if [ "$(id -u)" -eq 0 ]; then
    admin="$tmp/dpkg-root/var/lib/dpkg"
    mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
    : >"$admin/status"
    d=(dpkg --root="$tmp/dpkg-root" --log="$tmp/dpkg.log")
    # The private root has none of the dependencies installed.
    if "${d[@]}" --force-depends -i "$deb" >"$tmp/install.log" 2>&1; then
        status=$("${d[@]}" -s virellock 2>/dev/null | sed -n 's/^Status: //p')
        [ "$status" = "install ok installed" ] && ok "installs" || fail "status after install: '$status'"
        "${d[@]}" --verify virellock >"$tmp/verify.log" 2>&1 && [ ! -s "$tmp/verify.log" ] &&
            ok "installed files match their md5sums" || fail "dpkg --verify: $(cat "$tmp/verify.log")"
    else
        fail "dpkg -i into a private root failed: $(cat "$tmp/install.log")"
    fi
    if "${d[@]}" -r virellock >"$tmp/remove.log" 2>&1; then
        leftovers=$(cd "$tmp/dpkg-root" && find . -mindepth 1 ! -path './var' ! -path './var/lib' \
            ! -path './var/lib/dpkg' ! -path './var/lib/dpkg/*')
        [ -z "$leftovers" ] && ok "removal leaves no files" || fail "left after removal: $leftovers"
        # Without conffiles, removal purges: nothing of the package stays known to dpkg.
        "${d[@]}" -s virellock >/dev/null 2>&1 &&
            fail "dpkg still knows virellock after removal: $("${d[@]}" -s virellock | grep Status)" ||
            ok "removal forgets the package"
    else
        fail "dpkg -r failed: $(cat "$tmp/remove.log")"
    fi
else
    echo "note: not root, so the install and removal check in a private dpkg root is left out"
fi

stop_if_failed
echo "all Debian package checks passed"
