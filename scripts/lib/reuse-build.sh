# shellcheck shell=bash disable=SC2154,SC2034  # step, root and the arrays come from the caller; build_dir goes back to it
# Sourced by the stages that need a few targets of the project (scripts/vm-tests.sh,
# scripts/browser-tests.sh): they build them in the g++ stage's build when there is one,
# where the library and the virtual terminal are already compiled, else in a build of
# their own.
#
#   reuse_build LOG OWN-SOURCE OWN-DIR TARGET...
#
# The build reused is $reuse_dir when the caller set it (its override variable), else
# build/gcc under $root; it is configured again first with the caller's array reuse_args
# (the packages the targets need may have arrived since, and options such as
# -DVANTOREL_VM_TESTS=ON switch the targets on), then the targets are built. Without such a
# build, or when that fails, OWN-SOURCE is configured in OWN-DIR with the array own_args
# and the targets built there. Output goes to LOG; progress through the caller's step().
# Sets build_dir to where the targets are; returns non-zero when neither way built them.
reuse_build() {
  local log=$1 source=$2 own=$3
  shift 3
  local dir=${reuse_dir:-$root/build/gcc}
  local jobs
  jobs=$(nproc)
  build_dir=
  if [[ -f $dir/CMakeCache.txt ]]; then
    step "building $* in $dir"
    if cmake ${reuse_args[@]+"${reuse_args[@]}"} "$dir" >>"$log" 2>&1 &&
      cmake --build "$dir" -j"$jobs" --target "$@" >>"$log" 2>&1; then
      build_dir=$dir
      return 0
    fi
    step "that failed (see $log); building on its own"
  fi
  step "building $* in $own"
  cmake -S "$source" -B "$own" -G Ninja ${own_args[@]+"${own_args[@]}"} >>"$log" 2>&1 &&
    cmake --build "$own" -j"$jobs" --target "$@" >>"$log" 2>&1 || return 1
  build_dir=$own
}
