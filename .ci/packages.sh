#!/usr/bin/env bash
# CI, as root: installs every Debian package that CI needs and that is missing
# (those of ./run-tests, the compiler cache, the exFAT tools, the desktop
# tests' file managers, the package checks' tools, clang for fuzzing), one apt
# run after the other, so that the steps that follow, side by side, install
# nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# shellcheck source=.ci/setup.sh
source "$root/.ci/setup.sh"
export DEBIAN_FRONTEND=noninteractive
tv_install_packages "${TV_PACKAGES[@]}" "${TV_TEST_PACKAGES[@]}" ccache
# The exFAT stick of the case-insensitive volume test (it skips without them).
tv_install_packages exfatprogs exfat-fuse
bash .ci/desktop.sh --install-only
bash .ci/package.sh --install-only
tv_install_packages clang libclang-rt-14-dev
