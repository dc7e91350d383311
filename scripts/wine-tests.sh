#!/usr/bin/env bash
# Runs the Windows test program under wine against the virtual terminal.
#
#   wine-tests.sh --exe TESTS.EXE --vterm VANTOREL-VTERM --work DIR [--arch win32|win64]
#                 [--hid | --hid-setup] [-- extra test arguments]
#
# The terminal runs on the Linux side on a pseudo-terminal that the wine prefix maps to
# COM3; the WineHid tests are left out. With --hid it is a USB HID device of the kernel
# instead (/dev/uhid, root only), which wine's HID bus finds through hidraw, and only the
# WineHid tests run (scripts/wine-hid-vm.sh runs them so in a VM); --hid-setup only writes
# the HID bus settings --hid needs into the prefix. Its console is fed from DIR/console.in (lines the tests append; tail forwards
# them) and answers into DIR/console.out, which the tests read.
#
# Prints the test program's output and, last, "wine-tests: N passed, M failed". Exits
# non-zero when a test failed or the run could not be set up.
set -uo pipefail

exe="" vterm="" work="" arch=win32 hid=0 setup_only=0
while (($#)); do
  case $1 in
    --hid) hid=1; shift ;;
    --hid-setup) hid=1; setup_only=1; shift ;;
    --exe) exe=$2; shift 2 ;;
    --vterm) vterm=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "wine-tests.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ -f $exe && -x $vterm && -n $work ]] || {
  echo "usage: wine-tests.sh --exe TESTS.EXE --vterm VANTOREL-VTERM --work DIR [--arch win32|win64]" >&2
  exit 2
}
exe=$(realpath "$exe")
mkdir -p "$work"
work=$(realpath "$work")

case $arch in
  win32) loader=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32 ;;
  win64) loader=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 ;;
  *) echo "wine-tests.sh: --arch is win32 or win64" >&2; exit 2 ;;
esac
[[ -x $server ]] || server=/usr/lib/wine/wineserver

