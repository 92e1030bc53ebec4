"""The Python examples run against the component, and the README shows them as they are."""

import array
import math
import os
import re
import subprocess
import sys
import wave

from conftest import ORGAN_LENGTH, SOURCE_DIR, render_channel

EXAMPLE = SOURCE_DIR / "examples" / "play.py"
INTERACTIVE = SOURCE_DIR / "examples" / "interactive.py"
RATE = 48000  # the examples' rate


def readme_block(heading, fence="python"):
    """The first block fenced as `fence` after the README's `heading`."""
    readme = (SOURCE_DIR / "README.md").read_text()
    section = readme[readme.index(heading):]
    return re.search(r"```%s\n(.*?)```" % fence, section, re.S).group(1)


def test_readme_shows_the_examples_as_they_are():
    assert readme_block("## Python") == EXAMPLE.read_text()
    assert readme_block("## Interactive music") == INTERACTIVE.read_text()


def test_example_plays_and_reports_the_length(organ):
    env = dict(os.environ, PYTHONPATH=str(SOURCE_DIR / "python"))
    run = subprocess.run([sys.executable, str(EXAMPLE), str(organ), "0.5"], env=env,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert len(lines) == 2
    assert all(re.fullmatch(r" *\d+ / %d (playing|stopped)" % ORGAN_LENGTH, l) for l in lines)

    missing = subprocess.run([sys.executable, str(EXAMPLE), str(organ) + ".absent", "0.5"],
                             env=env, capture_output=True, text=True, timeout=120)
    assert missing.returncode == 1 and "could not play" in missing.stderr


def test_package_version_is_the_project_version():
    import orvan
    cmake = (SOURCE_DIR / "CMakeLists.txt").read_text()
    project = re.search(r"project\(OrvanMusicEngine VERSION ([0-9.]+)", cmake).group(1)
    assert orvan.__version__ == project


def write_tone(path, hz, seconds):
    """A mono 16-bit WAV of a steady sine, a whole number of periods long."""
    frames = RATE * seconds
    samples = array.array("h", (round(8192 * math.sin(2 * math.pi * hz * i / RATE))
                                for i in range(frames)))
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.tobytes())


def test_interactive_example_loops_then_starts_the_next_piece_on_the_bar(tmp_path):
    # A 4 s tone (two bars at a recording's default 120 beats a minute in 4) played three
    # times whole; the next piece, a second of 1000 Hz, queued 5.25 s in (the second pass's
    # bar 1 beat 3), starts on its bar 2 at 6 s. The example renders a quarter second at a
    # time and sees a play stopped in the quarter after it ends.
    first, following = tmp_path / "first.wav", tmp_path / "next.wav"
    write_tone(first, 440, 4)
    write_tone(following, 1000, 1)
    env = dict(os.environ, PYTHONPATH=str(SOURCE_DIR / "python"))

    def run(name, *arguments):
        done = subprocess.run([sys.executable, str(INTERACTIVE), "--render",
                               str(tmp_path / name), "--repeats", "2", *arguments],
                              env=env, capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        return done.stdout, render_channel(tmp_path / name, 0)

    said, alone = run("alone.wav", str(first))
    assert said == "loop 0 .. 6144 of 6144\n"
    assert len(alone) == 12.25 * RATE
    # Each pass plays the file's own frames again: the seams lose and double none (a frame
    # off would differ by 0.02 here), only the output's DC filter tells passes apart.
    assert max(abs(alone[i] - alone[i + 4 * RATE]) for i in range(RATE, 2 * RATE)) < 1e-3
    assert max(abs(alone[i] - alone[i + 8 * RATE]) for i in range(RATE, 2 * RATE)) < 1e-3

    said, joined = run("joined.wav", str(first), str(following), "5.25")
    assert said.splitlines()[1] == "5.25 s: bar 1 beat 3, next on the bar"
    assert len(joined) == 7.25 * RATE
    onset = next(i for i in range(len(joined)) if abs(joined[i] - alone[i]) > 1e-4)
    assert abs(onset - 6 * RATE) < 64
