#!/usr/bin/env bash
# `cmake --install` lays out a prefix that stands on its own: moved elsewhere,
# its command still finds its library and bundle, and no installed file names
# the source or the build tree. Marked as the Debian package's, its
# system-wide install changes nothing.
set -euo pipefail
src="$1" build="$2"
work="$(mktemp -d /tmp/tarrovel-install.XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
for f in bin/tarrovel lib/tarrovel/libtarrovel-platform.so lib/tarrovel/plugins/Tarrovel.plugin/Contents/Info.plist \
  share/man/man1/tarrovel.1 share/bash-completion/completions/tarrovel; do
  [ -f "$work/moved/$f" ] || fail "no $f"
done
if grep -rlF -e "$src" -e "$build" "$work/moved"; then fail "installed files above name the checkout"; fi

mkdir -p "$work/home" "$work/files"
printf 'data' >"$work/files/a.txt"
out="$(env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 "$work/moved/bin/tarrovel" menu --json "$work/files/a.txt")" ||
  fail "the moved command does not run"
grep -q '"command": 2001' <<<"$out" || fail "the moved command offers no zap: $out"

if [ "$(id -u)" = 0 ]; then
  printf 'the package\n' >"$work/moved/share/tarrovel/packaged"
  files() { find "$work" /usr/local /etc/xdg -printf '%p %s %T@\n' 2>/dev/null | sort; }
  before="$(files)"
  out="$(env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 "$work/moved/bin/tarrovel" install)" ||
    fail "install under the package failed"
  grep -q 'package already provides' <<<"$out" || fail "install under the package said: $out"
  [ "$(files)" = "$before" ] || fail "install under the package changed files"
fi
echo ok
