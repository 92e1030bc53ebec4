#!/usr/bin/env python3
"""Interactive music through the Orvan Music Engine's second interface, called by name: a
piece's intro once, then its loop region repeated, and on request the next piece from a bar
line, the first fading out under it. Register the component first:
orvan-regsvr build/lib/libTovel.so

    python3 examples/interactive.py [--render OUT.wav] [--repeats N] FILE [NEXT SECONDS]

The loop region is the one FILE marks (MIDI loopStart/loopEnd markers, LOOPSTART tags, a WAV
sampler loop), else the whole piece. NEXT is queued SECONDS into the play and starts on the
bar after. --render writes the music into OUT.wav as fast as it renders instead of playing.
"""
import argparse
import sys
import time

import orvan


def main(argv):
    parser = argparse.ArgumentParser(prog="interactive.py")
    parser.add_argument("--render", metavar="OUT.wav")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("file")
    parser.add_argument("next", nargs="?")
    parser.add_argument("seconds", nargs="?", type=float, default=5.0)
    args = parser.parse_args(argv[1:])

    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as music:
        if args.render:
            music.InitOrvanRender(args.render, SampleRate=48000)
        else:
            music.InitOrvanAudio(0, SampleRate=48000)
        music.Music_Load(args.file)  # a file it cannot load is reported in a message box
        try:
            length = music.GetLengh()
        except orvan.OrvanError as error:
            print("could not play %s: %s" % (args.file, error.text), file=sys.stderr)
            return 1
        start, end = music.GetLoopStart(), music.GetLoopEnd()
        print("loop %d .. %d of %d" % (start, end or length, length))
        music.Music_Play(nLoop=args.repeats)

        played, queued = 0.0, args.next is None
        while music.IsPlaying() and played < 3600:
            if not queued and played >= args.seconds:
                print("%.2f s: bar %d beat %d, next on the bar" %
                      (played, music.GetBar(), music.GetBeat()))
                # Loaded now, so that it starts on the bar line to the frame; from here on
                # the members answer for it.
                try:
                    music.Music_PlayNext(args.next, music.OrvanBoundary.OBND_BAR,
                                         FadeMilliseconds=500)
                except orvan.OrvanError as error:
                    print("could not play %s: %s" % (args.next, error.text), file=sys.stderr)
                    return 1
                queued = True
            if args.render:
                music.RenderFor(250)  # a quarter of a second more in the file
            else:
                time.sleep(0.25)
            played += 0.25
        music.CleanupAudio()  # completes the WAV file
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
