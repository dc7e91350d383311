"""The six examples of examples/python, each against a virtual terminal whose script plays
the user, all at once (each program has its own process and so its own connection)."""

from __future__ import annotations

import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

from conftest import HERE, ROOT

EXAMPLES = ROOT / "examples" / "python"
CARD = "4000123412341234"

# name: (the terminal's script, extra arguments, what the output says, what it must not say)
CASES = {
    "sign": (
        "wait capture-start\nsign 100,100 300,300 500,200 / 600,600 700,650\n"
        "wait capture-exit\n",
        ["{tmp}/signature.png"],
        "saved {tmp}/signature.png: 5 points in 2 strokes",
        [],
    ),
    "secure_reading": (
        f'wait secure-on\nswipe "%B{CARD}^TEST/CARD^2512101?" ;{CARD}=2512101?\n'
        "sleep 300\nwait key-poll\npinkey enter\n",
        [],
        "card: tracks, 65 bytes\nkey enter\nreading stopped: 1 card(s)",
        [CARD],
    ),
    "pin_block": ("entry hold\n", ["1.5"], "no PIN within 1.5 s: cancelled, code 105", []),
    "numeric_rsa": (
        "pubkey {tmp}/key.pem\nentry digits 987654 300\n",
        ["{tmp}/key.pem"],
        "entered 6 digits",
        ["987654"],
    ),
    "manual_entry": (f"manual card {CARD}=2512\n", [], "card keyed: ", [CARD]),
    "reader_settings": ("", ["2"], "decoding: 0\nkey model: ", []),
}


def run_example(name, terminal_program, tmp):
    script, arguments, expected, secrets = CASES[name]
    vterm = terminal_program(script.format(tmp=tmp), name)
    env = dict(os.environ, VANTOREL_PORT=vterm.link, PYTHONPATH=str(HERE.parent))
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / f"{name}.py"), vterm.link]
        + [a.format(tmp=tmp) for a in arguments],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )
    vterm.stop()
    return done, expected.format(tmp=tmp), secrets


def test_every_example_runs_against_the_virtual_terminal(terminal_program, tmp_path):
    subprocess.run(
        ["openssl", "genrsa", "-traditional", "-out", str(tmp_path / "key.pem"), "1024"],
        check=True,
        capture_output=True,
    )
    with ThreadPoolExecutor(len(CASES)) as pool:
        runs = dict(
            zip(CASES, pool.map(lambda n: run_example(n, terminal_program, tmp_path), CASES))
        )
    failures = []
    for name, (done, expected, secrets) in runs.items():
        output = done.stdout + done.stderr
        if done.returncode != 0 or expected not in done.stdout:
            failures.append(f"{name}: exit {done.returncode}, expected {expected!r} in:\n{output}")
        failures += [f"{name} printed a secret" for secret in secrets if secret in output]
    assert not failures, "\n".join(failures)
    png = (tmp_path / "signature.png").read_bytes()
    assert png.startswith(b"\x89PNG") and png[16:24] == bytes.fromhex("00000140000000F0")
    assert "decoding now: 2" in runs["reader_settings"][0].stdout
