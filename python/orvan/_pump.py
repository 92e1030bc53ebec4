"""Calls posted to this thread's apartment (events among them) run only when the thread
pumps: `pump(timeout)` runs them, and the apartment's descriptor, readable exactly while
calls wait, lets an event loop pump when there is something to run.

    orvan.pump(0.5)                 # wait up to half a second, run what came
    orvan.watch(asyncio.get_running_loop())   # pump whenever calls arrive
"""

import ctypes

from . import _apartment
from . import _native as n
from ._errors import OrvanError


def _runtime_with_queues():
    lib = n.runtime()
    if not hasattr(lib, "OrvanPumpApartment"):
        raise OrvanError(n.E_FAIL, where="this runtime has no apartment calls")
    return lib


def pump(timeout=0):
    """Runs the calls waiting for this thread, oldest first, and returns how many ran.
    Waits up to `timeout` seconds for the first (0: not at all; None: until one comes). The
    thread joins an apartment if it has not."""
    if timeout is None:
        milliseconds = n.INFINITE
    else:
        if timeout < 0:
            raise ValueError("timeout must be 0 or more seconds, or None")
        milliseconds = min(int(round(timeout * 1000)), n.INFINITE - 1)
    lib = _runtime_with_queues()
    _apartment.current()
    ran = ctypes.c_uint32()
    status = lib.OrvanPumpApartment(milliseconds, ctypes.byref(ran))
    if status < 0:
        raise OrvanError(status, where="OrvanPumpApartment")
    return ran.value


def descriptor():
    """This thread's apartment descriptor: readable exactly while calls wait for pump().
    Watch it, never read or close it."""
    lib = _runtime_with_queues()
    _apartment.current()
    fd = ctypes.c_int(-1)
    status = lib.OrvanGetApartmentDescriptor(ctypes.byref(fd))
    if status < 0:
        raise OrvanError(status, where="OrvanGetApartmentDescriptor")
    return fd.value


def watch(loop):
    """Has the asyncio event `loop`, which runs on this thread, pump this thread's apartment
    whenever calls arrive; returns the descriptor it watches. `unwatch(loop)` stops it."""
    fd = descriptor()
    loop.add_reader(fd, pump, 0)
    return fd


def unwatch(loop):
    """Stops `loop` watching this thread's apartment; True when it was."""
    return loop.remove_reader(descriptor())
