#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time on a scratch copy of its seed corpus: <dir>/corpus/<fuzzer>/
# when there is one, else the files of <dir>/corpus.
# Fails on any crash, leak, timeout or sanitizer report.
# FUZZ_SECONDS (default 60) sets the time per fuzzer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"
jobs=2

command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed" >&2; exit 2; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARROVEL_FUZZ=ON -DTARROVEL_TESTS=OFF >&2
fi

mapfile -t sources < <(cd "$root" && ls platform/*/*_fuzz.cpp host/*_fuzz.cpp 2>/dev/null)
if [ "${#sources[@]}" -eq 0 ]; then
  echo "fuzz: no fuzzers" >&2
  exit 0
fi

targets=()
for src in "${sources[@]}"; do
  targets+=("$(basename "$src" .cpp)")
done
cmake --build "$build" --target "${targets[@]}" -j"$jobs" >&2

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
for src in "${sources[@]}"; do
  name="$(basename "$src" .cpp)"
  seeds="$root/$(dirname "$src")/corpus"
  [ -d "$seeds/$name" ] && seeds="$seeds/$name"
  work="$scratch/$name"
  mkdir -p "$work/corpus" "$work/artifacts"
  if [ -d "$seeds" ]; then
    find "$seeds" -maxdepth 1 -type f -exec cp {} "$work/corpus/" \;
  fi
  echo "fuzz: $name for ${seconds}s" >&2
  if ! ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" \
      >"$work/log" 2>&1; then
    echo "fuzz: $name FAILED; the end of its log:" >&2
    tail -n 60 "$work/log" >&2
    for a in "$work"/artifacts/*; do
      [ -e "$a" ] || continue
      mkdir -p "$root/build-fuzz/artifacts"
      cp "$a" "$root/build-fuzz/artifacts/"
      echo "fuzz: input kept in build-fuzz/artifacts/$(basename "$a")" >&2
    done
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done)' "$work/log" >&2 || true
  fi
done
exit "$status"
