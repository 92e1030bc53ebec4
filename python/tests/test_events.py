"""Events of a real render reach a Python handler's On<Event> methods, named from the type
information: in orvan.pump or through an asyncio loop watching the apartment, one handler per
object, and a handler that raises is reported without stopping the other."""

import asyncio

import orvan

RATE = 48000


class Recorder:
    def __init__(self):
        self.heard = []

    def OnStarted(self, frame):
        self.heard.append(("Started", frame))

    def OnBeat(self, bar, beat, frame):
        self.heard.append(("Beat", bar, beat, frame))

    def OnEnded(self, frame):
        self.heard.append(("Ended", frame))


class Raising:
    def OnBeat(self, bar, beat, frame):
        raise RuntimeError("no lights here")


def start(tmp_path, organ, name, handler):
    music = orvan.Dispatch("OrvanMusicEngine.OrvanMusic")
    events = orvan.WithEvents(music, handler)
    music.InitOrvanRender(str(tmp_path / name), RATE)
    music.Music_Load(str(organ))
    music.Music_Play(0)
    return music, events


def check_organ(heard):
    """The organ file: four quarters at 120 BPM, beats every half second, the end at 2 s."""
    assert [h[0] for h in heard] == ["Started", "Beat", "Beat", "Beat", "Beat", "Ended"]
    assert [h[1:3] for h in heard[1:5]] == [(1, 1), (1, 2), (1, 3), (1, 4)]
    for i, beat in enumerate(heard[1:5]):
        assert abs(beat[3] - i * RATE / 2) <= 64
    assert abs(heard[-1][1] - 2 * RATE) <= 64


def test_two_objects_with_two_handlers_and_one_that_raises(tmp_path, organ, capfd):
    good, bad = Recorder(), Raising()
    music, events = start(tmp_path, organ, "good.wav", good)
    other, other_events = start(tmp_path, organ, "bad.wav", bad)
    assert {"Started", "Beat", "Marker", "Looped", "Ended"} <= set(events.names)
    music.RenderFor(2500)
    other.RenderFor(2500)
    assert good.heard == []  # nothing outside the pump
    while orvan.pump(0):
        pass
    check_organ(good.heard)
    reports = capfd.readouterr().err
    assert reports.count("event sink") == 1 and "no lights here" in reports
    events.close()
    other_events.close()
    music.RenderFor(100)
    orvan.pump(0)
    assert good.heard[-1][0] == "Ended"  # nothing after close


def test_an_asyncio_loop_delivers_the_events(tmp_path, organ):
    recorder = Recorder()
    music, events = start(tmp_path, organ, "loop.wav", recorder)

    async def main():
        loop = asyncio.get_running_loop()
        orvan.watch(loop)
        try:
            music.RenderFor(2500)
            for _ in range(100):
                if recorder.heard and recorder.heard[-1][0] == "Ended":
                    break
                await asyncio.sleep(0.01)
        finally:
            orvan.unwatch(loop)

    asyncio.run(main())
    check_organ(recorder.heard)
    events.close()
