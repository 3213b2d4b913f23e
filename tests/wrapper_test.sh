#!/usr/bin/env bash
# The checkout's ./tarrovel for every user: on a copy of the checkout set up by
# root, the unprivileged user 65534 runs the built command while it is up to
# date and is told what to run once a source changed; two runs at once after
# a change both build and succeed. The copy's first run builds the command, its
# library and bundle alone, with the configuration of the tree under test
# (TARROVEL_CMAKE_ARGS and the compiler launcher come from the environment), so
# that a compiler cache serves the copy what that tree compiled.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "needs root (to set up as root and run as 65534)"; exit 77; }

fail() { echo "FAIL: $*"; exit 1; }
work="$(mktemp -d /tmp/tarrovel-wrapper.XXXXXX)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
copy="$work/checkout"
mkdir "$copy"
# The files of the checkout as they are now, committed or not (without git:
# everything but the build trees).
if (cd "$src" && git ls-files -co --exclude-standard -z >"$work/files.list" 2>/dev/null); then
  (cd "$src" && tar --null -T "$work/files.list" --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy"
else
  (cd "$src" && tar --exclude='./build*' --exclude=./.git -cf - .) | tar -xf - -C "$copy"
fi
[ -x "$copy/tarrovel" ] || fail "the copy of the checkout has no ./tarrovel"
# The cache's paths relative to the copy, as the tree's are to the checkout.
export CCACHE_BASEDIR="$copy"
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$@"; }

mkdir -p "$work/home" "$work/files/Folder"
printf 'data' >"$work/files/Folder/a.txt"
chown -R 65534:65534 "$work/home" "$work/files"

"$copy/tarrovel" --version >"$work/out" 2>"$work/err" || { cat "$work/err"; fail "root set-up"; }
grep -q '0\.' "$work/out" || fail "no version after the set-up: $(cat "$work/out")"
[ "$(ls "$copy/build/bin")" = tarrovel ] || fail "the first run built more than the command: $(ls "$copy/build/bin")"

# Up to date: the user runs what root built, from the build tree's own bundle.
as_user "$copy/tarrovel" menu --json "$work/files/Folder/a.txt" >"$work/out" 2>"$work/err" ||
  { cat "$work/err"; fail "unprivileged run of an up-to-date tree"; }
grep -q '"Zap Resource Fork..."' "$work/out" || fail "unprivileged menu: $(cat "$work/out" "$work/err")"

# A changed source: the user cannot build, and is told what to run.
sleep 1
touch "$copy/host/main.cpp"
status=0
as_user "$copy/tarrovel" --version >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "unprivileged run of a stale tree: status $status, $(cat "$work/err")"
grep -q "needs building" "$work/err" && grep -qF "sudo $copy/tarrovel --version" "$work/err" ||
  fail "the message names no command: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a stale tree ran: $(cat "$work/out")"

# Two runs at once build in turn and both run.
"$copy/tarrovel" --version >"$work/out1" 2>"$work/err1" & one=$!
"$copy/tarrovel" --version >"$work/out2" 2>"$work/err2" & two=$!
wait "$one" || { cat "$work/err1"; fail "first of two runs at once"; }
wait "$two" || { cat "$work/err2"; fail "second of two runs at once"; }
cmp -s "$work/out1" "$work/out2" && [ -s "$work/out1" ] || fail "the two runs printed different versions"

as_user "$copy/tarrovel" --version >/dev/null 2>"$work/err" || fail "still stale after the rebuild: $(cat "$work/err")"
echo "ok"
