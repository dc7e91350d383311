#!/usr/bin/env bash
# The shared library exports exactly the functions the public header declares.
set -euo pipefail
lib=$1 header=$2
declared=$(grep -oE '\b(Brixa|Zelto|MSR|PIN)_[A-Za-z]+\(' "$header" | tr -d '(' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | grep -vE '^(_init|_fini)$' | sort -u)
status=0
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
if [[ -n "$missing" ]]; then echo "declared but not exported:"; echo "$missing"; status=1; fi
if [[ -n "$extra" ]]; then echo "exported but not declared:"; echo "$extra"; status=1; fi
echo "$(wc -l <<<"$declared") declared, $(wc -l <<<"$exported") exported"
exit $status
