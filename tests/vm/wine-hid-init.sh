#!/bin/busybox sh
# /init of the wine HID VM (scripts/wine-hid-vm.sh): loads the HID, virtio, 9p and overlay
# modules, mounts the host's root read-only over 9p with a tmpfs on top, and runs the
# host's wine there (chroot) against the virtual terminal as a uhid device, so that wine's
# HID bus reads a real hidraw node. The command to run comes on the kernel command line
# (wine.run=PATH, wine.args=A,B,...); its last line "wine-tests: N passed, M failed" is
# the result. The host's /tmp and /run are fresh tmpfs mounts here (no stale wine server
# sockets); the paths named by wine.keep=A,B,... (the checkout, which a clone may have put
# under /tmp) stay visible and writable through them.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

end() {
  echo "wine-hid-vm: $1"
  poweroff -f
}

for module in $(cat /lib/modules/order); do
  insmod "/lib/modules/$module" || end "cannot load $module"
done
[ -c /dev/uhid ] || end "no /dev/uhid"

run= args= keep=
for arg in $(cat /proc/cmdline); do
  case "$arg" in
    wine.run=*) run=${arg#wine.run=} ;;
    wine.args=*) args=$(echo "${arg#wine.args=}" | tr ',' ' ') ;;
    wine.keep=*) keep=$(echo "${arg#wine.keep=}" | tr ',' ' ') ;;
  esac
done

mkdir -p /host /rw /root-fs
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
  end "cannot mount the host's root"
mount -t tmpfs -o size=75% tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /root-fs ||
  end "cannot mount the overlay"
mount -t proc proc /root-fs/proc
mount -t sysfs sysfs /root-fs/sys
mount -t devtmpfs devtmpfs /root-fs/dev
mkdir -p /root-fs/dev/pts /root-fs/dev/shm
mount -t devpts devpts /root-fs/dev/pts
mount -t tmpfs tmpfs /root-fs/dev/shm
# The kept paths under /tmp and /run: bound aside, then bound back over the fresh tmpfs.
i=0
for path in $keep; do
  case "$path" in
    /tmp/* | /run/*)
      mkdir -p "/kept/$i"
      mount -o bind "/root-fs$path" "/kept/$i" || end "cannot keep $path"
      ;;
  esac
  i=$((i + 1))
done
mount -t tmpfs tmpfs /root-fs/tmp
mount -t tmpfs tmpfs /root-fs/run
i=0
for path in $keep; do
  if [ -d "/kept/$i" ]; then
    mkdir -p "/root-fs$path"
    mount -o bind "/kept/$i" "/root-fs$path" || end "cannot keep $path"
  fi
  i=$((i + 1))
done
echo "wine-hid-vm: running $run $args"
# Through a pipe: on the console wine would paint every character with terminal codes.
chroot /root-fs /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$run" $args 2>&1 | cat
echo "wine-hid-vm: exit $?"
poweroff -f
