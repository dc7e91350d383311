#!/usr/bin/env bash
# Runs one example against the virtual terminal, with scripts/NAME.vterm playing the
# customer: exit 0 when the example exited 0 and the script ran to its end.
#
#   run-example.sh VTERM PROGRAM NAME [WORKDIR]
#
# VTERM is the vantorel-vterm program, PROGRAM the built example, NAME the example's name
# (sign, secure_reading, pin_block, numeric_rsa, manual_entry, reader_settings).
set -uo pipefail
vterm=$1 program=$2 name=$3
here=$(cd "$(dirname "$0")" && pwd)
work=${4:-$(mktemp -d)}
mkdir -p "$work" && cd "$work" || exit 1
link=$work/terminal.tty
rm -f "$link"

args=()
case $name in
  pin_block) args=(2) ;;  # seconds before the entry is cancelled
  numeric_rsa) "$here/make-test-key.sh" "$work" || exit 1; args=("$work/key.txt") ;;
esac
# The script, with a marker at its end that tells it ran through.
{ cat "$here/scripts/$name.vterm"; echo "echo script-finished"; } >"$work/script.vterm"

"$vterm" --link "$link" --no-stdin --script "$work/script.vterm" >"$work/vterm.log" 2>&1 &
pid=$!
for _ in $(seq 50); do [[ -e "$link" ]] && break; sleep 0.1; done
timeout 60 "$program" "$link" "${args[@]}"
rc=$?
for _ in $(seq 20); do grep -q '^script-finished' "$work/vterm.log" && break; sleep 0.1; done
if ! grep -q '^script-finished' "$work/vterm.log"; then
  echo "the terminal's script did not run to its end:" >&2
  cat "$work/vterm.log" >&2
  rc=1
fi
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
rm -f "$work/key.pem" "$work/key.txt"
exit "$rc"
