"""Runs a command on a pseudo-terminal, as a user at a terminal would.

    pty_run.py PROMPT ANSWER -- COMMAND...

Types ANSWER and a line end once PROMPT has appeared (an empty PROMPT types
nothing), then copies everything the terminal showed to standard output and
exits with the command's status. Gives up after 60 seconds.
"""
import os
import pty
import select
import sys
import time


def main():
    sep = sys.argv.index("--")
    prompt, answer = sys.argv[1].encode(), sys.argv[2].encode()
    command = sys.argv[sep + 1:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(command[0], command)
    shown = b""
    typed = not prompt
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
        if not typed and prompt in shown:
            os.write(fd, answer + b"\n")
            typed = True
    else:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    sys.stdout.buffer.write(shown)
    sys.exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 100)


main()
