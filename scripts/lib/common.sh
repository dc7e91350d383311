# shellcheck shell=bash disable=SC2034  # passed, failed, modules and the like go back to the caller
# Sourced by every stage script of the test command (scripts/*.sh): the stage's messages
# and result line, Debian packages, and the kernel and initramfs of the VM stages.
#
#   stage_begin NAME          names the stage; starts its clock and its counters
#   step TEXT                 "NAME: TEXT (S s)"
#   ok TEXT / not_ok TEXT [WHY]   one check passed / failed: counted and printed
#   fail TEXT                 the stage cannot go on: says why, counts a failure, finishes
#   finish                    prints the result line and exits (non-zero on any failure)
#   result_line NAME P F      the one result line every stage prints last:
#                             "NAME: P passed, F failed"
#   read_result LOG [NAME]    the last result line in LOG (of stage NAME, else any stage):
#                             sets result_passed and result_failed; non-zero without one
#
# A stage's last line is its result line; scripts/test.sh adds it to the total.

stage_begin() {
  stage_name=$1
  stage_t0=$(date +%s)
  passed=0
  failed=0
}
step() { echo "$stage_name: $* ($(($(date +%s) - stage_t0)) s)"; }
ok() {
  passed=$((passed + 1))
  echo "$stage_name: ok   $1"
}
not_ok() {
  failed=$((failed + 1))
  echo "$stage_name: FAIL $1${2:+ ($2)}"
}
result_line() { echo "$1: $2 passed, $3 failed"; }
finish() {
  result_line "$stage_name" "$passed" "$failed"
  ((failed == 0)) && exit 0
  exit 1
}
fail() {
  echo "$stage_name: $*"
  failed=$((failed + 1))
  finish
}
read_result() {
  local log=$1 name=${2:-[A-Za-z0-9_-]+} line
  line=$(grep -aE "^$name: [0-9]+ passed, [0-9]+ failed\$" "$log" 2>/dev/null | tail -1)
  [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]] || return 1
  result_passed=${BASH_REMATCH[1]}
  result_failed=${BASH_REMATCH[2]}
}

# --- Debian packages ---------------------------------------------------------------------
# apt_update [force]: refreshes the package lists once per test run (VANTOREL_APT_UPDATED
# goes on to the stages started after), or again with "force". An index that cannot be
# fetched (a mirror mid-sync) is no failure: it is tried VANTOREL_APT_TRIES times (default
# 3) with a pause of VANTOREL_APT_PAUSE seconds (default 15), then the lists there are are
# used. Output goes to $apt_log (default /dev/null).
apt_update() {
  [[ ${1:-} != force && ${VANTOREL_APT_UPDATED:-0} == 1 ]] && return 0
  local tries=${VANTOREL_APT_TRIES:-3} pause=${VANTOREL_APT_PAUSE:-15} i
  for ((i = 1; i <= tries; i++)); do
    if DEBIAN_FRONTEND=noninteractive apt-get update -qq -o DPkg::Lock::Timeout=600 \
      >>"${apt_log:-/dev/null}" 2>&1; then
      export VANTOREL_APT_UPDATED=1
      return 0
    fi
    ((i < tries)) && sleep "$pause"
  done
  echo "${stage_name:-apt}: the package lists did not all update (tried $tries times); using the lists there are"
  export VANTOREL_APT_UPDATED=1
  return 0
}

