#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format (the test command runs this
# first; it takes seconds). With --fix, formats them instead: run it before
# committing.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if [[ "${1:-}" == --fix ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "format: the files above do not follow .clang-format; bash scripts/format.sh --fix formats them" >&2
    exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
