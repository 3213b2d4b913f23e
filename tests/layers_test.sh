#!/usr/bin/env bash
# The plug-in's folders depend one way, lowest first as given: each sees its
# own headers, those of the folders below it and the platform's, nothing else.
# Under the include rule of each folder's library (as the build has it), every
# header at or below it is found, and an include of a header above it fails
# with "No such file or directory". A real compile under the rule
# of a middle folder is the control. The sources agree: no include names a
# folder above its own or climbs out with "..", each folder of the platform
# includes only those below it, the platform includes nothing of the plug-in
# and the host nothing of it either (it learns the plug-in at run time).
# usage: layers_test.sh CXX SOURCE_DIR LAYER=INCLUDE_DIRS (colon-separated)...
set -euo pipefail
cxx="$1" src="$2"
shift 2
layers=() dirs=()
for arg; do
  layers+=("${arg%%=*}")
  dirs+=("${arg#*=}")
done
work="$(mktemp -d /tmp/tarrovel-layers.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
flags_of() {
  local IFS=: d
  flags=()
  for d in $1; do flags+=("-I$d"); done
}

n=${#layers[@]}
((n >= 3)) || { echo "FAIL: too few folders given: $*"; exit 1; }
for ((i = 0; i < n; i++)); do
  flags_of "${dirs[i]}"
  # Every header at or below is found (asked without reading it, which is slow).
  for ((j = 0; j <= i; j++)); do
    for h in "$src/${layers[j]}"/*.h; do
      printf '#if !__has_include("%s/%s")\n#error not found: %s/%s\n#endif\n' "${layers[j]}" "${h##*/}" "${layers[j]}" "${h##*/}"
    done
  done >"$work/found.cpp"
  "$cxx" -std=c++20 "${flags[@]}" -E -o /dev/null "$work/found.cpp" 2>"$work/err" ||
    fail "${layers[i]}/ cannot include the headers at or below it: $(cat "$work/err")"
  # A header above is not.
  for ((j = i + 1; j < n; j++)); do
    header="$(cd "$src" && ls "${layers[j]}"/*.h | head -n 1)"
    printf '#include "%s"\n' "$header" >"$work/probe.cpp"
    if "$cxx" -std=c++20 "${flags[@]}" -E -o /dev/null "$work/probe.cpp" 2>"$work/err"; then
      fail "${layers[i]}/ can include $header, a header of a folder above it"
    elif ! grep -qF "$header: No such file or directory" "$work/err"; then
      fail "${layers[i]}/ including $header fails for another reason: $(cat "$work/err")"
    fi
  done
done

# The control: a source that includes only what its folder may builds.
mid=$((n / 2))
flags_of "${dirs[mid]}"
{
  for ((j = 0; j <= mid; j++)); do
    for h in "$src/${layers[j]}"/*.h; do printf '#include "%s/%s"\n' "${layers[j]}" "${h##*/}"; done
  done
  echo 'int main() { return 0; }'
} >"$work/control.cpp"
"$cxx" -std=c++20 "${flags[@]}" -c -o "$work/control.o" "$work/control.cpp" ||
  fail "a source of ${layers[mid]}/ including only the folders at or below it does not build"

# What the sources include, read off their #include "..." lines.
for ((i = 0; i < n; i++)); do
  allowed=" platform ${layers[*]:0:i+1} "
  for f in "$src/${layers[i]}"/*.h "$src/${layers[i]}"/*.cpp; do
    [[ "$f" == *_test.cpp ]] && continue
    while IFS= read -r inc; do
      [[ "$inc" == */../* || "$inc" == ../* ]] && fail "${f#"$src"/} climbs out with \"$inc\""
      [[ "$allowed" == *" ${inc%%/*} "* ]] || fail "${f#"$src"/} includes \"$inc\", against the order"
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
  done
done
# The platform's folders are one library each; a folder includes the headers
# of the libraries it is built over (platform/CMakeLists.txt) and the public
# ones in platform/ itself.
declare -A platform_over=([sys]="" [cf]="sys" [toolbox]="sys cf" [ae]="sys cf toolbox" [forks]=""
  [files]="sys cf toolbox forks")
for dir in "$src"/platform/*/; do
  folder="$(basename "$dir")"
  [[ -v "platform_over[$folder]" ]] || { fail "platform/$folder/ is in no place of the platform's order"; continue; }
  allowed=" $folder ${platform_over[$folder]} "
  for f in "$dir"*.h "$dir"*.cpp; do
    [[ "$f" == *_test.cpp || "$f" == *_fuzz.cpp || ! -e "$f" ]] && continue
    while IFS= read -r inc; do
      [[ "$allowed" == *" $inc "* ]] || fail "${f#"$src"/} includes platform/$inc/, against the order"
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"platform\/\([^/"]*\)\/.*/\1/p' "$f")
  done
done
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($(IFS='|'; echo "${layers[*]}"))/"
for d in platform host; do
  if grep -rnE --include='*.h' --include='*.cpp' "$pattern" "$src/$d"; then fail "$d/ includes the plug-in's headers"; fi
done

((failed == 0)) && echo ok
exit "$failed"
