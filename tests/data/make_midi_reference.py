#!/usr/bin/python3
"""Writes openmsx_reference.json: the expected length and real time of every MIDI file that
Debian's openttd-openmsx ships, computed with mido (python3-mido), independently of the
engine's own reader. Run once by hand; the table is committed.

  /usr/bin/python3 tests/data/make_midi_reference.py > tests/data/openmsx_reference.json
"""
import glob
import json
import os
import sys
from fractions import Fraction

import mido

FOLDER = "/usr/share/games/openttd/baseset/openmsx"
MUSIC_TICKS_PER_QUARTER = 768


def first_note_seconds(midi):
    """Real time of the first note-on that sounds (velocity above 0), as mido plays the file."""
    seconds = 0.0
    for msg in midi:
        seconds += msg.time
        if msg.type == "note_on" and msg.velocity > 0:
            return seconds
    return 0.0


def describe(path):
    midi = mido.MidiFile(path)
    division = midi.ticks_per_beat
    end_ticks = 0
    tempos = []  # (absolute tick, track, order, microseconds per quarter)
    for index, track in enumerate(midi.tracks):
        tick = 0
        for order, msg in enumerate(track):
            tick += msg.time
            if msg.type == "set_tempo":
                tempos.append((tick, index, order, msg.tempo))
            if msg.type == "end_of_track":
                end_ticks = max(end_ticks, tick)
    tempos.sort()
    # Exact real time of the last end-of-track: 120 BPM until the first tempo event.
    seconds = Fraction(0)
    last_tick, tempo = 0, 500000
    for tick, _, _, value in tempos:
        seconds += Fraction(tick - last_tick) * tempo / (division * 1_000_000)
        last_tick, tempo = tick, value
    seconds += Fraction(end_ticks - last_tick) * tempo / (division * 1_000_000)
    length = Fraction(end_ticks * MUSIC_TICKS_PER_QUARTER, division)
    return {
        "file": os.path.basename(path),
        "format": midi.type,
        "tracks": len(midi.tracks),
        "division": division,
        "end_ticks": end_ticks,
        "length": round(length),
        "seconds": round(float(seconds), 6),
        "mido_length_seconds": round(midi.length, 6),
        "first_note_seconds": round(first_note_seconds(midi), 6),
        "tempo_changes": len(tempos),
    }


def main():
    files = sorted(glob.glob(os.path.join(FOLDER, "*.mid")))
    table = {"folder": FOLDER, "music_ticks_per_quarter": MUSIC_TICKS_PER_QUARTER,
             "files": [describe(f) for f in files]}
    json.dump(table, sys.stdout, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
