#!/usr/bin/env bash
# Builds the .deb, unpacks it into a temporary root and checks it as an installed system would see
# it: the files, the menu entry, metainfo and manual pages under Debian's own validators, lintian,
# and the installed programs and library running from that root, not from the build tree.
# usage: check-package.sh CPACK CMAKE BUILD_DIR CONSUMER_SOURCE LIBRARY_LOOKUP [PAGE]
# PAGE: the kestrum.html the package was configured with; without it the package holds none.
set -euo pipefail
cpack=$1 cmake=$2 build=$3 consumer=$4 lookup=$5 page=${6:-}
source=$(cd "$(dirname "$0")/../.." && pwd)
# As someone builds a release tarball unpacked with umask 002: files the build makes are
# group-writable unless the package sets their modes.
umask 002

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The control files CPack takes from the source, group-writable as such a tarball has them.
mkdir "$work/control"
extra=()
for file in $(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" | tr ';' ' '); do
  install -m 0664 "$file" "$work/control/"
  extra+=("$work/control/$(basename "$file")")
done
[ ${#extra[@]} -gt 0 ] || { echo "FAIL: no control files found in CPackConfig.cmake" >&2; exit 1; }
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" \
       -D "CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA=$(IFS=';'; echo "${extra[*]}")" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack did not build the package" >&2
  exit 1
fi
debs=("$work"/out/kestrum_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: not one kestrum_*.deb: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libnlopt0 libqt6widgets6; do
  grep -q "$dependency" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done

# --- Files ---
installed_page=$root/usr/share/kestrum/kestrum.html
if [ -n "$page" ]; then
  cmp -s "$page" "$installed_page" || fail "usr/share/kestrum/kestrum.html is not the page built"
elif [ -e "$installed_page" ]; then
  fail "usr/share/kestrum/kestrum.html installed though no page was built"
fi
for file in usr/bin/Kestrum usr/bin/kestrum-estimate usr/bin/kestrum-plan; do
  [ -x "$root/$file" ] || fail "$file is missing or not executable"
done
for file in usr/include/kestrum.h usr/share/applications/kestrum.desktop \
            usr/share/icons/hicolor/scalable/apps/kestrum.svg \
            usr/share/man/man1/Kestrum.1.gz usr/share/man/man1/kestrum-estimate.1.gz \
            usr/share/man/man1/kestrum-plan.1.gz \
            usr/share/doc/kestrum/copyright usr/share/doc/kestrum/changelog.gz \
            usr/share/doc/kestrum/README.md.gz; do
  [ -s "$root/$file" ] || fail "$file is missing or empty"
done

# Modes as Debian's policy has them, whatever the source's or the builder's umask: directories and
# programs 0755, every other file and the control files 0644, maintainer scripts 0755.
while read -r mode name; do
  case "$mode" in
    d*) [ "$mode" = drwxr-xr-x ] ;;
    l*) true ;;
    *) case "$name" in
         ./usr/bin/*) [ "$mode" = -rwxr-xr-x ] ;;
         *) [ "$mode" = -rw-r--r-- ] ;;
       esac ;;
  esac || fail "$name has mode $mode"
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - | awk '{ print $1, $6 }')
while read -r mode name; do
  case "$name" in
    ./preinst|./postinst|./prerm|./postrm|./config) [ "$mode" = -rwxr-xr-x ] ;;
    ./) true ;;
    *) [ "$mode" = -rw-r--r-- ] ;;
  esac || fail "control file $name has mode $mode"
done < <(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | awk '{ print $1, $6 }')

# The licence: MIT, in the copyright file word for word as in LICENSE, and in the metainfo.
copyright=$root/usr/share/doc/kestrum/copyright
grep -q '^License: Expat$' "$copyright" || fail "the copyright file does not give the MIT (Expat) licence"
diff <(sed -n '/^License: Expat$/,$ { /^License:/d; s/^ //; s/^\.$//; p }' "$copyright") \
     <(sed '1,/^Copyright/d' "$source/LICENSE" | sed '/./,$!d') >"$work/licence.diff" ||
  fail "the licence in the copyright file is not LICENSE's: $(cat "$work/licence.diff")"
grep -q "^Copyright: $(sed -n 's/^Copyright (c) //p' "$source/LICENSE")$" "$copyright" ||
  fail "the copyright file's holder is not LICENSE's"
grep -q '<project_license>MIT</project_license>' "$root"/usr/share/metainfo/*.metainfo.xml ||
  fail "the metainfo does not give the MIT licence"

library=$(find "$root/usr/lib" -name libKestrum.so.1)
[ -n "$library" ] || { echo "FAIL: libKestrum.so.1 is not installed" >&2; exit 1; }
libdir=$(dirname "$library")
readelf -d "$library" | grep -q 'SONAME.*\[libKestrum\.so\.1\]' || fail "libKestrum.so.1 has another SONAME"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "no metainfo installed"

# --- Menu entry, icon, metainfo ---
desktop=$root/usr/share/applications/kestrum.desktop
desktop-file-validate "$desktop" || fail "kestrum.desktop does not validate"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/usr/bin/$exec_program" ] || fail "Exec=$exec_program is not an installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no icon file"
file -b "$root/usr/share/icons/hicolor/scalable/apps/kestrum.svg" | grep -q SVG || fail "the icon is not SVG"
appstreamcli validate --no-net "${metainfo[0]}" || fail "the metainfo does not validate"
grep -q '<launchable type="desktop-id">kestrum.desktop</launchable>' "${metainfo[0]}" ||
  fail "the metainfo does not launch kestrum.desktop"

# --- Manual pages: no warnings from groff, and every option the installed program takes ---
export LC_ALL=C.UTF-8 MANWIDTH=200
for page in Kestrum kestrum-estimate kestrum-plan; do
  if ! man --warnings -l "$root/usr/share/man/man1/$page.1.gz" >"$work/$page.txt" 2>"$work/$page.err" ||
     [ -s "$work/$page.err" ] || ! grep -q "^NAME" "$work/$page.txt"; then
    fail "the manual page of $page does not render cleanly: $(cat "$work/$page.err")"
  fi
done
grep -q 'user\.txt' "$work/Kestrum.txt" || fail "Kestrum(1) does not say where user.txt goes"

# --- The installed programs against the installed library ---
readelf -d "$root/usr/bin/kestrum-estimate" | grep -qE 'RPATH|RUNPATH' &&
  fail "the installed kestrum-estimate carries a library path of its own"
export LD_LIBRARY_PATH=$libdir
resolved=$(ldd "$root/usr/bin/kestrum-estimate" | sed -n 's/.*libKestrum\.so\.1 => \([^ ]*\).*/\1/p')
[ "$resolved" = "$library" ] || fail "kestrum-estimate resolves libKestrum.so.1 to '$resolved', not $library"
# One version: the package's, the command-line programs', the metainfo's and every manual page's.
# (The window's About and report show the same: Form1_test.)
version=$(dpkg-deb -f "$deb" Version)
for program in kestrum-estimate kestrum-plan; do
  said=$("$root/usr/bin/$program" --version 2>&1) || true
  [ "$said" = "$program $version" ] || fail "$program --version says '$said', the package $version"
done
grep -q "<release version=\"$version\"" "$root"/usr/share/metainfo/*.metainfo.xml ||
  fail "the metainfo's release is not $version"
for page in Kestrum kestrum-estimate kestrum-plan; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"$page $version\"" ||
    fail "the manual page of $page does not give version $version"
done

if "$root/usr/bin/kestrum-estimate" --help >"$work/help.txt" 2>&1; then
  for option in $(grep -oE -- '--[a-z][a-z-]+' "$work/help.txt" | sort -u); do
    grep -qe "$option" "$work/kestrum-estimate.txt" || fail "kestrum-estimate(1) lacks $option"
  done
else
  fail "the installed kestrum-estimate --help failed: $(cat "$work/help.txt")"
fi
printf 'block,n100,n111,n101,n110\nmarket,10,20,5,7\n' >"$work/survey.csv"
fit=$("$root/usr/bin/kestrum-estimate" --digits 3 --plots "$work/plots" "$work/survey.csv" |
      awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "log_likelihood") c = i }
               $1 == "block" { print $c }') || true
[ "$fit" = "-52.741" ] || fail "the installed kestrum-estimate fits (10,20,5,7) to '$fit', not -52.741"
[ -s "$work/plots/market.png" ] || fail "the installed kestrum-estimate made no plot: its plot module is not found"

# The planner: every option in its page, and a plan with its curve drawn.
if "$root/usr/bin/kestrum-plan" --help >"$work/plan-help.txt" 2>&1; then
  for option in $(grep -oE -- '--[a-z][a-z-]+' "$work/plan-help.txt" | sort -u); do
    grep -qe "$option" "$work/kestrum-plan.txt" || fail "kestrum-plan(1) lacks $option"
  done
else
  fail "the installed kestrum-plan --help failed: $(cat "$work/plan-help.txt")"
fi
printf 'stratum,blocks,dogs_per_block,dogs_cv,P,S
centre,40,25,0.4,0.6,0.8
town,120,15,0.5,0.5,0.85
edge,300,8,0.5,0.45,0.9
' >"$work/plan.csv"
blocks=$("$root/usr/bin/kestrum-plan" --target 20 --plot "$work/curve.png" "$work/plan.csv" |
         awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "blocks_to_count") c = i }
                  NR > 1 { last = $c } END { print last }') || true
[ "$blocks" = "80" ] || fail "the installed kestrum-plan plans '$blocks' blocks for ±20%, not 80"
[ -s "$work/curve.png" ] || fail "the installed kestrum-plan drew no curve"

# A program of someone else's finds the library through find_package in the root alone.
if "$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" \
       -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
       >"$work/consumer.log" 2>&1 &&
   "$cmake" --build "$work/consumer" >>"$work/consumer.log" 2>&1; then
  grep -q "^Kestrum_DIR:PATH=$root/" "$work/consumer/CMakeCache.txt" ||
    fail "find_package(Kestrum) found $(grep '^Kestrum_DIR' "$work/consumer/CMakeCache.txt")"
  value=$("$work/consumer/consumer") || true
  [ "$value" = "-52.741" ] || fail "a program linking Kestrum::Kestrum computes '$value', not -52.741"
else
  cat "$work/consumer.log" >&2
  fail "a program cannot find_package(Kestrum) and link Kestrum::Kestrum"
fi

# The window binds the library at run time, from beside itself or else from the system's path,
# where a run-time install need not have the development link libKestrum.so.
rm "$libdir/libKestrum.so"
found=$("$lookup" 2>&1) || true
[ "$found" = "$library" ] || fail "the window's lookup binds '$found', not $library"

# The window's working folder: the folder it starts in, unless that is the root folder (as from a
# desktop menu), when it is the home folder. Its cwd is read once its platform plugin is loaded.
mkdir -p "$work/home" "$work/field"
for row in "/ $work/home" "$work/field $work/field"; do
  read -r start expected <<<"$row"
  (cd "$start" && HOME=$work/home QT_QPA_PLATFORM=offscreen exec "$root/usr/bin/Kestrum") \
    >"$work/window.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 300); do
    grep -q libqoffscreen "/proc/$pid/maps" 2>/dev/null && break
    sleep 0.1
  done
  folder=$(readlink "/proc/$pid/cwd" || echo "(the window ended: $(cat "$work/window.log"))")
  [ "$folder" = "$expected" ] || fail "the window started in $start works in $folder, not $expected"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done

# --- lintian: no errors (warnings are listed for the record) ---
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || fail "lintian reports errors"
grep -v 'running with root privileges' "$work/lintian.txt" || true

[ "$failures" -eq 0 ] || { echo "$failures checks failed" >&2; exit 1; }
echo "package $(basename "$deb") checked"
