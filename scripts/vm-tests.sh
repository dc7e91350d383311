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
work="$root/build/vm"
timeout_s=${VANTOREL_VM_TIMEOUT:-150}
mkdir -p "$work"
t_start=$(date +%s)

fail() {
  echo "vm: $*" >&2
  echo "vm: 0 passed, 1 failed"
  exit 1
}
step() { echo "vm: $* ($(($(date +%s) - t_start)) s)"; }

# --- Host packages.
export DEBIAN_FRONTEND=noninteractive
updated=0
apt_update() {
  ((updated)) && return 0
  updated=1
  apt-get update -qq >"$work/apt.log" 2>&1
}
missing=()
for p in qemu-system-x86 busybox-static cpio; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v xz >/dev/null || missing+=(xz-utils)  # the kernel image's compression
if ((${#missing[@]})); then
  step "installing ${missing[*]}"
  apt_update
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >>"$work/apt.log" 2>&1 ||
    fail "cannot install ${missing[*]} (see $work/apt.log)"
fi

# --- Kernel: the package linux-image-amd64 currently points at.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -1
}
package=$(kernel_package)
if [[ -z "$package" ]]; then
  apt_update
  package=$(kernel_package)
fi
if [[ -z "$package" ]]; then
  # Offline: fall back to a kernel fetched earlier.
  package=$(ls -t "$work/kernel" 2>/dev/null | head -1)
  [[ -n "$package" ]] || fail "cannot resolve linux-image-amd64's kernel package (no apt lists?)"
  echo "vm: linux-image-amd64 not resolvable; using the cached $package"
fi
kdir="$work/kernel/$package"

# Finds a compressed payload in a bzImage and unpacks it to an ELF vmlinux: the kernel
# booted directly through its PVH entry skips the real-mode set-up and the in-guest
# decompression, which under emulation halves the boot.
extract_vmlinux() {
  local image=$1 out=$2 i magic decompress offset
  # Magic numbers (without their NUL bytes, which a shell string cannot hold).
  local magics=($'\xfd7zXZ' $'\x1f\x8b\x08' $'\x28\xb5\x2f\xfd')
  local tools=("xz -dc" "gzip -dc" "zstd -dcq")
  for i in "${!magics[@]}"; do
    magic=${magics[i]}
    decompress=${tools[i]}
    command -v "${decompress%% *}" >/dev/null || continue
    for offset in $(LC_ALL=C grep -obUaF -- "$magic" "$image" | cut -d: -f1); do
      tail -c +$((offset + 1)) "$image" | $decompress >"$out" 2>/dev/null
      [[ "$(head -c 4 "$out" | od -An -c | tr -d ' ')" == '177ELF' ]] && return 0
    done
  done
  rm -f "$out"
  return 1
}

if [[ ! -f "$kdir/ready" ]]; then
  step "fetching $package"
  rm -rf "$kdir"
  mkdir -p "$kdir/pkg"
  (cd "$kdir" && apt-get download "$package" >download.log 2>&1) || {
    apt_update
    (cd "$kdir" && apt-get download "$package" >download.log 2>&1)
  } || fail "apt-get download $package failed: $(tail -2 "$kdir/download.log")"
  deb=$(ls "$kdir"/*.deb)
  # Only the image, the HID drivers and what the wine HID VM adds (virtio, 9p, overlay):
  # the package holds thousands of modules.
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$kdir/pkg" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*' \
      './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/net/9p/*' \
      './lib/modules/*/kernel/fs/*' ||
    fail "cannot unpack $deb"
  rm -f "$deb"
  image=$(ls "$kdir"/pkg/boot/vmlinuz-* | head -1)
  mv "$image" "$kdir/bzImage"
  # Decompress modules the busybox insmod may not read compressed.
  find "$kdir/pkg" -name '*.ko.xz' -exec xz -d {} +
  find "$kdir/pkg" -name '*.ko.zst' -exec zstd -dq --rm {} +
  touch "$kdir/ready"
fi
if [[ ! -f "$kdir/vmlinux" && ! -f "$kdir/no-vmlinux" ]]; then
  extract_vmlinux "$kdir/bzImage" "$kdir/vmlinux" ||
    { echo "vm: found no vmlinux in the bzImage; booting the bzImage"; touch "$kdir/no-vmlinux"; }
fi
hid_dir=$(ls -d "$kdir"/pkg/lib/modules/*/kernel/drivers/hid 2>/dev/null | head -1)
[[ -n "$hid_dir" ]] || fail "no HID modules in $package"

# The package carries no modules.dep (depmod writes it on installation): read each module's
# own depends= field and load its dependencies first.
modinfo_depends() { tr '\0' '\n' <"$1" | LC_ALL=C grep -a '^depends=' | head -1 | cut -d= -f2; }
module_file() { # name with - or _ as the kernel spells it
  local n=$1
  for f in "$hid_dir/$n.ko" "$hid_dir/${n//_/-}.ko" "$hid_dir/${n//-/_}.ko"; do
    [[ -f "$f" ]] && { echo "$f"; return 0; }
  done
  return 1
}
order=()
add_module() {
  local name=$1 file dep
  file=$(module_file "$name") || fail "module $name not among the HID drivers of $package"
  for loaded in "${order[@]}"; do [[ "$loaded" == "$file" ]] && return 0; done
  for dep in $(modinfo_depends "$file" | tr ',' ' '); do add_module "$dep"; done
  order+=("$file")
}
for m in hid uhid hid-generic; do add_module "$m"; done

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
rm -rf "$ird"
mkdir -p "$ird"/{bin,dev,proc,sys,tmp,lib/modules}
cp /bin/busybox "$ird/bin/busybox"
strip -o "$ird/bin/vm_tests" "$guest/vm_tests"
cp "$guest/vm-exit" "$ird/bin/vm-exit"
strip -o "$ird/bin/vantorel-vterm" "$guest/vm-vterm"
# The tool (without CLI11 it is missing and its tests fail saying so).
[[ -f "$guest/vm-cli" ]] && strip -o "$ird/bin/vantorel" "$guest/vm-cli"
cp "$root/tests/vm/guest-init.sh" "$ird/init"
chmod 755 "$ird/init"
for f in "${order[@]}"; do
  cp "$f" "$ird/lib/modules/"
  basename "$f" >>"$ird/lib/modules/order"
done
# Uncompressed: the guest unpacks it faster than it would inflate it under emulation.
(cd "$ird" && find . | cpio -o -H newc --quiet >"$work/initramfs.cpio") || fail "cpio failed"

# --- Boot.
kernel="$kdir/vmlinux"
[[ -f "$kernel" ]] || kernel="$kdir/bzImage"
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

passed=0
failed=0
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
  line=$(grep -E '^wine-hid: [0-9]+ passed, [0-9]+ failed' "$work/wine-hid.log" | tail -1)
  grep -E '^wine-hid|^wine-tests|^\[ +OK|^\[  FAILED|Failure' "$work/wine-hid.log" | head -40
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  else
    echo "vm: the wine HID VM gave no result (see $work/wine-hid.log)"
    failed=$((failed + 1))
  fi
fi

step "done"
echo "vm: $passed passed, $failed failed"
((failed == 0 && passed > 0))