# installed PACKAGE: whether dpkg has it (an architecture qualifier such as :i386 allowed).
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# install_missing PACKAGE...: installs those not installed yet. A failed install (an index
# mid-sync, a download cut off) is tried again after a pause and a fresh update. Returns
# non-zero when some are still missing then, named in the array not_installed.
install_missing() {
  local p missing=() tries=${VANTOREL_APT_TRIES:-3} pause=${VANTOREL_APT_PAUSE:-15} i
  not_installed=()
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  echo "${stage_name:-apt}: installing ${missing[*]}"
  apt_update
  for ((i = 1; i <= tries; i++)); do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=600 "${missing[@]}" >>"${apt_log:-/dev/null}" 2>&1 && break
    ((i < tries)) || break
    sleep "$pause"
    apt_update force
  done
  for p in "${missing[@]}"; do installed "$p" || not_installed+=("$p"); done
  ((${#not_installed[@]} == 0))
}

# --- The VMs' kernel, modules and initramfs ----------------------------------------------
# vm_kernel CACHE: the kernel package linux-image-amd64 currently points at, fetched with
# apt-get download (never installed here) into CACHE/PACKAGE once: its image (bzImage, and
# vmlinux, the ELF unpacked from it, which boots through its PVH entry and skips the
# in-guest decompression, halving the boot under emulation) and its HID, virtio, 9p and
# filesystem modules, decompressed. Without package lists a kernel fetched earlier is
# used. Sets package and kdir; non-zero with the reason in kernel_error.
vm_kernel() {
  local cache=$1 deb image
  kernel_error=
  package=$(vm_kernel_package)
  if [[ -z $package ]]; then
    apt_update force
    package=$(vm_kernel_package)
  fi
  if [[ -z $package ]]; then
    package=$(ls -t "$cache" 2>/dev/null | head -1)
    [[ -n $package && -f $cache/$package/ready ]] || {
      kernel_error="cannot resolve linux-image-amd64's kernel package (no apt lists?)"
      return 1
    }
    echo "${stage_name:-vm}: linux-image-amd64 not resolvable; using the cached $package"
  fi
  kdir=$cache/$package
  if [[ ! -f $kdir/ready ]]; then
    step "fetching $package"
    rm -rf "$kdir"
    mkdir -p "$kdir/pkg"
    (cd "$kdir" && apt-get download "$package" >download.log 2>&1) || {
      apt_update force
      (cd "$kdir" && apt-get download "$package" >download.log 2>&1)
    } || {
      kernel_error="apt-get download $package failed: $(tail -2 "$kdir/download.log")"
      return 1
    }
    deb=$(ls "$kdir"/*.deb)
    # Only the image and the modules the VMs load: the package holds thousands.
    dpkg-deb --fsys-tarfile "$deb" |
      tar -x -C "$kdir/pkg" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*' \
        './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/net/9p/*' \
        './lib/modules/*/kernel/fs/*' || {
      kernel_error="cannot unpack $deb"
      return 1
    }
    rm -f "$deb"
    image=$(ls "$kdir"/pkg/boot/vmlinuz-* | head -1)
    mv "$image" "$kdir/bzImage"
    # Decompress modules the busybox insmod may not read compressed.
    find "$kdir/pkg" -name '*.ko.xz' -exec xz -d {} +
    find "$kdir/pkg" -name '*.ko.zst' -exec zstd -dq --rm {} +
    touch "$kdir/ready"
  fi
  if [[ ! -f $kdir/vmlinux && ! -f $kdir/no-vmlinux ]]; then
    vm_extract_vmlinux "$kdir/bzImage" "$kdir/vmlinux" ||
      { echo "${stage_name:-vm}: found no vmlinux in the bzImage; booting the bzImage"; touch "$kdir/no-vmlinux"; }
  fi
  kernel=$kdir/vmlinux
  [[ -f $kernel ]] || kernel=$kdir/bzImage
}

vm_kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -1
}

# Finds a compressed payload in a bzImage and unpacks it to an ELF vmlinux.
vm_extract_vmlinux() {
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

# vm_modules NAME...: the module files of $kdir for NAME (- or _ as the kernel spells it)
# and their dependencies, dependencies first, in the array modules. The package carries no
# modules.dep (depmod writes it on installation): each module's own depends= field is read.
# Non-zero with the reason in kernel_error when one is missing.
vm_modules() {
  local name
  modules=()
  for name in "$@"; do vm_add_module "$name" || return 1; done
}
vm_add_module() {
  local n=$1 file dep loaded
  file=$(find "$kdir"/pkg/lib/modules/*/kernel -name "$n.ko" -o -name "${n//_/-}.ko" \
    -o -name "${n//-/_}.ko" 2>/dev/null | head -1)
  [[ -n $file ]] || { kernel_error="module $n not in $package"; return 1; }
  for loaded in "${modules[@]}"; do [[ $loaded == "$file" ]] && return 0; done
  for dep in $(tr '\0' '\n' <"$file" | LC_ALL=C grep -a '^depends=' | head -1 | cut -d= -f2 | tr ',' ' '); do
    vm_add_module "$dep" || return 1
  done
  modules+=("$file")
}

# initramfs_begin DIR INIT: a fresh initramfs tree in DIR with busybox, INIT as /init and
# the modules of the array modules (lib/modules/order lists them in loading order); the
# caller adds its programs, then initramfs_pack DIR OUT writes it, uncompressed (the guest
# unpacks it faster than it would inflate it under emulation).
initramfs_begin() {
  local ird=$1 init=$2 f
  rm -rf "$ird"
  mkdir -p "$ird"/{bin,dev,proc,sys,tmp,lib/modules}
  cp /bin/busybox "$ird/bin/busybox"
  cp "$init" "$ird/init"
  chmod 755 "$ird/init"
  for f in "${modules[@]}"; do
    cp "$f" "$ird/lib/modules/"
    basename "$f" >>"$ird/lib/modules/order"
  done
}
initramfs_pack() {
  (cd "$1" && find . | cpio -o -H newc --quiet >"$2")
}
