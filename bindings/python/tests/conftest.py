"""The virtual terminal program on a pseudo-terminal, played by a script, for the tests.

VANTOREL_VTERM names the program and VANTOREL_LIBRARY the library (scripts/python-tests.sh
sets both from its build); the package is imported from this source tree.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import Iterator, List, Optional

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
ROOT = HERE.parents[2]


def vterm_program() -> str:
    program = os.environ.get("VANTOREL_VTERM")
    if not program:
        pytest.fail("VANTOREL_VTERM is not set (scripts/python-tests.sh sets it)")
    return program


class Vterm:
    """One vantorel-vterm process with its link, started with `script`."""

    def __init__(self, directory: Path, script: str, name: str = "vterm") -> None:
        self.link = str(directory / f"{name}.tty")
        self.script = directory / f"{name}.script"
        self.script.write_text(script)
        self.log = directory / f"{name}.out"
        self.process = subprocess.Popen(
            [vterm_program(), "--link", self.link, "--no-stdin", "--script", str(self.script)],
            stdout=self.log.open("w"),
            stderr=subprocess.STDOUT,
        )
        deadline = time.monotonic() + 10
        while not os.path.exists(self.link):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the virtual terminal did not start: " + self.log.read_text())
            time.sleep(0.02)

    def wait_for(self, line: str, timeout: float = 20.0) -> None:
        """Waits until the terminal printed this line (a script's `echo`)."""
        deadline = time.monotonic() + timeout
        while line not in self.log.read_text().splitlines():
            if time.monotonic() > deadline:
                raise AssertionError(f"no line {line!r}:\n{self.log.read_text()}")
            time.sleep(0.02)

    def stop(self) -> str:
        """Ends the terminal; returns what it printed. A failed script line fails the test."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(10)
        output = self.log.read_text()
        assert code == 0, f"the virtual terminal's script failed ({code}):\n{output}"
        return output

    def frames(self) -> List[bytes]:
        """The contents of the frames the script's last `frames` printed."""
        contents: List[bytes] = []
        for line in self.stop().splitlines():
            words = line.split()
            if len(words) > 3 and words[0] == "1" and words[1] == "ok":
                contents = []  # a new listing starts
            if len(words) > 3 and words[0].isdigit() and words[1] == "ok":
                raw = bytes.fromhex("".join(words[2:]))
                contents.append(raw[3 : 3 + int.from_bytes(raw[1:3], "little")])
        return contents


@pytest.fixture
def terminal_program(tmp_path: Path) -> Iterator:
    """Starts virtual terminals: ``terminal_program(script)`` -> Vterm; all end with the test."""
    started: List[Vterm] = []

    def start(script: str, name: Optional[str] = None) -> Vterm:
        started.append(Vterm(tmp_path, script, name or f"vterm{len(started)}"))
        return started[-1]

    yield start
    for vterm in started:
        if vterm.process.poll() is None:
            vterm.process.send_signal(signal.SIGTERM)
            vterm.process.wait(10)


@pytest.fixture
def open_terminal(terminal_program):  # type: ignore[no-untyped-def]
    """``open_terminal(script)`` -> (Terminal open on a fresh virtual terminal, Vterm)."""
    import vantorel

    opened = []

    def start(script: str = ""):  # type: ignore[no-untyped-def]
        vterm = terminal_program(script)
        opened.append(vantorel.Terminal.serial(vterm.link))
        return opened[-1], vterm

    yield start
    for terminal in opened:
        terminal.close()
