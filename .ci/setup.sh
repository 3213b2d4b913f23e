# Shared by ./tarrovel and ./run-tests: packages, configuration, build.
# Build output goes to standard error so that the command's results alone
# reach standard output.

TV_PACKAGES=(cmake make g++ pkg-config libplist-dev libgtest-dev libgmock-dev attr e2fsprogs util-linux unar python3 strace)

tv_missing_packages() {
  local missing=() p
  for p in "${TV_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

tv_install_packages() {
  local missing
  missing="$(tv_missing_packages)"
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "tarrovel: installing $missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 || true
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >&2
  else
    echo "tarrovel: missing Debian packages; install them with:" >&2
    echo "  sudo apt-get install $missing" >&2
    exit 2
  fi
}

# tv_setup SOURCE_DIR BUILD_DIR: configure on first use, then build what changed.
tv_setup() {
  local src="$1" dir="$2"
  tv_install_packages
  if [ ! -f "$src/$dir/CMakeCache.txt" ]; then
    # shellcheck disable=SC2086
    cmake -S "$src" -B "$src/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TARROVEL_CMAKE_ARGS:-} >&2
  fi
  if ! cmake --build "$src/$dir" -j"$(nproc)" >"$src/$dir/last-build.log" 2>&1; then
    cat "$src/$dir/last-build.log" >&2
    echo "tarrovel: the build failed (log: $dir/last-build.log)" >&2
    exit 2
  fi
  # A build that passes with warnings still shows them.
  if grep -q 'warning:' "$src/$dir/last-build.log"; then cat "$src/$dir/last-build.log" >&2; fi
}
