#!/usr/bin/env bash
# The library as an application meets it: installed into a prefix of its own, then used by
# three small projects copied out of the tree (tests/consumers): one finds the CMake
# package, one uses pkg-config, one builds the library from source with add_subdirectory.
# Each program opens the virtual terminal over a pseudo-terminal and checks what it gets.
#
# Reuses the test command's g++ build (build/gcc) when it exists; otherwise configures a
# build of its own. Prints "consumer-tests: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin consumer-tests
jobs=$(nproc)
work=$root/build/consumers
rm -rf "$work"
mkdir -p "$work"
say() { echo "consumer-tests: $*"; }

# ---- The library, built and installed -------------------------------------------------
lib=${VANTOREL_CONSUMER_BUILD:-}
if [[ -z "$lib" && -f "$root/build/gcc/CMakeCache.txt" ]]; then lib=$root/build/gcc; fi
if [[ -z "$lib" ]]; then
  lib=$work/library
  say "configuring a build of the library and the virtual terminal"
  cmake -S "$root" -B "$lib" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_WERROR=ON \
    -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF >"$work/library.log" 2>&1 ||
    { not_ok "configure the library" "$work/library.log"; finish; }
fi
# Everything the install rules name must exist: after the g++ stage this is a no-op.
if ! cmake --build "$lib" -j"$jobs" >>"$work/library.log" 2>&1; then
  not_ok "build the library" "$work/library.log"
  finish
