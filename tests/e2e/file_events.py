"""Bounded waits for a file that another process makes, woken by the kernel's
inotify events on the file's folder rather than by polling.

A file made by a Windows program under Wine, by a Linux program that Wine
started, or renamed into place from a temporary name all show up as an event on
the folder. Writers that others read make their file under a temporary name and
rename it, so a file that exists is whole."""
import ctypes
import ctypes.util
import os
import pathlib
import select
import time

_libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
_IN_CLOEXEC = 0o2000000
_IN_NONBLOCK = 0o4000
_IN_CLOSE_WRITE = 0x008
_IN_MOVED_TO = 0x080
_IN_CREATE = 0x100


def wait_for_file(path, seconds=60):
    """Waits until `path` exists, at most `seconds`; returns whether it does.
    The watch is set before the first look, so a file made in between still
    wakes the wait."""
    path = pathlib.Path(path)
    fd = _libc.inotify_init1(_IN_CLOEXEC | _IN_NONBLOCK)
    if fd < 0:
        raise OSError(ctypes.get_errno(), "inotify_init1 failed")
    try:
        mask = _IN_CREATE | _IN_MOVED_TO | _IN_CLOSE_WRITE
        if _libc.inotify_add_watch(fd, os.fsencode(path.parent), mask) < 0:
            raise OSError(ctypes.get_errno(), f"cannot watch {path.parent}")
        deadline = time.monotonic() + seconds
        while not path.exists():
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return False
            ready, _, _ = select.select([fd], [], [], remaining)
            if ready:
                os.read(fd, 65536)  # the events only say "look again"
        return True
    finally:
        os.close(fd)
