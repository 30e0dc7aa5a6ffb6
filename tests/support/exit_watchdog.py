#!/usr/bin/env python3
"""Runs one Windows test program under Wine and ends it if it hangs after it has finished.

Under Wine a process that used WinHTTP over TLS can, now and then, hang for minutes in its own
termination after every test has passed and the summary is printed, or leave a service process
behind that holds its output streams. Once GoogleTest's closing
line is out, the program gets a few seconds to exit; then it is killed and the result is the one
its summary reported. Output passes through unchanged; programs without a summary (the listing
of tests, helper programs) are simply waited for.

Usage: exit_watchdog.py WINE_RUN PROGRAM [ARGS...]"""
import os
import re
import signal
import subprocess
import sys
import threading

GRACE_SECONDS = 15
RAN = re.compile(rb"^\[==========\] \d+ tests? from \d+ test suites? ran")


def main():
    # Both streams pass through here: a Wine service process that the program starts inherits
    # them and may outlive it, and CTest would wait for it to close its own pipes.
    process = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, start_new_session=True)
    failed = threading.Event()
    killed = threading.Event()

    def kill():
        killed.set()
        os.killpg(process.pid, signal.SIGKILL)

    timer = threading.Timer(GRACE_SECONDS, kill)

    def pump():
        for line in iter(process.stdout.readline, b""):
            sys.stdout.buffer.write(line)
            sys.stdout.buffer.flush()
            if line.startswith(b"[  FAILED  ]"):
                failed.set()
            elif RAN.match(line) and not timer.is_alive():
                timer.start()

    def pump_errors():
        for line in iter(process.stderr.readline, b""):
            sys.stderr.buffer.write(line)
            sys.stderr.buffer.flush()

    reader = threading.Thread(target=pump, daemon=True)
    reader.start()
    threading.Thread(target=pump_errors, daemon=True).start()
    code = process.wait()
    timer.cancel()
    # Programs the test started may hold the pipe open; what the program wrote is read by now.
    reader.join(0.05)
    if killed.is_set():
        print(f"exit_watchdog: the program did not exit within {GRACE_SECONDS} s of its summary; ended",
              flush=True)
        return 1 if failed.is_set() else 0
    return code


if __name__ == "__main__":
    result = main()
    sys.stdout.flush()
    sys.stderr.flush()
    # The pump threads may still wait on streams a leftover process holds: end without them.
    os._exit(result)
