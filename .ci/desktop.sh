#!/usr/bin/env bash
# CI: the desktop tests for real. Installs the file managers, Xvfb, xdotool,
# ImageMagick, zenity and kdialog, a compositing manager and a Japanese font,
# then runs the tests labelled "desktop" (each starts its own display and
# D-Bus session). Elsewhere, without these packages, the same tests report
# themselves skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
# qdbus-qt5: qdbus, which drives kdialog's progress bar under KDE. libglib2.0-bin:
# gdbus, which posts the summary notification; python3-gi: the tests' stand-in
# for the notification service.
# Dolphin with --no-install-recommends: 137 packages, 46 MB to download (164 MB
# installed), about two minutes to install on the two-core machine.
DESKTOP_PACKAGES=(nautilus python3-nautilus nemo nemo-python thunar dolphin kdialog xvfb xauth
  xdotool imagemagick zenity xcompmgr dbus-daemon locales fonts-ipafont-gothic qdbus-qt5 libglib2.0-bin
  python3-gi)
missing=()
for p in "${DESKTOP_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || true
  for try in 1 2 3; do
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 && break
    # Another apt run may hold the dpkg lock for a while.
    [ "$try" = 3 ] && exit 1
    sleep 20
  done
fi
# --install-only: the packages alone (.ci/run then runs the whole suite).
[ "${1:-}" = "--install-only" ] && exit 0
start=$(date +%s)
./run-tests -L desktop
echo "desktop tests: $(( $(date +%s) - start )) s" >&2
