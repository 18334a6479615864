#!/usr/bin/env bash
# Checks a package made by scripts/package.sh the way a user meets it, in a
# scratch root (dpkg-deb -x) and a scratch home:
# - its files are where the loader, systemd and man look for them, and the
#   binaries carry no run path (the helper PIE, with its own libstdc++);
# - the extracted tool imports a picture and the extracted helper answers,
#   each loading its modules from the scratch root (the loader's trace);
# - systemd-analyze verifies the user unit, lintian finds no error, and the
#   manual pages and the completion work (scripts/check_docs.sh).
#   scripts/check_package.sh build-package/tolvek-photos_1-1_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: scripts/check_package.sh PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
fail() { echo "check_package: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$root"
helper=$root/usr/bin/tolvek-photos
tool=$root/usr/bin/tolvek-photos-library
unit=$root/usr/lib/systemd/user/tolvek-photos-watch.service
for file in "$helper" "$tool" "$unit" "$root"/usr/lib/tolvek-photos/libtolvek_{media,jpeg,download}.so \
            "$root"/usr/share/doc/tolvek-photos/{copyright,changelog.Debian.gz}; do
  [ -f "$file" ] || fail "the package holds no ${file#"$root"}"
done
for file in "$helper" "$tool" "$root"/usr/lib/tolvek-photos/*.so; do
  if readelf -d "$file" | grep -qE '\((RPATH|RUNPATH)\)'; then fail "${file#"$root"} carries a run path"; fi
done
readelf -h "$helper" | grep -q 'Type:.*DYN' || fail "the helper is not a position-independent executable"
if readelf -d "$helper" | grep -q 'libstdc++'; then fail "the helper needs the shared libstdc++"; fi
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies computed: $(dpkg-deb -f "$deb" Depends)"

# The programs in a scratch home, with the loader's trace of what they map.
export HOME=$scratch/home XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config \
  XDG_CACHE_HOME=$scratch/cache XDG_STATE_HOME=$scratch/state TMPDIR=$scratch
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
# Every module a run loads comes from the scratch root.
loaded_from_root() {  # TRACE MODULE
  local paths
  paths=$(grep "generating link map" "$1" | sed -n "s|.*file=\(.*/$2\) \[.*|\1|p" | sort -u)
  [ -n "$paths" ] || fail "$2 was not loaded (trace in $1)"
  while read -r path; do
    path=$(realpath -m "$path")
    case "$path" in "$root"/usr/lib/tolvek-photos/*) ;; *) fail "$2 loaded from $path" ;; esac
  done <<<"$paths"
}

version=$(dpkg-deb -f "$deb" Version)
[ "$("$tool" --version)" = "tolvek-photos-library ${version%-*}" ] || fail "tool --version: $("$tool" --version)"
"$helper" >"$scratch/usage.json" 2>&1 && fail "the helper without a command exits 0"
grep -q '"error":"usage"' "$scratch/usage.json" || fail "the helper's usage: $(cat "$scratch/usage.json")"

# A picture larger than the stored derivatives, imported by the tool.
ffmpeg -loglevel error -f lavfi -i testsrc=size=800x600 -frames:v 1 "$scratch/picture.jpg"
LD_DEBUG=files "$tool" import "$scratch/picture.jpg" >"$scratch/import.out" 2>"$scratch/import.trace" ||
  fail "import: $(grep -v '^ *[0-9]*:' "$scratch/import.trace")"
loaded_from_root "$scratch/import.trace" libtolvek_media.so
id=$(cut -f1 "$scratch/import.out")
[ -n "$id" ] || fail "import printed no identifier"
"$tool" access grant >/dev/null

"$helper" list >"$scratch/list.json"
grep -qF "\"${id//\//\\/}\"" "$scratch/list.json" || fail "the helper's list lacks $id: $(cat "$scratch/list.json")"
# A size below the stored derivatives: shrunk by the JPEG module.
LD_DEBUG=files "$helper" thumbs 64 "$id" >"$scratch/thumbs.json" 2>"$scratch/thumbs.trace" ||
  fail "thumbs: $(cat "$scratch/thumbs.json")"
grep -qF 'data:image\/jpeg;base64,' "$scratch/thumbs.json" || fail "thumbs: $(cat "$scratch/thumbs.json")"
loaded_from_root "$scratch/thumbs.trace" libtolvek_jpeg.so

# The unit names /usr/bin, absent from the scratch root: a copy whose one
# ExecStart line names the extracted tool is what systemd-analyze verifies.
exec_line='ExecStart="/usr/bin/tolvek-photos-library" watch'
grep -qxF "$exec_line" "$unit" || fail "the unit's ExecStart: $(grep ExecStart "$unit")"
if grep -q '^Environment=' "$unit"; then fail "the installed unit names a library"; fi
mkdir "$scratch/unit"
sed "s|^ExecStart=\"/usr/bin/|ExecStart=\"$root/usr/bin/|" "$unit" >"$scratch/unit/tolvek-photos-watch.service"
[ "$(diff "$unit" "$scratch/unit/tolvek-photos-watch.service" | grep -c '^[<>]')" = 2 ] || fail "rewriting ExecStart"
systemd-analyze verify "$scratch/unit/tolvek-photos-watch.service"

lintian --fail-on error --tag-display-limit 0 "$deb"

bash scripts/check_docs.sh "$root"
echo "check_package: $(basename "$deb") is sound"
