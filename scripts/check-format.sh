#!/usr/bin/env bash
# Checks that every C++ file of the tree is as clang-format writes it.
# Exits 77 (skipped) without clang-format.
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format: clang-format not found, skipped"; exit 77; }
bad=0
while IFS= read -r f; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "not formatted: $f"; bad=1; }
done < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src include tools tests bench fuzz -name '*.cpp' -o -name '*.h')
[ $bad = 0 ] && echo "format: every file is formatted"
exit $bad
