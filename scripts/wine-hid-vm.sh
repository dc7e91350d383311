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
t0=$(date +%s)
step() { echo "wine-hid: $* ($(($(date +%s) - t0)) s)"; }
fail() {
  echo "wine-hid: $*"
  echo "wine-hid: 0 passed, 1 failed"
  exit 1
}

suite=$root/build-$arch
exe=$suite/vantorel_windows_tests.exe
vterm=$root/build-win32-host/vterm/vantorel-vterm
[[ -f $exe && -x $vterm && -d $suite/wine/prefix-$arch ]] ||
  fail "run scripts/windows-tests.sh first (needs $exe, $vterm and its wine prefix)"

for p in qemu-system-x86 busybox-static cpio; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" \
      >>"$work/apt.log" 2>&1 || fail "cannot install $p"
done

# --- Kernel and modules.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -1)
[[ -n $package ]] || fail "cannot resolve linux-image-amd64's kernel package"
# The VM stage's copy when it holds these modules too (scripts/vm-tests.sh), else one of
# its own.
kdir=$root/build/vm/kernel/$package
[[ -f $kdir/ready && -d $(echo "$kdir"/pkg/lib/modules/*/kernel/net/9p) ]] || kdir=$work/kernel/$package
if [[ ! -f $kdir/ready ]]; then
  step "fetching $package"
  rm -rf "$kdir"
  mkdir -p "$kdir/pkg"
  (cd "$kdir" && apt-get download "$package" >download.log 2>&1) || fail "apt-get download failed"
  dpkg-deb --fsys-tarfile "$kdir"/*.deb | tar -x -C "$kdir/pkg" --wildcards './boot/vmlinuz-*' \
    './lib/modules/*/kernel/drivers/hid/*' './lib/modules/*/kernel/drivers/virtio/*' \
    './lib/modules/*/kernel/net/9p/*' './lib/modules/*/kernel/fs/*' || fail "cannot unpack"
  rm -f "$kdir"/*.deb
  find "$kdir/pkg" -name '*.ko.xz' -exec xz -d {} +
  find "$kdir/pkg" -name '*.ko.zst' -exec zstd -dq --rm {} +
  mv "$kdir"/pkg/boot/vmlinuz-* "$kdir/bzImage"
  touch "$kdir/ready"
fi
mods=$(ls -d "$kdir"/pkg/lib/modules/*/kernel)
modinfo_depends() { tr '\0' '\n' <"$1" | LC_ALL=C grep -a '^depends=' | head -1 | cut -d= -f2; }
module_file() {
  local n=$1 f
  for f in $(find "$mods" -name "$n.ko" -o -name "${n//_/-}.ko" -o -name "${n//-/_}.ko"); do
    echo "$f"
    return 0
  done
  return 1
}
order=()
add_module() {
  local file dep loaded
  file=$(module_file "$1") || fail "module $1 not in $package"
  for loaded in "${order[@]}"; do [[ $loaded == "$file" ]] && return 0; done
  for dep in $(modinfo_depends "$file" | tr ',' ' '); do add_module "$dep"; done
  order+=("$file")
}
for m in hid uhid hid-generic virtio_pci 9pnet_virtio 9p overlay; do add_module "$m"; done

# --- Initramfs.
ird=$work/initramfs
rm -rf "$ird"
mkdir -p "$ird"/{bin,dev,proc,sys,lib/modules}
cp /bin/busybox "$ird/bin/busybox"
cp "$root/tests/vm/wine-hid-init.sh" "$ird/init"
chmod 755 "$ird/init"
for f in "${order[@]}"; do
  cp "$f" "$ird/lib/modules/"
  basename "$f" >>"$ird/lib/modules/order"
done
(cd "$ird" && find . | cpio -o -H newc --quiet >"$work/initramfs.cpio") || fail "cpio failed"

# wine's HID bus settings, written here where wine starts fast (the suite's serial tests
# do not mind them).
"$root/scripts/wine-tests.sh" --hid-setup --exe "$exe" --vterm "$vterm" --work "$suite/wine" \
  --arch "$arch" >"$work/setup.log" 2>&1 || { cat "$work/setup.log"; fail "the HID bus settings failed"; }

# --- Boot.
args="--hid,--exe,$exe,--vterm,$vterm,--work,$suite/wine,--arch,$arch"
[[ -n $run ]] || run=$root/scripts/wine-tests.sh
# The ELF kernel the VM stage unpacked boots faster under emulation than the bzImage.
kernel=$kdir/vmlinux
[[ -f $kernel ]] || kernel=$kdir/bzImage
step "booting the VM ($package, $(basename "$kernel"); wine $arch)"
timeout -k 5 "$timeout_s" qemu-system-x86_64 -M pc -cpu "${VANTOREL_WINE_HID_CPU:-qemu64}" -smp 2 -m 2048 -nodefaults \
  -no-user-config -display none -no-reboot -serial stdio \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init wine.run=$run wine.args=$args" \
  </dev/null 2>&1 | stdbuf -oL tr -d '\r' | tee "$work/console.log"
status=${PIPESTATUS[0]}
step "the VM ended (status $status)"
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$work/console.log" | tail -1)
if [[ -z $line ]]; then
  fail "no result from the VM (see $work/console.log)"
fi
echo "wine-hid: $line"
[[ $line =~ ^[0-9]+\ passed,\ 0\ failed$ && ! $line =~ ^0\  ]]
