#!/bin/busybox sh
# /init of the HID test VM (scripts/vm-tests.sh packs it with busybox, the HID modules and
# the static test programs). Loads the modules, runs every kernel-HID test in a process of
# its own, one after the other (two terminals with the same ids on the bus at once would
# find each other's device), prints one line per test and hands the result to qemu.
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /tmp
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /tmp

finish() {
  echo "vm shard ${shard:-0}/${shards:-1}: $1 passed, $2 failed"
  if [ "$2" -eq 0 ] && [ "$1" -gt 0 ]; then status=0; else status=1; fi
  /bin/vm-exit "$status"
  # Without the exit device: power off; the host sees no status and counts a failure.
  poweroff -f
}

# Modules in dependency order, as the host listed them.
for module in $(cat /lib/modules/order); do
  if ! insmod "/lib/modules/$module"; then
    echo "vm: cannot load $module"
    finish 0 1
  fi
done
if [ ! -c /dev/uhid ]; then
  echo "vm: no /dev/uhid"
  finish 0 1
fi

# The host may boot several VMs, each running every Nth test: vm.shard=I/N (I from 0).
shard=0
shards=1
for arg in $(cat /proc/cmdline); do
  case "$arg" in
    vm.shard=*/*)
      value=${arg#vm.shard=}
      shard=${value%/*}
      shards=${value#*/}
      ;;
  esac
done

# Suites instantiated over the kernel's HID device end in /Uhid; UhidLink is the VM's own.
filter='*/Uhid*:Uhid*'
suite=
index=0
: >/tmp/tests
/bin/vm_tests --gtest_list_tests --gtest_filter="$filter" >/tmp/list 2>&1
while IFS= read -r line; do
  case "$line" in
    " "*)
      name=${line#  }
      if [ $((index % shards)) -eq "$shard" ]; then echo "$suite${name%%  #*}" >>/tmp/tests; fi
      index=$((index + 1))
      ;;
    *) suite=$line ;;
  esac
done </tmp/list
if [ ! -s /tmp/tests ]; then
  cat /tmp/list
  echo "vm: no tests found"
  finish 0 1
fi

uptime_ms() {
  read -r up _ </proc/uptime
  # Hundredths with a leading 1, so that "08" is not read as octal.
  echo $((${up%.*} * 1000 + (1${up#*.} - 100) * 10))
}

passed=0
failed=0
started=$(uptime_ms)
while IFS= read -r test; do
  t0=$(uptime_ms)
  timeout 60 /bin/vm_tests --gtest_filter="$test" >/tmp/out 2>&1
  rc=$?
  t1=$(uptime_ms)
  # A skipped test passes with exit status 0; here it means a missing device: a failure.
  if [ $rc -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' /tmp/out && ! grep -q SKIPPED /tmp/out; then
    passed=$((passed + 1))
    echo "ok   $test ($((t1 - t0)) ms)"
  else
    failed=$((failed + 1))
    echo "FAIL $test (exit $rc, $((t1 - t0)) ms)"
    sed 's/^/     | /' /tmp/out
  fi
done </tmp/tests
echo "vm: tests took $(($(uptime_ms) - started)) ms"

# The timing profiles over the kernel's HID device, once (shard 0): the tool's bench against
# the terminal program, its table printed. Counts as one test.
if [ "$shard" -eq 0 ]; then
  t0=$(uptime_ms)
  /bin/vantorel-vterm --uhid --no-stdin >/tmp/vterm.out 2>&1 &
  vterm=$!
  tries=0
  while [ ! -s /tmp/vterm.out ] && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
  timeout 30 /bin/vantorel bench --hid --rounds 5 >/tmp/bench 2>&1
  rc=$?
  kill "$vterm" 2>/dev/null
  wait "$vterm" 2>/dev/null
  t1=$(uptime_ms)
  sed 's/^/     | /' /tmp/bench
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok   bench --hid ($((t1 - t0)) ms)"
  else
    failed=$((failed + 1))
    echo "FAIL bench --hid (exit $rc, $((t1 - t0)) ms)"
    sed 's/^/     | /' /tmp/vterm.out
  fi
fi
finish "$passed" "$failed"
