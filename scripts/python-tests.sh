#!/usr/bin/env bash
# The Python package (bindings/python): its pytest suite against the virtual terminal over
# pseudo-terminals (the export table, one scenario per family, the six examples), then the
# two ways it is installed: pip from the source tree without network, and the library's
# install (<prefix>/share/vantorel/python), each finding the library by itself.
#
# Reuses the test command's g++ build (build/gcc) when it exists; otherwise builds the
# library and the virtual terminal alone. Prints "python-tests: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
# shellcheck source=scripts/lib/reuse-build.sh
source "$root/scripts/lib/reuse-build.sh"
stage_begin python-tests
work=$root/build/python-tests
rm -rf "$work"
mkdir -p "$work"
python=/usr/bin/python3 # Debian's, with its pytest; not another python on PATH

install_missing python3 python3-pytest python3-venv python3-setuptools python3-wheel openssl ||
  fail "cannot install: ${not_installed[*]}"

reuse_dir=${VANTOREL_PYTHON_BUILD:-}
reuse_args=()
own_args=(-DCMAKE_BUILD_TYPE=Release -DVANTOREL_WERROR=ON -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF
  -DVANTOREL_TOOLS=OFF)
# Everything the install rules name must exist: after the g++ stage this is a no-op.
reuse_build "$work/build.log" "$root" "$root/build/python" all ||
  fail "build the library and the virtual terminal (see $work/build.log)"
vterm=$build_dir/vterm/vantorel-vterm
library=$build_dir/libvantorel.so.1
[[ -x $vterm && -f $library ]] || fail "no $vterm or $library after the build"

# ---- pytest ------------------------------------------------------------------------------
step "pytest"
export PYTHONDONTWRITEBYTECODE=1
VANTOREL_LIBRARY=$library VANTOREL_VTERM=$vterm \
  timeout 300 "$python" -m pytest -q -p no:cacheprovider --basetemp="$work/pytest" \
  "$root/bindings/python/tests" >"$work/pytest.log" 2>&1
summary=$(tail -n 1 "$work/pytest.log")
tests_passed=$(grep -oE '[0-9]+ passed' <<<"$summary" | grep -oE '[0-9]+')
failures=$(grep -oE '[0-9]+ (failed|error)' <<<"$summary" | grep -oE '[0-9]+' | paste -sd+ -)
tests_failed=$((${failures:-0}))
passed=$((passed + ${tests_passed:-0}))
failed=$((failed + tests_failed))
if [[ -z ${tests_passed:-} || $tests_failed -gt 0 ]]; then
  grep -E '^(FAILED|ERROR)' "$work/pytest.log"
  not_ok "pytest: $summary" "$work/pytest.log"
else
  echo "python-tests: pytest: $summary"
fi

# ---- pip install from the source tree, without network ------------------------------------
step "pip install"
cp -r "$root/bindings/python" "$work/source" && rm -rf "$work/source/tests"
if "$python" -m venv --system-site-packages "$work/venv" >"$work/pip.log" 2>&1 &&
  "$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/source" \
    >>"$work/pip.log" 2>&1 &&
  (cd "$work" && VANTOREL_LIBRARY=$library "$work/venv/bin/python" -c '
import sys, vantorel
assert vantorel.__file__.startswith(sys.prefix), vantorel.__file__
assert vantorel.sdk_version() == vantorel.__version__' >>"$work/pip.log" 2>&1); then
  ok "pip install from the source tree"
else
  not_ok "pip install from the source tree" "$work/pip.log"
fi

# ---- the library's install ----------------------------------------------------------------
step "cmake --install"
prefix=$work/prefix
if cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 &&
  (cd "$work" && env -u VANTOREL_LIBRARY PYTHONPATH="$prefix/share/vantorel/python" "$python" -c '
import sys, vantorel
assert vantorel.native.library_path.startswith(sys.argv[1]), vantorel.native.library_path
assert vantorel.sdk_version() == vantorel.__version__' "$prefix" >>"$work/install.log" 2>&1) &&
  [[ -f $prefix/share/doc/vantorel/examples/python/sign.py ]]; then
  ok "installed with the library, finds the library beside it"
else
  not_ok "installed with the library" "$work/install.log"
fi

finish
