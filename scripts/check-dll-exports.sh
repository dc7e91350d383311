#!/usr/bin/env bash
# Checks a built vantorel.dll: its export table holds exactly the expected names at their
# ordinals, no decorated (Name@N) or extra name, it imports only system DLLs (nothing
# from the compiler's runtime, which a customer's machine does not have), and its version
# resource carries the project's version.
#
#   check-dll-exports.sh DLL [OBJDUMP] [EXPECTED]
set -euo pipefail

dll=${1:?usage: check-dll-exports.sh DLL [OBJDUMP] [EXPECTED]}
objdump=${2:-i686-w64-mingw32-objdump}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
expected=${3:-$here/../tests/windows/exports.txt}

dump=$("$objdump" -p "$dll")
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' <<<"$dump" | head -n1)
[[ -n $base ]] || { echo "FAIL: $dll has no export table"; exit 1; }

# "[Ordinal/Name Pointer] Table" lists "[ i] name" with i = ordinal - base (newer binutils
# print "[ i] +base[ o] name" with the ordinal itself).
actual=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  awk -v base="$base" '
    /\+base\[/ { match($0, /\+base\[ *[0-9]+\]/); o = substr($0, RSTART + 6, RLENGTH - 7) + 0;
                 print o, $NF; next }
    /^[[:space:]]*\[ *[0-9]+\]/ { match($0, /\[ *[0-9]+\]/); i = substr($0, RSTART + 1, RLENGTH - 2) + 0;
                 print i + base, $NF }' | sort -n)
want=$(grep -v '^#' "$expected" | grep -v '^[[:space:]]*$' | sort -n)

if [[ "$actual" != "$want" ]]; then
  fail "export table differs from $expected (< expected, > built):"
  diff <(echo "$want") <(echo "$actual") | grep '^[<>]' | head -40 || true
fi
if grep -q '@' <<<"$actual"; then
  fail "decorated names exported: $(grep '@' <<<"$actual" | awk '{print $2}' | tr '\n' ' ')"
fi

# Imports: Windows' own DLLs only.
allowed='^(kernel32|msvcrt|ucrtbase|setupapi|hid|advapi32|user32|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r name; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
  [[ $lower =~ $allowed ]] || fail "imports a non-system DLL: $name"
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")

# The version resource: VS_FIXEDFILEINFO's file and product version (after its signature
# FEEF04BD) and the FileVersion and OriginalFilename texts carry the project's version and
# the DLL's name. llvm-readobj prints the resource's bytes as hex.
readobj=""
for t in llvm-readobj llvm-readobj-14; do command -v "$t" >/dev/null && { readobj=$t; break; }; done
# The version lives in the public header (VANTOREL_VERSION_MAJOR and _MINOR).
header=$here/../include/vantorel.h
major=$(sed -n 's/^#define VANTOREL_VERSION_MAJOR  *\([0-9]*\).*/\1/p' "$header")
minor=$(sed -n 's/^#define VANTOREL_VERSION_MINOR  *\([0-9]*\).*/\1/p' "$header")
version=""
[[ -n $major && -n $minor ]] && version=$major.$minor
if [[ -z $readobj ]]; then
  fail "llvm-readobj not found: cannot read the version resource (package llvm)"
elif [[ -z $version ]]; then
  fail "no VANTOREL_VERSION_MAJOR/MINOR in include/vantorel.h"
else
  IFS=. read -r v1 v2 v3 v4 <<<"$version"
  want_fixed=$(printf '%08X%08X%08X%08X' $(((${v1:-0} << 16) | ${v2:-0})) $(((${v3:-0} << 16) | ${v4:-0})) \
    $(((${v1:-0} << 16) | ${v2:-0})) $(((${v3:-0} << 16) | ${v4:-0})))
  text="${v1:-0}.${v2:-0}.${v3:-0}.${v4:-0}"
  # The hex words of the VERSIONINFO (type 16) resource, as one string of bytes.
  hex=$("$readobj" --coff-resources "$dll" |
    awk '/Type: VERSIONINFO/ { v = 1 } v && /^ *[0-9A-F]+: / { sub(/^ *[0-9A-F]+: /, ""); sub(/ *\|.*/, ""); gsub(/ /, ""); printf "%s", $0 }' |
    tr -d '\n')
  if [[ -z $hex ]]; then
    fail "$dll has no version resource"
  else
    # Little-endian dwords after the signature: struct version, file MS/LS, product MS/LS.
    dwords() { sed -E 's/(..)(..)(..)(..)/\4\3\2\1 /g' <<<"$1"; }
    rest=${hex#*BD04EFFE}
    fixed=$(dwords "${rest:8:32}" | tr -d ' ')
    [[ $rest != "$hex" && $fixed == "$want_fixed" ]] ||
      fail "version resource: file/product version ${fixed:-missing}, want $want_fixed ($text)"
    utf16() { printf '%s' "$1" | iconv -f ASCII -t UTF-16LE | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
    for pair in "FileVersion=$text" "OriginalFilename=vantorel.dll" "ProductVersion=$version"; do
      key=${pair%%=*}
      value=${pair#*=}
      # key, NUL, padding to a 4-byte boundary, then the value.
      [[ $hex =~ $(utf16 "$key")0000(0000)?$(utf16 "$value")0000 ]] ||
        fail "version resource: no $key \"$value\""
    done
  fi
fi

count=$(grep -c . <<<"$actual" || true)
if ((failures == 0)); then
  echo "ok: $dll exports $count names at their ordinals, none decorated; imports only system DLLs; version $text"
fi
exit $((failures == 0 ? 0 : 1))
