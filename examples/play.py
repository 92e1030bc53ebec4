#!/usr/bin/env python3
"""Plays a music file for a few seconds through the Orvan Music Engine component, called
by name. Register the component first: orvan-regsvr build/lib/libTovel.so

    python3 examples/play.py FILE.mid [SECONDS]
"""
import sys
import time

import orvan


def main(argv):
    if len(argv) < 2:
        print("usage: play.py FILE.mid [SECONDS]", file=sys.stderr)
        return 2
    seconds = float(argv[2]) if len(argv) > 2 else 5.0

    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as music:
        music.InitOrvanAudio(0, SampleRate=48000)
        music.Music_Load(argv[1])  # a file it cannot load is reported in a message box
        music.SetMasterVolume(Value=-600)
        music.Music_Play(nLoop=0)
        try:
            length = music.GetLengh()
        except orvan.OrvanError as error:
            print("could not play %s: %s" % (argv[1], error.text), file=sys.stderr)
            return 1
        for _ in range(int(seconds * 4)):
            time.sleep(0.25)
            state = "playing" if music.IsPlaying() else "stopped"
            print("%8d / %d %s" % (music.GetCurrentPosition(), length, state))
        music.Music_Stop()
        music.CleanupAudio()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
