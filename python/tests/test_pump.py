"""Calls posted to a thread's apartment run inside orvan.pump on that thread, or when an
asyncio loop watching the apartment's descriptor sees them."""

import asyncio
import ctypes
import select
import threading

import pytest

import orvan
from orvan import _native as n


def post_from_another_thread(apartment, calls):
    """Posts each of `calls` (Python callables) to `apartment` from a new thread, in order,
    and returns the ctypes functions, which must live until the calls have run."""
    keep = []

    def post():
        for call in calls:
            function = n.APARTMENT_FUNCTION(lambda _context, call=call: call())
            keep.append(function)
            status = n.runtime().OrvanPostToApartment(apartment, function,
                                                      n.APARTMENT_FUNCTION(), None)
            assert status == 0

    thread = threading.Thread(target=post)
    thread.start()
    thread.join()
    return keep


def this_apartment():
    orvan.pump(0)  # joins the thread's apartment
    apartment = ctypes.c_uint64()
    assert n.runtime().OrvanGetCurrentApartment(ctypes.byref(apartment)) == 0
    return apartment.value


def readable(fd):
    return bool(select.select([fd], [], [], 0)[0])


def test_posted_calls_run_in_order_on_the_pumping_thread_only_when_it_pumps():
    ran = []
    with orvan.Apartment():
        fd = orvan.descriptor()
        keep = post_from_another_thread(
            this_apartment(), [lambda k=k: ran.append((k, threading.get_ident())) for k in "abc"])
        assert ran == []
        assert readable(fd)
        assert orvan.pump(0) == 3
        assert ran == [(k, threading.get_ident()) for k in "abc"]
        assert not readable(fd)
        assert orvan.pump(0.01) == 0
        with pytest.raises(ValueError):
            orvan.pump(-1)
        del keep


def test_an_asyncio_loop_watching_the_descriptor_runs_calls_as_they_come():
    async def main():
        loop = asyncio.get_running_loop()
        arrived = loop.create_future()
        orvan.watch(loop)
        try:
            keep = post_from_another_thread(
                this_apartment(), [lambda: arrived.set_result(threading.get_ident())])
            thread = await asyncio.wait_for(arrived, timeout=10)
            del keep
            return thread
        finally:
            assert orvan.unwatch(loop)

    with orvan.Apartment():
        assert asyncio.run(main()) == threading.get_ident()
