#!/usr/bin/python3
"""Another xBase program's locks, taken the classic way (fcntl F_SETLK /
F_SETLKW, owned by the process) at the offsets FoxPro-compatible tools use.

  classic_lock.py hold FILE OFFSET r|w MILLISECONDS DBF
      waits for the lock, prints "locked COUNT", keeps it for MILLISECONDS,
      prints "released COUNT" just before letting go (COUNT: the record
      count in DBF's header at that moment).
  classic_lock.py probe FILE OFFSET SECONDS
      tries a write lock without waiting, again and again for SECONDS, and
      prints "busy N free M": how often someone else held it.
"""
import errno
import fcntl
import os
import sys
import time


def count(fd):
    return int.from_bytes(os.pread(fd, 4, 4), 'little')


def main():
    mode, path, offset = sys.argv[1], sys.argv[2], int(sys.argv[3], 0)
    fd = os.open(path, os.O_RDWR)
    if mode == 'hold':
        kind = fcntl.LOCK_SH if sys.argv[4] == 'r' else fcntl.LOCK_EX
        millis = int(sys.argv[5])
        # Opened once and kept: closing any descriptor of a file drops
        # every classic lock the process holds on it.
        dbf = os.open(sys.argv[6], os.O_RDONLY)
        fcntl.lockf(fd, kind, 1, offset, 0)
        print('locked', count(dbf), flush=True)
        time.sleep(millis / 1000.0)
        print('released', count(dbf), flush=True)
        fcntl.lockf(fd, fcntl.LOCK_UN, 1, offset, 0)
    elif mode == 'probe':
        busy = free = 0
        end = time.monotonic() + float(sys.argv[4])
        while time.monotonic() < end:
            try:
                fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, offset, 0)
                free += 1
                fcntl.lockf(fd, fcntl.LOCK_UN, 1, offset, 0)
            except OSError as e:
                if e.errno not in (errno.EACCES, errno.EAGAIN):
                    raise
                busy += 1
            time.sleep(0.0005)
        print('busy', busy, 'free', free, flush=True)
    os.close(fd)


if __name__ == '__main__':
    main()
