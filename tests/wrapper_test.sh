#!/usr/bin/env bash
# The checkout's ./tarrovel for every user: on a copy of the checkout set up by
# root, the unprivileged user 65534 runs the built command while it is up to
# date and is told what to run once a source changed; two runs at once after
# a change both build and succeed. One copy, built once (without the tests).
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "needs root (to set up as root and run as 65534)"; exit 77; }

work="$(mktemp -d /tmp/tarrovel-wrapper.XXXXXX)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
copy="$work/checkout"
mkdir "$copy"
# The files of the checkout as they are now, committed or not.
(cd "$src" && git ls-files -co --exclude-standard -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) |
  tar -xf - -C "$copy"
export TARROVEL_CMAKE_ARGS="-DTARROVEL_TESTS=OFF"
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/home" "$work/files/Folder"
printf 'data' >"$work/files/Folder/a.txt"
chown -R 65534:65534 "$work/home" "$work/files"

"$copy/tarrovel" --version >"$work/out" 2>"$work/err" || { cat "$work/err"; fail "root set-up"; }
grep -q '0\.' "$work/out" || fail "no version after the set-up: $(cat "$work/out")"

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
