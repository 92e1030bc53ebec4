"""examples/play.py runs against the component, and the README shows it as it is."""

import os
import re
import subprocess
import sys

from conftest import ORGAN_LENGTH, SOURCE_DIR

EXAMPLE = SOURCE_DIR / "examples" / "play.py"


def test_readme_shows_the_example_as_it_is():
    readme = (SOURCE_DIR / "README.md").read_text()
    section = readme[readme.index("## Python"):]
    shown = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    assert shown == EXAMPLE.read_text()


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
