#!/usr/bin/env bash
# The API reference: doxygen over include/vantorel.h with every warning an error (an
# export, record field, parameter or macro without its documentation, a broken reference),
# then a check that each export of the Windows module definition file has its entry.
# Writes build/api-docs/html. Prints "api-docs: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/api-docs
passed=0
failed=0
if ! command -v doxygen >/dev/null; then
  echo "api-docs: installing doxygen"
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq --no-install-recommends doxygen; } >/dev/null 2>&1
fi
if ! command -v doxygen >/dev/null; then
  echo "api-docs: doxygen is not available"
  echo "api-docs: 0 passed, 1 failed"
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"
if (cd "$root" && VANTOREL_DOCS_OUT="$out" doxygen docs/Doxyfile) >"$out/doxygen.log" 2>&1; then
  passed=$((passed + 1))
  echo "api-docs: ok   doxygen, no warnings"
else
  failed=$((failed + 1))
  echo "api-docs: FAIL doxygen warnings:"
  head -n 40 "$out/doxygen.log"
fi
# Every export has a documented function entry (the index lists documented ones only).
missing=()
index=$out/html/globals_func.html
for name in $(sed -nE 's/^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=.*@[0-9]+.*/\1/p' "$root/exports/vantorel.def"); do
  grep -q "<li>$name()&#160;:" "$index" 2>/dev/null || missing+=("$name")
done
if ((${#missing[@]})); then
  failed=$((failed + 1))
  echo "api-docs: FAIL exports without an entry: ${missing[*]}"
else
  passed=$((passed + 1))
  echo "api-docs: ok   every export of vantorel.def is documented"
fi
echo "api-docs: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