# A headless wine of our own, everything inside the work directory.
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=$arch WINEPREFIX=$work/prefix-$arch HOME=$work/home TMPDIR=$work/tmp
export WINEDEBUG=${VANTOREL_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINELOADER=$loader WINESERVER=$server
mkdir -p "$HOME" "$TMPDIR"

winpath() { # a Unix path as the prefix's Z: drive sees it
  local p=${1//\//\\}
  printf 'Z:%s' "$p"
}

tail_pid="" vterm_pid=""
# Ends a child: SIGTERM, then SIGKILL when it is still there after 5 s.
stop() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  # wine first: a wineserver still holding the pseudo-terminal when it closes floods its
  # output and leaves orphans behind. Every step is bounded: in the HID VM a wine device
  # process or the terminal left stuck after a failed test once held the VM until its
  # time-out.
  timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 20 "$WINESERVER" -w >/dev/null 2>&1 || true
  [[ -n $vterm_pid ]] && stop "$vterm_pid"
  [[ -n $tail_pid ]] && stop "$tail_pid"
  rm -f "$WINEPREFIX/dosdevices/com3"
}
trap cleanup EXIT

if [[ ! -f $WINEPREFIX/.update-timestamp ]]; then
  echo "wine-tests: creating the $arch prefix"
  if ! timeout 180 "$loader" wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wine-tests: wineboot failed:"; tail -n 20 "$work/wineboot.log"
    echo "wine-tests: 0 passed, 1 failed"
    exit 1
  fi
  "$WINESERVER" -w >/dev/null 2>&1 || true
fi

if ((hid)); then
  # wine's HID bus (winebus.sys) starts its udev back end, which reads hidraw nodes, only
  # when the SDL back end is switched off or fails to start at once; without libSDL2 it
  # fails too late, so switch it off. No udevd runs where uhid is usable here (the VM):
  # the udev back end then has to find the /dev/hidraw* nodes itself. Both are read when
  # the bus starts.
  # (scripts/wine-hid-vm.sh imports them on the host, where wine starts many times faster.)
  if ! grep -q '^"Enable SDL"=dword:00000000' "$WINEPREFIX/system.reg" 2>/dev/null; then
    printf '%s\r\n' 'REGEDIT4' '' \
      '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\winebus]' \
      '"Enable SDL"=dword:00000000' '"DisableUdevd"=dword:00000001' >"$work/winebus.reg"
    "$loader" reg import "$(winpath "$work/winebus.reg")" >"$work/reg.log" 2>&1 ||
      { echo "wine-tests: reg import failed:"; cat "$work/reg.log"; }
    "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
  ((setup_only)) && { echo "wine-tests: the HID bus settings are in the $arch prefix"; exit 0; }
fi

# The virtual terminal and its console files.
: >"$work/console.in"
: >"$work/console.out"
rm -f "$work/console.fifo"
mkfifo "$work/console.fifo"
tail -n +1 -s 0.02 -f "$work/console.in" >"$work/console.fifo" &
tail_pid=$!
if ((hid)); then
  "$vterm" --uhid <"$work/console.fifo" >"$work/console.out" 2>"$work/vterm.err" &
else
  # A link wine made itself (to /dev/ttyS2) would be refused as not the terminal's own.
  rm -f "$WINEPREFIX/dosdevices/com3"
  "$vterm" --link "$WINEPREFIX/dosdevices/com3" <"$work/console.fifo" >"$work/console.out" \
    2>"$work/vterm.err" &
fi
vterm_pid=$!
for _ in $(seq 100); do
  [[ -s $work/console.out ]] && { ((hid)) || [[ -L $WINEPREFIX/dosdevices/com3 ]]; } && break
  sleep 0.05
done
if [[ ! -s $work/console.out ]] || { ((!hid)) && [[ ! -L $WINEPREFIX/dosdevices/com3 ]]; }; then
  echo "wine-tests: the virtual terminal did not start:"; cat "$work/vterm.err"
  echo "wine-tests: 0 passed, 1 failed"
  exit 1
fi
if ((hid)); then
  # wine's device manager announces the hidraw node asynchronously, some time after the
  # session started. The test program waits for the announcement itself before its first
  # test (SetupAPI lists the terminal's ids), at most VANTOREL_WINE_HID_WAIT seconds, and
  # fails every test saying so when it does not come; a persistent server keeps the device
  # manager between programs.
  "$WINESERVER" -p >/dev/null 2>&1
  export VANTOREL_WINE_HID_WAIT=${VANTOREL_WINE_HID_WAIT:-120}
  export VANTOREL_WINE_HID=1
  filter=--gtest_filter='WineHid.*'
  echo "wine-tests: USB HID device at $(head -n1 "$work/console.out") ($arch)"
else
  filter=--gtest_filter='-WineHid.*'
  echo "wine-tests: COM3 -> $(head -n1 "$work/console.out") ($arch)"
fi

export VANTOREL_VTERM_COMMANDS VANTOREL_VTERM_REPLIES
VANTOREL_VTERM_COMMANDS=$(winpath "$work/console.in")
VANTOREL_VTERM_REPLIES=$(winpath "$work/console.out")
rm -f "$work/results.xml"
(cd "$(dirname "$exe")" && timeout 600 "$loader" "$exe" --gtest_color=no \
  --gtest_output="xml:$(winpath "$work/results.xml")" "$filter" "$@")
status=$?

total=0 failed=0
if [[ -f $work/results.xml ]]; then
  header=$(grep -m1 '<testsuites' "$work/results.xml")
  total=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$header")
  failed=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$header")
  disabled=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$header")
  total=$((total - ${disabled:-0}))
fi
if ((status != 0 && failed == 0)); then
  # The program died or hung: whatever did not report counts as failed.
  echo "wine-tests: the test program ended with status $status"
  failed=$((total > 0 ? total : 1))
  total=$failed
fi
echo "wine-tests: $((total - failed)) passed, $failed failed"
((failed == 0))
