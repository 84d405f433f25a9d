"""What the package's tests share: the repository's example data, the
programs of the build (VARNEL_BIN_DIR), running a command in a folder, and
a data set slow enough to interrupt."""
import os
import subprocess

import pandas as pd
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")
TEST_DATA = os.path.join(ROOT, "tests", "data")
BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))
VOTE = os.path.join(EXAMPLES, "vote")

# Noise attributes tied together through latent profiles make very many
# frequent patterns: mining them at a low support takes minutes.
SLOW_SETTINGS = {
    "records": 3000,
    "base_rate": 0.3,
    "noise": [{"name": "n", "count": 40, "values": 2, "adherence": 0.9}],
    "profiles": 2,
}


def run(folder, program, *args):
    """Runs a program of the build in `folder`; returns its output. The
    programs must succeed."""
    done = subprocess.run(
        [os.path.join(BIN_DIR, program), *args],
        cwd=folder,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        check=False,
    )
    assert done.returncode == 0, done.stdout.decode()
    return done.stdout.decode()


def read_rule_table(path):
    """A rule table read as the package reads the holdout's."""
    return pd.read_csv(
        path,
        dtype={"rule": str, "class": str, "direction": str},
        keep_default_na=False,
        na_values=[""],
        float_precision="round_trip",
    )


def vote_frame():
    """The example vote data as a data frame: a missing vote is missing, the
    class 1 (republican) or 0 an integer column."""
    with open(VOTE + ".names") as file:
        names = [line.split(":", 1)[0] for line in file if line.strip()]
    return pd.read_csv(VOTE + ".data", header=None, names=names, na_values=["?"])


@pytest.fixture
def private_tmp(tmp_path, monkeypatch):
    """A folder of the test's own as the temporary folder of every call."""
    import tempfile

    folder = tmp_path / "tmp"
    folder.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(folder))
    return folder


def processes_in(folder):
    """Processes whose working directory lies in `folder`."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cwd = os.readlink(f"/proc/{pid}/cwd")
        except OSError:
            continue
        if cwd.startswith(str(folder)):
            found.append(int(pid))
    return found
