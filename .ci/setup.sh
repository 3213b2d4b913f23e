# Shared by ./tarrovel and ./run-tests: packages, configuration, build.
# Build output goes to standard error so that the command's results alone
# reach standard output.

# What the command, its library and bundle need to build (and the Debian
# package: dpkg-dev and file for its dependencies)...
TV_PACKAGES=(cmake make g++ pkg-config libplist-dev util-linux dpkg-dev file)
# ...and what the tests need besides.
TV_TEST_PACKAGES=(libgtest-dev libgmock-dev attr acl e2fsprogs unar python3 strace)

# tv_missing_packages PACKAGE...: those of them that are not installed.
tv_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

tv_install_packages() {
  local missing
  missing="$(tv_missing_packages "$@")"
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

# The build stamp's time is taken when a build starts, so a source saved while
# that build runs still counts as changed afterwards.
TV_STAMP=.tarrovel-built

# Whether a file of the checkout that the build reads is newer than the last
# build that ./tarrovel or ./run-tests finished (documents and other build
# trees do not count). Reads only.
tv_changed_since_build() {
  local src="$1" build="$2"
  [ -f "$build/$TV_STAMP" ] && [ -f "$build/CMakeCache.txt" ] || return 0
  [ -n "$(find "$src" \( -path "$src/build*" -o -path "$src/.git" -o -path "$src/.cache" -o -path "$src/bench/out" \) -prune \
    -o ! -name '*.md' -newer "$build/$TV_STAMP" -print -quit 2>/dev/null)" ]
}

tv_owner_hint() {
  local owner
  owner="$(stat -c %U "$1" 2>/dev/null || echo root)"
  if [ "$owner" = root ]; then
    echo "sudo $2"
  else
    echo "sudo -u $owner $2  (or run it as $owner)"
  fi
}

# tv_setup SOURCE_DIR BUILD_DIR [WHAT]: configure on first use, then build
# what changed, holding a lock on the build folder so that runs at the same
# time take turns. WHAT is "command" (the default: the command, its library and
# bundle, without the test packages; ./tarrovel, the benchmarks) or "tests"
# (everything, the tests included; ./run-tests). A user who cannot write the build folder runs what is built
# when it is up to date, and is told what to run as the folder's owner
# otherwise.
tv_setup() {
  local src="$1" dir="$2" what="${3:-command}"
  local build="$src/$dir" command="$src/tarrovel --version"
  [ "$what" = tests ] && command="$src/run-tests"
  if [ -d "$build" ] && [ ! -w "$build" ] || { [ ! -d "$build" ] && [ ! -w "$(dirname "$build")" ]; }; then
    if [ ! -d "$build" ]; then
      echo "tarrovel: $build is not built yet and you cannot create it; build it once with:" >&2
      echo "  $(tv_owner_hint "$src" "$command")" >&2
      exit 2
    fi
    # A shared lock: reads the tree while no build of the owner's runs.
    exec 8<"$build"
    flock -s 8
    if tv_changed_since_build "$src" "$build"; then
      echo "tarrovel: $build needs building and you cannot write it; build it with:" >&2
      echo "  $(tv_owner_hint "$build" "$command")" >&2
      echo "then run this again." >&2
      exit 2
    fi
    exec 8<&-
    return 0
  fi
  local configure=() target=()
  if [ "$what" = tests ]; then
    tv_install_packages "${TV_PACKAGES[@]}" "${TV_TEST_PACKAGES[@]}"
    # A tree that ./tarrovel configured has no tests yet.
    grep -qs '^TARROVEL_TESTS:BOOL=ON$' "$build/CMakeCache.txt" || configure=(-DTARROVEL_TESTS=ON)
  else
    tv_install_packages "${TV_PACKAGES[@]}"
    [ -f "$build/CMakeCache.txt" ] || configure=(-DTARROVEL_TESTS=OFF)
    # The command depends on its library, the bundle and the integrations.
    target=(--target tarrovel)
  fi
  mkdir -p "$build"
  exec 8<"$build"
  flock -x 8
  if [ ${#configure[@]} -gt 0 ] || [ ! -f "$build/CMakeCache.txt" ]; then
    # shellcheck disable=SC2086
    cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" ${TARROVEL_CMAKE_ARGS:-} >&2
  fi
  touch "$build/$TV_STAMP.next"
  if ! cmake --build "$build" "${target[@]}" -j"$(nproc)" >"$build/last-build.log" 2>&1; then
    cat "$build/last-build.log" >&2
    echo "tarrovel: the build failed (log: $dir/last-build.log)" >&2
    exit 2
  fi
  # A build that passes with warnings still shows them.
  if grep -q "warning:" "$build/last-build.log"; then cat "$build/last-build.log" >&2; fi
  mv -f "$build/$TV_STAMP.next" "$build/$TV_STAMP"
  exec 8<&-
}
