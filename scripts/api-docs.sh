#!/usr/bin/env bash
# The API reference: doxygen over include/vantorel.h with every warning an error (an
# export, record field, parameter or macro without its documentation, a broken reference),
# then a check that each export of the Windows module definition file has its entry.
# Writes build/api-docs/html. Prints "api-docs: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin api-docs
out=$root/build/api-docs
mkdir -p "$root/build"
apt_log=$root/build/api-docs-apt.log
install_missing doxygen || fail "cannot install doxygen (see $apt_log): the API reference is not checked"
rm -rf "$out"
mkdir -p "$out"
if (cd "$root" && VANTOREL_DOCS_OUT="$out" doxygen docs/Doxyfile) >"$out/doxygen.log" 2>&1; then
  ok "doxygen, no warnings"
else
  not_ok "doxygen warnings:"
  head -n 40 "$out/doxygen.log"
fi
# Every export has a documented function entry (the index lists documented ones only).
missing=()
index=$out/html/globals_func.html
for name in $(sed -nE 's/^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=.*@[0-9]+.*/\1/p' "$root/exports/vantorel.def"); do
  grep -q "<li>$name()&#160;:" "$index" 2>/dev/null || missing+=("$name")
done
if ((${#missing[@]})); then
  not_ok "exports without an entry: ${missing[*]}"
else
  ok "every export of vantorel.def is documented"
fi
finish
