"""Apartments: the runtime's objects belong to the thread that created them, and a thread
must join an apartment (CoInitialize) before it creates any.

A thread joins on its first use of the package and stays until it ends; `Apartment` joins
for the length of a `with` block instead. When a thread's apartment ends, the objects it
still holds are released there, on their own thread, and refuse later calls."""

import atexit
import threading
import weakref

from . import _native as n
from ._errors import OrvanError

COINIT_APARTMENTTHREADED = 0x2


class _ThreadApartment:
    """The package's membership of one thread's apartment."""

    def __init__(self):
        self.thread = threading.get_ident()
        self.implicit = False  # joined on first use, left when the thread ends
        self.depth = 0  # Apartment blocks open on this thread
        self.objects = weakref.WeakSet()
        self.pending = []  # references dropped on other threads, released here
        self.lock = threading.Lock()

    @property
    def joined(self):
        return self.implicit or self.depth > 0

    def join(self, implicit):
        if not self.joined:
            status = n.runtime().CoInitializeEx(None, COINIT_APARTMENTTHREADED)
            if status < 0:
                raise OrvanError(status, where="CoInitializeEx")
        if implicit:
            self.implicit = True
        else:
            self.depth += 1

    def leave_block(self):
        self.depth -= 1
        if not self.joined:
            self.close()

    def close(self):
        """Releases what the thread still holds and leaves the runtime's apartment. An
        object being dropped on another thread right now is still in `objects`, so either
        its own close here or its drop (under `lock`, before the last look at `pending`)
        takes its reference."""
        for obj in list(self.objects):
            obj._close()
        self.release_pending()
        n.runtime().CoUninitialize()

    def release_pending(self):
        with self.lock:
            pending, self.pending = self.pending, []
        for pointer in pending:
            n.release(pointer)


class _ThreadEnd:
    """Held by the thread-local storage alone, so that it goes when the thread ends, on that
    thread, and ends an apartment the thread joined on first use. (Objects hold the
    apartment state itself, which may outlive the thread.)"""

    def __init__(self, state):
        self.state = state

    def __del__(self):
        state = self.state
        if state.implicit and threading.get_ident() == state.thread:
            state.implicit = False
            if state.depth == 0:
                state.close()


_local = threading.local()


def current(join=True):
    """This thread's apartment state; joins the apartment implicitly when `join` is true."""
    state = getattr(_local, "state", None)
    if state is None:
        state = _local.state = _ThreadApartment()
        _local.end = _ThreadEnd(state)
    if join and not state.joined:
        state.join(implicit=True)
    if state.pending:
        state.release_pending()
    return state


class Apartment:
    """Joins this thread to an apartment for a `with` block. Blocks nest; when the outermost
    ends and the thread had not joined before, objects created in it are released. A thread
    that already joined on first use stays joined."""

    def __enter__(self):
        self._state = current(join=False)
        self._state.join(implicit=False)
        return self

    def __exit__(self, *exc):
        if threading.get_ident() != self._state.thread:
            raise RuntimeError("an Apartment block must end on the thread that began it")
        self._state.leave_block()
        return False


@atexit.register
def _leave_at_exit():
    state = getattr(_local, "state", None)
    if state is not None and state.joined:
        state.implicit, state.depth = False, 0
        state.close()
