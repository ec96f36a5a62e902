#!/usr/bin/env bash
# Lines of test code against the lines of the code they test: the non-blank lines of the
# tracked *.cpp, *.h and *.c files; tests/ on one side, the rest of the tree apart from
# bench/ and fuzz/ on the other.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -z -- "$@" | xargs -0 -r cat | grep -cv '^[[:space:]]*$'; }
tests=$(count 'tests/*.cpp' 'tests/*.h' 'tests/*.c')
code=$(count '*.cpp' '*.h' '*.c' ':!tests/' ':!bench/' ':!fuzz/')
echo "tests: $tests non-blank lines"
echo "code:  $code non-blank lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "share: %.1f %% (tests / code)\n", 100 * t / c }'