fi
prefix=$work/prefix
if cmake --install "$lib" --prefix "$prefix" >"$work/install.log" 2>&1; then
  missing=()
  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$lib/CMakeCache.txt")
  for f in include/vantorel.h include/vantorel.hpp "$libdir/libvantorel.so" "$libdir/libvantorel.so.1" \
    "$libdir/cmake/Vantorel/VantorelConfig.cmake" "$libdir/cmake/Vantorel/VantorelConfigVersion.cmake" \
    "$libdir/cmake/Vantorel/VantorelTargets.cmake" "$libdir/pkgconfig/vantorel.pc" \
    lib/udev/rules.d/70-vantorel.rules; do
    [[ -e "$prefix/$f" ]] || missing+=("$f")
  done
  if ((${#missing[@]})); then not_ok "install layout" "missing: ${missing[*]}"; else ok "install layout"; fi
else
  not_ok "cmake --install" "$work/install.log"
  finish
fi
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
header_version=$(sed -n 's/^#define VANTOREL_VERSION_STRING "\(.*\)"$/\1/p' "$root/include/vantorel.h")
pc_version=$(pkg-config --modversion vantorel 2>/dev/null)
if [[ "$pc_version" == "$header_version" ]]; then ok "vantorel.pc version $pc_version"; else
  not_ok "vantorel.pc version" "'$pc_version', header '$header_version'"
fi

# The virtual terminal: the installed program when the install rules put it there.
vterm=$prefix/bin/vantorel-vterm
if [[ ! -x "$vterm" ]]; then
  vterm=$lib/vterm/vantorel-vterm
  say "note: no vantorel-vterm in the prefix; using the build's ($vterm)"
fi
[[ -x "$vterm" ]] || { not_ok "virtual terminal" "not built: $vterm"; finish; }

# run NAME PROGRAM: the program against a fresh virtual terminal.
run() {
  local name=$1 program=$2 link=$work/$1.tty log=$work/$1.run.log pid rc
  "$vterm" --link "$link" --no-stdin >"$work/$name.vterm.log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do [[ -e "$link" ]] && break; sleep 0.1; done
  timeout 30 "$program" "$link" >"$log" 2>&1
  rc=$?
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  cat "$log"
  return $rc
}

# consumer NAME CMAKE-ARGS...: configure, build and run one consumer, copied out of the tree.
consumer() {
  local name=$1 src=$work/src/$1 bin=$work/build/$1
  shift
  mkdir -p "$work/src"
  cp -r "$root/tests/consumers/$name" "$root/tests/consumers/common" "$work/src/" 2>/dev/null
  if ! cmake -S "$src" -B "$bin" -G Ninja "$@" >"$work/$name.build.log" 2>&1 ||
    ! cmake --build "$bin" -j"$jobs" >>"$work/$name.build.log" 2>&1; then
    not_ok "$name: build" "$work/$name.build.log"
    tail -n 15 "$work/$name.build.log"
    return
  fi
  if run "$name" "$bin/consumer"; then ok "$name"; else not_ok "$name: run" "$work/$name.run.log"; fi
}

consumer find_package -DCMAKE_PREFIX_PATH="$prefix"
consumer pkg_config
consumer add_subdirectory -DVANTOREL_SOURCE_DIR="$root"

# The examples as installed: built against the prefix, each run against the virtual
# terminal with its script playing the customer; one row per example and language.
examples=$prefix/share/doc/vantorel/examples
if cmake -S "$examples" -B "$work/build/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" \
  >"$work/examples.build.log" 2>&1 &&
  cmake --build "$work/build/examples" -j"$jobs" >>"$work/examples.build.log" 2>&1; then
  ok "examples: build"
  for language in c cpp; do
    for example in sign secure_reading pin_block numeric_rsa manual_entry reader_settings; do
      log=$work/example-$language-$example.log
      if LD_LIBRARY_PATH="$prefix/$libdir" "$examples/run-example.sh" "$vterm" \
        "$work/build/examples/${language}_$example" "$example" "$work/run-$language-$example" \
        >"$log" 2>&1; then
        ok "example $language/$example"
      else
        not_ok "example $language/$example" "$log"
        tail -n 5 "$log"
      fi
    done
  done
else
  not_ok "examples: build" "$work/examples.build.log"
  tail -n 15 "$work/examples.build.log"
fi

# pkg-config outside CMake, with the run path README gives for a prefix the dynamic linker
# does not search.
pc_app=$work/build/pkg_config_cc/consumer
mkdir -p "$(dirname "$pc_app")"
# shellcheck disable=SC2046
if cc -o "$pc_app" "$work/src/pkg_config/main.c" $(pkg-config --cflags --libs vantorel) \
  -Wl,-rpath,"$(pkg-config --variable=libdir vantorel)" >"$work/pkg_config_cc.build.log" 2>&1; then
  if run pkg_config_cc "$pc_app"; then ok "pkg-config with cc and a run path"; else
    not_ok "pkg-config with cc and a run path: run" "$work/pkg_config_cc.run.log"
  fi
else
  not_ok "pkg-config with cc and a run path: build" "$work/pkg_config_cc.build.log"
fi

# The installed tool and demo find the library in the prefix by themselves.
for program in vantorel vantorel-demo; do
  if [[ ! -x "$prefix/bin/$program" ]]; then
    say "note: $program is not built here; its run path is not checked"
    continue
  fi
  if env -u LD_LIBRARY_PATH ldd "$prefix/bin/$program" | grep -q "libvantorel.so.1 => $prefix/"; then
    ok "$program finds the installed library without LD_LIBRARY_PATH"
  else
    not_ok "$program finds the installed library" "$(env -u LD_LIBRARY_PATH ldd "$prefix/bin/$program" | grep vantorel)"
  fi
done
if [[ -x "$prefix/bin/vantorel" ]]; then
  if env -u LD_LIBRARY_PATH "$prefix/bin/vantorel" settings list >"$work/tool.log" 2>&1; then
    ok "installed vantorel runs"
  else
    not_ok "installed vantorel runs" "$work/tool.log"
  fi
fi

# The package's version file turns away an application that needs another major version.
if cmake -S "$work/src/find_package" -B "$work/build/find_package_v2" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DVANTOREL_WANTED_VERSION=2.0 >"$work/find_package_v2.log" 2>&1; then
  not_ok "find_package(Vantorel 2.0) is refused"
else
  ok "find_package(Vantorel 2.0) is refused"
fi

# Built on its own without any optional dependency, the project still configures: each
# optional part says it is skipped. (The add_subdirectory consumer built the library alone.)
bare=$work/build/without-dependencies
if cmake -S "$root" -B "$bare" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  >"$work/without-dependencies.log" 2>&1 &&
  [[ $(grep -c 'Vantorel: .*skipped' "$work/without-dependencies.log") -ge 4 ]]; then
  ok "configures without optional dependencies"
else
  not_ok "configures without optional dependencies" "$work/without-dependencies.log"
fi

finish
