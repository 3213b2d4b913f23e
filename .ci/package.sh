#!/usr/bin/env bash
# CI, as root: builds the Debian package, checks it with lintian, installs it
# with apt-get, runs the installed tarrovel from PATH as an unprivileged user on
# real sidecars (menu, a zap, the alert answers), checks the manual page and
# the completion, purges it and checks that none of its files remain.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
[ "$(id -u)" -eq 0 ] || { echo "package: run as root" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive

tools=(lintian man-db bash-completion)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update -qq >&2 || true
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
# --install-only: the tools alone (.ci/packages.sh).
[ "${1:-}" = "--install-only" ] && exit 0

./tarrovel --version >/dev/null   # the README's set-up
rm -f build/tarrovel_*.deb
cmake --build build --target package -j2 >&2
deb="$(ls build/tarrovel_*_amd64.deb)"
echo "package: $deb, $(stat -c %s "$deb") bytes" >&2
dpkg-deb -f "$deb" Depends Recommends Suggests >&2

# Clean at the pedantic level: any tag fails the run, but the one every first
# upload has (its changelog closes no bug).
lintian --fail-on error,warning,info,pedantic --display-level '>=pedantic' \
  --suppress-tags initial-upload-closes-no-bugs "$deb" >&2

fail() { echo "package: FAIL: $*" >&2; exit 1; }
if dpkg-query -W -f='${Status}' tarrovel 2>/dev/null | grep -q 'ok installed'; then
  apt-get purge -y -qq tarrovel >&2
fi
uca=/etc/xdg/Thunar/uca.xml
uca_before="$(cat "$uca" 2>/dev/null || echo absent)"
apt-get install -y -qq "$root/$deb" >&2
grep -qF '/usr/bin/tarrovel' "$uca" || fail "no Thunar actions in $uca after the install"

files="$(mktemp)"
work="$(mktemp -d /tmp/tarrovel-package.XXXXXX)"
trap 'rm -rf "$work" "$files"' EXIT
dpkg -L tarrovel >"$files"

# Under the package, a system-wide `tarrovel install` changes nothing.
tree() { find /usr /etc /var/lib -xdev \( -path /var/lib/apt -o -path /var/lib/dpkg \) -prune -o -printf '%p %s %T@\n' | sort; }
tree >"$work/before"
mkdir "$work/home"
out="$(HOME="$work/home" XDG_CONFIG_HOME= XDG_DATA_HOME= tarrovel install)" || fail "tarrovel install under the package failed"
grep -q 'package already provides' <<<"$out" || fail "tarrovel install under the package said: $out"
tree >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "tarrovel install under the package changed the files above"
[ -z "$(ls -A "$work/home")" ] || fail "tarrovel install under the package wrote into its home: $(find "$work/home")"
rm -f "$work/before" "$work/after"

# Nothing installed points back into the checkout.
while read -r f; do
  [ -f "$f" ] || continue
  if grep -qF "$root" "$f"; then fail "$f names $root"; fi
done <"$files"

# A tree with real sidecars, as a Mac leaves them on a USB stick: FinderInfo
# with the custom-icon flag, and a resource fork.
chmod 755 "$work"
mkdir -p "$work/home" "$work/stick/Folder"
sidecar() { # FILE FORK_BYTES
  printf 'contents' >"$1"
  python3 - "$1" "$2" <<'EOF'
import os, struct, sys
path, fork = sys.argv[1], int(sys.argv[2])
d, n = os.path.split(path)
finder = b"TEXTttxt" + struct.pack(">H", 0x0400) + bytes(22)
head = struct.pack(">II16sH", 0x00051607, 0x00020000, b"Mac OS X        ", 2)
head += struct.pack(">III", 9, 50, 32) + struct.pack(">III", 2, 82, fork)
open(os.path.join(d, "._" + n), "wb").write(head + finder + b"r" * fork)
EOF
}
fork_length() { python3 -c 'import struct,sys; b=open(sys.argv[1],"rb").read(); print(struct.unpack(">I", b[26+12+8:26+12+12])[0])' "$1"; }
sidecar "$work/stick/Folder/one.txt" 300
sidecar "$work/stick/Folder/two.txt" 300
sidecar "$work/stick/Folder/three.txt" 300
chown -R 65534:65534 "$work/home" "$work/stick"
user() { setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 "$@"; }

[ "$(command -v tarrovel)" = /usr/bin/tarrovel ] || fail "tarrovel is not /usr/bin/tarrovel"
out="$(user tarrovel menu "$work/stick/Folder/one.txt")" || fail "menu"
grep -q 'Zap Resource Fork\.\.\.' <<<"$out" || fail "menu offers no zap: $out"
user tarrovel menu --json "$work/stick/Folder/two.txt" | grep -q '"command": 2001' || fail "menu --json"

# The alert answers: Cancel changes nothing, Zap and the default button zap,
# end of input answers Cancel.
echo Cancel | user tarrovel run "Zap Resource Fork..." "$work/stick/Folder/one.txt" 2>/dev/null || fail "run, Cancel"
[ "$(fork_length "$work/stick/Folder/._one.txt")" = 300 ] || fail "Cancel zapped"
user tarrovel run 2001 "$work/stick/Folder/one.txt" </dev/null 2>/dev/null || fail "run, end of input"
[ "$(fork_length "$work/stick/Folder/._one.txt")" = 300 ] || fail "end of input zapped"
echo Zap | user tarrovel run "Zap Resource Fork..." "$work/stick/Folder/one.txt" 2>/dev/null || fail "run, Zap"
[ "$(fork_length "$work/stick/Folder/._one.txt")" = 0 ] || fail "Zap left the fork"
echo | user tarrovel run 2001 "$work/stick/Folder/two.txt" 2>/dev/null || fail "run, default button"
[ "$(fork_length "$work/stick/Folder/._two.txt")" = 0 ] || fail "the default button left the fork"
user tarrovel run --yes -v 2001 "$work/stick/Folder/three.txt" >"$work/out" 2>/dev/null || fail "run --yes"
[ "$(fork_length "$work/stick/Folder/._three.txt")" = 0 ] || fail "--yes left the fork"
grep -q three.txt "$work/out" || fail "-v printed no path: $(cat "$work/out")"
status=0
user tarrovel run "No Such Item" "$work/stick/Folder" </dev/null 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "an unknown item gave status $status"

if grep -qs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  fail "dpkg on this machine leaves out manual pages (path-exclude in /etc/dpkg/dpkg.cfg.d)"
fi
[ "$(man -w tarrovel)" = /usr/share/man/man1/tarrovel.1.gz ] || fail "man -w tarrovel: $(man -w tarrovel 2>&1)"
MANWIDTH=80 man tarrovel 2>/dev/null | grep -q 'EXIT STATUS' || fail "man tarrovel"
completion=/usr/share/bash-completion/completions/tarrovel
[ -f "$completion" ] || fail "no $completion"
got="$(user bash -c "source $completion; COMP_WORDS=(tarrovel ru); COMP_CWORD=1; _tarrovel; echo \${COMPREPLY[*]}")"
[ "$got" = run ] || fail "completion of 'tarrovel ru': $got"
got="$(cd "$work/stick" && user bash -c "source $completion; COMP_WORDS=(tarrovel run '' Folder/one.txt); COMP_CWORD=2; _tarrovel; printf '%s\n' \"\${COMPREPLY[@]}\"")"
grep -qx '2001' <<<"$got" && grep -qxF 'Zap\ Resource\ Fork...' <<<"$got" || fail "completion of the items: $got"

apt-get purge -y -qq tarrovel >&2
left=()
while read -r f; do
  # Folders shared with other packages stay; every file and every folder of its own goes.
  if [ -d "$f" ] && [ ! -L "$f" ]; then
    case "$f" in */tarrovel | */tarrovel/* | */Tarrovel.plugin*) [ -e "$f" ] && left+=("$f") ;; esac
  elif [ -e "$f" ] || [ -L "$f" ]; then
    left+=("$f")
  fi
done <"$files"
[ "${#left[@]}" -eq 0 ] || fail "left after the purge: ${left[*]}"
[ "$(cat "$uca" 2>/dev/null || echo absent)" = "$uca_before" ] || fail "$uca is not as before the install"
[ ! -e /var/lib/tarrovel ] || fail "/var/lib/tarrovel left after the purge"
found="$(find /usr/local /etc -xdev -iname '*tarrovel*' 2>/dev/null)"
[ -z "$found" ] || fail "left after the purge: $found"
echo "package: ok" >&2
