#!/usr/bin/env python3
"""Plays a backing piece through the Orvan Music Engine and, after two seconds, a layer that
joins it on its next bar and keeps its tempo: two channels on the sound card, which every
channel of a process shares. Register the component first: orvan-regsvr build/lib/libTovel.so

    python3 examples/layer_on_beat.py BACKING.mid LAYER.mid [SECONDS]
"""
import sys
import time

import orvan


def main(argv):
    if len(argv) < 3:
        print("usage: layer_on_beat.py BACKING.mid LAYER.mid [SECONDS]", file=sys.stderr)
        return 2
    seconds = float(argv[3]) if len(argv) > 3 else 10.0

    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as backing, \
            orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as layer:
        for channel, path in ((backing, argv[1]), (layer, argv[2])):
            channel.InitOrvanAudio(0, SampleRate=48000)
            channel.Music_Load(path)  # a file it cannot load is reported in a message box
        backing.Music_Play(nLoop=0)
        time.sleep(2.0)
        try:
            layer.Music_PlayWith(backing, layer.OrvanBoundary.OBND_BAR)
        except orvan.OrvanError as error:
            print("the layer cannot follow: %s" % error.text, file=sys.stderr)
            return 1
        print("the layer joins on the next bar")
        time.sleep(seconds / 2)
        backing.SetMasterTempo(Value=1.2)  # the layer speeds up with it
        print("both at master tempo 1.2")
        time.sleep(seconds / 2)
        for channel in (layer, backing):
            channel.Music_Stop()
            channel.CleanupAudio()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
