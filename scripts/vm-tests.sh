#!/usr/bin/env bash
# The HID tests through a real Linux kernel: the virtual terminal becomes a uhid device in a
# small VM and the library's hidraw backend talks to it.
#
# Steps: install qemu, busybox and cpio where missing; fetch the current Debian kernel
# package with apt-get download (never installed here) and keep its kernel image and HID
# modules in build/vm/kernel; build the static guest programs (tests/vm); pack an initramfs
# whose init runs them; boot it under qemu (software emulation) with a time-out; print the
# guest's console and, last, "vm: N passed, M failed". Exits non-zero on any failure.
#
# VANTOREL_VM_TIMEOUT (seconds, default 150) bounds each VM's boot and test run;
# VANTOREL_VM_SHARDS (default 3) is the number of VMs booted side by side, each running
# every Nth test; VANTOREL_VM_BUILD names a main build directory to build the guest
# programs in (default build/gcc when it exists, else a build of their own in
# build/vm/cmake).
#
# When scripts/windows-tests.sh ran before (as in the test command), also the WineHid tests
# of the Windows suite under wine in a VM of their own (scripts/wine-hid-vm.sh), after the
# others; VANTOREL_VM_WINE=0 leaves them out.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin vm
work="$root/build/vm"
timeout_s=${VANTOREL_VM_TIMEOUT:-150}
mkdir -p "$work"

# --- Host packages (xz-utils: the kernel image's compression).
apt_log=$work/apt.log
install_missing qemu-system-x86 busybox-static cpio xz-utils ||
  fail "cannot install ${not_installed[*]} (see $work/apt.log): the VM tests cannot run"

# --- Kernel: the package linux-image-amd64 currently points at, and its HID modules.
vm_kernel "$work/kernel" || fail "$kernel_error"
vm_modules hid uhid hid-generic || fail "$kernel_error"

# --- Static guest programs: in the g++ stage's build when there is one (turning
# VANTOREL_VM_TESTS on there compiles only the test sources and the tool again), else in a
# build of their own from tests/vm.
# shellcheck source=scripts/lib/reuse-build.sh
source "$root/scripts/lib/reuse-build.sh"
: >"$work/build.log"
reuse_dir=${VANTOREL_VM_BUILD:-}
reuse_args=(-DVANTOREL_VM_TESTS=ON)
own_args=()
reuse_build "$work/build.log" "$root/tests/vm" "$work/cmake" vm_tests vm-exit vm-vterm vm-cli || {
  grep -E 'error|FAILED' "$work/build.log" | head -30
  fail "build failed (see $work/build.log)"
}
bdir=$build_dir
guest="$bdir/vm-guest"

# --- Initramfs.
step "packing the initramfs"
ird="$work/initramfs"
initramfs_begin "$ird" "$root/tests/vm/guest-init.sh"
strip -o "$ird/bin/vm_tests" "$guest/vm_tests"
cp "$guest/vm-exit" "$ird/bin/vm-exit"
strip -o "$ird/bin/vantorel-vterm" "$guest/vm-vterm"
# The tool (without CLI11 it is missing and its tests fail saying so).
[[ -f "$guest/vm-cli" ]] && strip -o "$ird/bin/vantorel" "$guest/vm-cli"
initramfs_pack "$ird" "$work/initramfs.cpio" || fail "cpio failed"

# --- Boot.
# The tests mostly wait on the protocol's time-outs, not on the CPU: several VMs, each
# running every Nth test, divide the wall time.
shards=${VANTOREL_VM_SHARDS:-3}
step "booting $shards VMs on $(basename "$kernel") of $package"
boot_start=$(date +%s)
pids=()
for ((i = 0; i < shards; i++)); do
  # No -enable-kvm: /dev/kvm here is no hardware virtualisation. The guest writes its
  # status to the isa-debug-exit port; qemu then exits with (status << 1) | 1.
  (
    timeout -k 5 "$timeout_s" qemu-system-x86_64 \
      -M pc -cpu max -smp 1 -m 512 -nodefaults -no-user-config -display none -no-reboot \
      -serial stdio -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
      -kernel "$kernel" -initrd "$work/initramfs.cpio" \
      -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init vm.shard=$i/$shards" \
      </dev/null 2>&1 | tr -d '\r' >"$work/console-$i.log"
    echo "${PIPESTATUS[0]}" >"$work/status-$i"
  ) &
  pids+=($!)
done
wait "${pids[@]}"
step "the VMs ended after $(($(date +%s) - boot_start)) s"

for ((i = 0; i < shards; i++)); do
  log="$work/console-$i.log"
  status=$(cat "$work/status-$i" 2>/dev/null || echo none)
  echo "---- console of VM $i/$shards (qemu status $status)"
  cat "$log"
  line=$(grep -E '^vm shard [0-9]+/[0-9]+: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  p=$(grep -c '^ok   ' "$log")
  f=$(grep -c '^FAIL ' "$log")
  passed=$((passed + p))
  failed=$((failed + f))
  case $status in
    1) [[ -n "$line" ]] || { echo "vm: VM $i printed no result"; failed=$((failed + 1)); } ;;
    3) ((f > 0)) || failed=$((failed + 1)) ;; # the guest reported a failure
    124 | 137) echo "vm: VM $i timed out after ${timeout_s} s"; failed=$((failed + 1)) ;;
    *) echo "vm: VM $i ended without a result (qemu status $status)"; failed=$((failed + 1)) ;;
  esac
done
# --- The wine HID VM, after the test VMs: the Win32 HID backend under wine against the
# kernel's hidraw (scripts/wine-hid-vm.sh), when the Windows stage left its build and wine
# prefix behind. About a minute on its own; not beside the test VMs, where on two cores its
# wine start slowed their timed tests past their tolerances. Its architecture is the one
# whose prefix the Windows stage made: win32 where this machine runs 32-bit code, else
# win64 (the guest's kernel would run wine32, but that prefix is missing).
# VANTOREL_VM_WINE=0 leaves it out.
wine_arch=
for a in win32 win64; do
  [[ -z $wine_arch && -d "$root/build-$a/wine/prefix-$a" && -f "$root/build-$a/vantorel_windows_tests.exe" ]] &&
    wine_arch=$a
done
if [[ ${VANTOREL_VM_WINE:-1} == 0 ]]; then
  :
elif [[ -z $wine_arch ]]; then
  echo "vm: no wine HID VM (scripts/windows-tests.sh has not run)"
else
  step "the wine HID VM ($wine_arch)"
  wine_start=$(date +%s)
  VANTOREL_WINE_HID_TIMEOUT=${VANTOREL_WINE_HID_TIMEOUT:-240} "$root/scripts/wine-hid-vm.sh" \
    --arch "$wine_arch" >"$work/wine-hid.log" 2>&1
  step "the wine HID VM ended after $(($(date +%s) - wine_start)) s"
  grep -E '^wine-hid|^wine-tests|^\[ +OK|^\[  FAILED|Failure' "$work/wine-hid.log" | head -40
  if read_result "$work/wine-hid.log" wine-hid; then
    passed=$((passed + result_passed))
    failed=$((failed + result_failed))
  else
    echo "vm: the wine HID VM gave no result (see $work/wine-hid.log)"
    failed=$((failed + 1))
  fi
fi

step "done"
((passed > 0)) || failed=$((failed + 1))
finish
