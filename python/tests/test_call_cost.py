"""What a call by name costs, through the function table and through Invoke, next to the
bare ctypes call of the same entry. A measurement, not a check on time: it prints its
numbers (pytest -s) and only asserts that the calls answered."""

import time
from ctypes import byref, c_int16

import orvan


def per_call_us(call, count=20000, rounds=5):
    best = float("inf")
    for _ in range(rounds):
        started = time.perf_counter()
        for _ in range(count):
            call()
        best = min(best, time.perf_counter() - started)
    return best / count * 1e6


def test_cost_of_a_named_call(music, organ, tmp_path):
    music.InitOrvanRender(str(tmp_path / "cost.wav"), 48000)
    music.Music_Load(str(organ))
    named = {"IsPlaying()": lambda: music.IsPlaying(),
             "SetMasterVolume(Value=-100)": lambda: music.SetMasterVolume(Value=-100)}
    table = {name: per_call_us(call) for name, call in named.items()}

    is_playing = music._description.methods["IsPlaying"]
    function = music._target.functions[is_playing.table.entry]
    result = c_int16()
    bare = per_call_us(lambda: function(music._pointer, byref(result)))

    methods = music._description.methods
    kept = {name: m.table for name, m in methods.items()}
    try:
        for m in methods.values():
            m.table = None
        invoke = {name: per_call_us(call, count=5000) for name, call in named.items()}
    finally:
        for name, m in methods.items():
            m.table = kept[name]

    print("\ncost of a call, best of 5 rounds, in microseconds:")
    print("  bare ctypes call of IsPlaying's entry: %.2f" % bare)
    for name in named:
        print("  %-28s table %.2f   Invoke %.2f" % (name, table[name], invoke[name]))
    assert music.IsPlaying() is False and music.GetMasterVolume() == -100
