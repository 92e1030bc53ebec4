"""Apartments: a thread joins on first use, objects answer only on their own thread, and
an apartment's end releases what it still holds (the engine says goodbye on stderr when an
object goes)."""

import threading

import pytest

import orvan

FAREWELL = "Thank you for using 'Orvan Music Engine'"
RPC_E_WRONG_THREAD = 0x8001010E
OBJECT_NOT_SET = 0x800A005B


def in_thread(work):
    """Runs `work` on a new thread and returns what it returned or raised."""
    outcome = {}

    def run():
        try:
            outcome["value"] = work()
        except BaseException as error:  # handed back to the test's thread
            outcome["error"] = error

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def test_an_object_answers_only_on_its_own_thread(music):
    music.InitOrvanAudio(0)
    music.SetMasterVolume(-400)
    with pytest.raises(orvan.OrvanError) as wrong:
        in_thread(lambda: music.SetMasterVolume(-10))
    assert wrong.value.status == RPC_E_WRONG_THREAD
    assert music.GetMasterVolume() == -400


def test_apartment_block_releases_its_objects_at_its_end(capfd):
    def work():
        with orvan.Apartment():
            with orvan.Apartment():  # blocks nest; the outer one ends the apartment
                kept = orvan.Dispatch("OrvanMusicEngine.OrvanMusic")
                kept.InitOrvanAudio(0)
                kept.SetMasterVolume(-900)
            volume = kept.GetMasterVolume()
            assert FAREWELL not in capfd.readouterr().err
        return kept, volume

    kept, volume = in_thread(work)
    assert volume == -900
    assert capfd.readouterr().err.count(FAREWELL) == 1
    with pytest.raises(orvan.OrvanError) as released:
        in_thread(kept.GetMasterVolume)
    assert released.value.status in (OBJECT_NOT_SET, RPC_E_WRONG_THREAD)


def test_a_thread_joined_on_first_use_releases_its_objects_when_it_ends(capfd):
    def work():
        obj = orvan.Dispatch("OrvanMusicEngine.OrvanMusic")
        obj.InitOrvanAudio(0)
        obj.SetMasterTempo(3.0)
        return obj, obj.GetMasterTempo()

    kept, tempo = in_thread(work)
    assert tempo == 3.0
    assert capfd.readouterr().err.count(FAREWELL) == 1
    assert kept._pointer is None


def test_a_reference_dropped_elsewhere_is_released_on_the_owning_thread(capfd):
    created, dropped, finished = threading.Event(), threading.Event(), threading.Event()
    holder = []

    def owner():
        with orvan.Apartment():
            holder.append(orvan.Dispatch("OrvanMusicEngine.OrvanMusic"))
            created.set()
            dropped.wait()
            before = capfd.readouterr().err.count(FAREWELL)
            orvan.Dispatch("OrvanMusicEngine.OrvanMusic").Change_MaxDLS(2)  # the next use
            finished.set()
            return before

    thread_result = {}
    thread = threading.Thread(target=lambda: thread_result.update(before=owner()))
    thread.start()
    created.wait()
    holder.clear()  # the last reference goes on this thread
    dropped.set()
    thread.join()
    assert finished.is_set()
    assert thread_result["before"] == 0  # not released on the wrong thread
    assert capfd.readouterr().err.count(FAREWELL) == 2  # the dropped one and the temporary


def test_each_reference_is_released_once_when_dropped_elsewhere_as_its_apartment_ends(
        monkeypatch):
    """Objects whose last reference goes on another thread just as their own thread's
    apartment ends: the apartment's close and the drop race for each pointer, and exactly one
    of them may release it. Stand-in pointers and a counting release keep the race cheap
    enough to repeat thousands of times with a very short thread switch interval."""
    import queue
    import sys

    from orvan import _apartment, _dispatch, _native

    released = {}
    lock = threading.Lock()

    def counting_release(pointer):
        with lock:
            released[pointer] = released.get(pointer, 0) + 1
        return 0

    monkeypatch.setattr(_native, "release", counting_release)
    handed = queue.Queue()
    rounds, per_round = 600, 200
    together = threading.Barrier(2)

    def owner(first):
        with orvan.Apartment():
            state = _apartment.current(join=False)
            handed.put([_dispatch.DispatchObject(first + i, None, state)
                        for i in range(per_round)])
            together.wait()  # the apartment ends while the dropper lets go

    def dropper():
        for _ in range(rounds):
            objects = handed.get()
            together.wait()
            while objects:
                objects.pop()

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        drops = threading.Thread(target=dropper)
        drops.start()
        for r in range(rounds):
            in_thread(lambda first=1 + r * per_round: owner(first))
        drops.join()
    finally:
        sys.setswitchinterval(previous)
    twice = {p: c for p, c in released.items() if c != 1}
    assert twice == {}
    assert len(released) == rounds * per_round
