#!/usr/bin/env bash
# Every export of the module definition file is called (or handed on) in the C++ interface.
set -euo pipefail
def=$1 hpp=$2
missing=()
for name in $(sed -nE 's/^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=.*@[0-9]+.*/\1/p' "$def"); do
  grep -qE "\b$name\b" "$hpp" || missing+=("$name")
done
if ((${#missing[@]})); then
  echo "not reachable from the C++ interface: ${missing[*]}"
  exit 1
fi
echo "every export is reachable"
