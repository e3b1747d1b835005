#!/usr/bin/env bash
# Fails, naming the files, when a C++ source of the tree is not as
# clang-format (the .clang-format at the top) would write it. With --fix it
# rewrites them instead.
#
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format || true)
[[ -n $format ]] || { echo "check-format: clang-format is not installed (scripts/install-deps.sh)" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
if [[ ${1:-} == --fix ]]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
  echo "check-format: not formatted (run scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
