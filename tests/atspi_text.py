# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the program through AT-SPI for tests/check_atspi: a reply of 6,000 bytes on one line
arrives on a pseudo-terminal, then the work area's text as AT-SPI gives it is compared with
what select-all and copy put on the clipboard. Also checks that the window is a frame and,
with --simulate, that the simulated board's lamps have names."""

import os
import subprocess
import sys
import time

import pyatspi

PROGRAM = sys.argv[1]
REPLY_BYTES = 6000
failures = []


def fail(message):
    print("FAIL: " + message)
    failures.append(message)


def wait_for(what, condition, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = condition()
        except Exception:  # the bus is not ready, or an object went away meanwhile
            found = None
        if found:
            return found
        time.sleep(0.2)
    raise SystemExit("FAIL: timed out waiting for " + what)


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def find(root, predicate):
    return pyatspi.findDescendant(root, predicate, True)


def start(arguments):
    return subprocess.Popen([PROGRAM] + arguments, stderr=subprocess.DEVNULL)


def work_area_text():
    """The reply on one line after the start-up notice, through the real program."""
    master, slave = os.openpty()
    program = start(["--port", "COM1=" + os.ttyname(slave)])
    try:
        app = wait_for("the program on the AT-SPI bus", lambda: application(program.pid))
        frames = [child for child in app if child is not None]
        if not frames or frames[0].getRoleName() != "frame":
            fail("the window's role is %s, not frame"
                 % (frames[0].getRoleName() if frames else "missing"))
        work_area = wait_for("the work area", lambda: find(
            app, lambda o: o.name == "工作区" and o.getRoleName() == "text"))
        text = work_area.queryText()
        # Once the port is open, as the lamp says, the reply comes in one write, as one packet.
        wait_for("the port to open", lambda: find(app, lambda o: o.name == "串口已打开"))
        reply = bytes(i % 256 for i in range(REPLY_BYTES))
        os.write(master, reply)
        # The last bytes, whatever breaks the text holds among them (str.split takes U+2028 too).
        tail = "".join("%02X" % b for b in reply[-4:])
        read = wait_for("the reply in the work area", lambda: (
            lambda t: t if "".join(t.split()).endswith(tail) else None)(
                text.getText(0, text.characterCount)))
        # Select everything and copy it as the operator does, then read the clipboard.
        extents = work_area.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(extents.x + extents.width // 3),
                        str(extents.y + extents.height // 2), "click", "1",
                        "key", "ctrl+a", "key", "ctrl+c"], check=True)
        copied = wait_for("the copied text", lambda: subprocess.run(
            ["xclip", "-o", "-selection", "clipboard"], capture_output=True,
            timeout=10).stdout.decode("utf-8") or None)
        return read, copied
    finally:
        program.terminate()
        program.wait(20)
        os.close(master)
        os.close(slave)


def board_lamps():
    program = start(["--simulate"])
    try:
        app = wait_for("the program on the AT-SPI bus", lambda: application(program.pid))
        panel = wait_for("the simulated board's window", lambda: find(
            app, lambda o: o.name == "模拟继电器板"))
        return sorted(child.name for child in panel if child is not None
                      and child.getRoleName() == "image")
    finally:
        program.terminate()
        program.wait(20)


read, copied = work_area_text()
expected = copied.replace("\r\n", "\n")
if "\u2028" in read:
    fail("the work area's text holds %d U+2028" % read.count("\u2028"))
if read != expected:
    fail("the work area's text differs from the copy: %d characters and %d line breaks, "
         "the copy %d and %d" % (len(read), read.count("\n"), len(expected),
                                 expected.count("\n")))
else:
    print("The work area reads as copied: %d characters, %d line breaks"
          % (len(read), read.count("\n")))

lamps = board_lamps()
wanted = ["第一路 继电器 释放", "第二路 继电器 释放"]
if lamps != wanted:
    fail("the simulated board's lamps are %s, not %s" % (lamps, wanted))

sys.exit(1 if failures else 0)
