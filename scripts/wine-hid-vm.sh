#!/usr/bin/env bash
# The Win32 HID backend against a real hidraw device, under wine, in a VM: the one part of
# the DLL the serial wine suite cannot reach (this machine has no /dev/uhid).
#
# A qemu VM (software emulation) boots the current Debian kernel with an initramfs of
# busybox and the HID, virtio, 9p and overlay modules. Its /init (tests/vm/wine-hid-init.sh)
# mounts this machine's root read-only over 9p with a tmpfs overlay on top, chroots into
# it and runs scripts/wine-tests.sh --hid there: the virtual terminal becomes a uhid device,
# the kernel gives it a hidraw node, wine's HID bus presents it to SetupAPI and HID.DLL,
# and the WineHid tests of the Windows suite open it with Brixa_OpenHid.
#
# Needs what scripts/windows-tests.sh built and set up (the DLL, the test program, the
# virtual terminal and the wine prefix). scripts/vm-tests.sh runs it after its own VMs.
#
#   scripts/wine-hid-vm.sh [--arch win32|win64] [--run SCRIPT]
# VANTOREL_WINE_HID_TIMEOUT (seconds, default 900) bounds the VM.
# Last line: "wine-hid: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin wine-hid
arch=win32 run=""
while (($#)); do
  case $1 in
    --arch) arch=${2:?}; shift 2 ;;
    --run) run=$(realpath "${2:?}"); shift 2 ;; # a script of one's own instead, to look around
    *) echo "usage: wine-hid-vm.sh [--arch win32|win64] [--run SCRIPT]" >&2; exit 2 ;;
  esac
done
work=$root/build/wine-hid-vm
timeout_s=${VANTOREL_WINE_HID_TIMEOUT:-900}
mkdir -p "$work"

suite=$root/build-$arch
exe=$suite/vantorel_windows_tests.exe
vterm=$root/build-win32-host/vterm/vantorel-vterm
[[ -f $exe && -x $vterm && -d $suite/wine/prefix-$arch ]] ||
  fail "run scripts/windows-tests.sh first (needs $exe, $vterm and its wine prefix)"

apt_log=$work/apt.log
install_missing qemu-system-x86 busybox-static cpio xz-utils ||
  fail "cannot install ${not_installed[*]} (see $work/apt.log): the wine HID VM cannot run"

# --- Kernel and modules: the VM stage's copy (scripts/vm-tests.sh), fetched when missing.
vm_kernel "$root/build/vm/kernel" || fail "$kernel_error"
vm_modules hid uhid hid-generic virtio_pci 9pnet_virtio 9p overlay || fail "$kernel_error"

# --- Initramfs.
ird=$work/initramfs
initramfs_begin "$ird" "$root/tests/vm/wine-hid-init.sh"
initramfs_pack "$ird" "$work/initramfs.cpio" || fail "cpio failed"

# wine's HID bus settings, written here where wine starts fast (the suite's serial tests
# do not mind them).
"$root/scripts/wine-tests.sh" --hid-setup --exe "$exe" --vterm "$vterm" --work "$suite/wine" \
  --arch "$arch" >"$work/setup.log" 2>&1 || { cat "$work/setup.log"; fail "the HID bus settings failed"; }

# --- Boot.
args="--hid,--exe,$exe,--vterm,$vterm,--work,$suite/wine,--arch,$arch"
[[ -n $run ]] || run=$root/scripts/wine-tests.sh
step "booting the VM ($package, $(basename "$kernel"); wine $arch)"
timeout -k 5 "$timeout_s" qemu-system-x86_64 -M pc -cpu "${VANTOREL_WINE_HID_CPU:-qemu64}" -smp 2 -m 2048 -nodefaults \
  -no-user-config -display none -no-reboot -serial stdio \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init wine.run=$run wine.args=$args wine.keep=$root,$(dirname "$run")" \
  </dev/null 2>&1 | stdbuf -oL tr -d '\r' | tee "$work/console.log"
status=${PIPESTATUS[0]}
step "the VM ended (status $status)"
read_result "$work/console.log" wine-tests || fail "no result from the VM (see $work/console.log)"
passed=$result_passed failed=$result_failed
((passed > 0)) || failed=$((failed + 1))
finish
