"""varnel.holdout: one holdout experiment, run by the varnel program itself
in a folder of its own, so that its results are the command's."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pandas as pd

from . import _inputs, _varnel
from ._errors import Error, warn_lines
from ._programs import program

_ERROR = "Error: "
_WARNING = "Warning: "
# How long killed programs may take to be gone, and their folder removable.
_REMOVAL_SECONDS = 5.0


class HoldoutResult:
    """One experiment's results.

    rules   the rule table O.rules.csv as a DataFrame: every mined rule, the
            kept ones first by ascending test p-value
    counts  rules tested, and those significant at the level, at the
            Bonferroni level, under the FDR step, under Holm's step-down,
            productive and reversed
    record  the experiment record O.experiment.json as a dict
    output  what the command printed"""

    # The record's names of the counts.
    _COUNTS = (
        ("tested", "rules_tested"),
        ("significant", "sig_at_level"),
        ("bonferroni", "sig_at_corrected"),
        ("fdr", "sig_at_fdr"),
        ("holm", "sig_at_holm"),
        ("productive", "productive"),
        ("reversed", "reversed"),
    )

    def __init__(self, rules, record, output):
        self.rules = rules
        self.record = record
        self.output = output
        holdout = record.get("holdout", {})
        self.counts = {key: holdout.get(field) for key, field in self._COUNTS}

    def __repr__(self):
        counts = ", ".join(f"{key} {value}" for key, value in self.counts.items())
        return f"<HoldoutResult seed {self.record.get('seed')}: {counts}>"


def _kill(process):
    """Ends the program and the miner it started (its process group), and
    waits until the group is gone: the miner, once its parent is dead, is
    reaped by the system, not by us."""
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()
    deadline = time.monotonic() + _REMOVAL_SECONDS
    while time.monotonic() < deadline:
        try:
            os.killpg(process.pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.01)


# A process group of its own (Python 3.11 on): started as fast as any child;
# a session of its own, before, costs a full fork of this process.
_OWN_GROUP = {"process_group": 0} if sys.version_info >= (3, 11) else {"start_new_session": True}


def _run(argv, folder):
    """Runs `argv` in `folder` as a process group of its own, so that an
    interrupt ends the miner as well; returns the exit status and the output."""
    process = subprocess.Popen(
        argv,
        cwd=folder,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        **_OWN_GROUP,
    )
    try:
        output, _ = process.communicate()
    except BaseException:
        _kill(process)
        raise
    return process.returncode, output.decode("utf-8", "surrogateescape")


def _remove(folder):
    """Removes the folder; a killed miner may still be closing a file in it."""
    deadline = time.monotonic() + _REMOVAL_SECONDS
    while True:
        try:
            shutil.rmtree(folder)
            return
        except FileNotFoundError:
            return
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.01)


def _command(source, min_sup, level, seed, mining_share, top_k):
    argv = [program("varnel")]
    if seed is not None:
        argv += ["--seed", str(seed)]
    argv += ["--mining-share", _level_text(mining_share)]
    if top_k is not None:
        argv += ["--top-k", str(top_k)]
    return argv + ["--", source.name, source.target, source.value, min_sup, level, source.name]


def _min_sup_text(min_sup, source, mining_share):
    """A count goes to the command as it is given (the command says what is
    wrong with it); a share of the mining half becomes its count."""
    if (
        not isinstance(min_sup, bool)
        and isinstance(min_sup, (int, float))
        and not (0 < min_sup < 1)
        and float(min_sup).is_integer()
    ):
        return str(int(min_sup))
    count = _inputs.records_min_sup(min_sup, source.dataset.mining_records(mining_share))
    if count is None:
        raise Error(
            f"min_sup {min_sup!r}: a whole number of records of the mining half, or a share of "
            "them between 0 and 1, expected"
        )
    return str(count)


def _level_text(level):
    if isinstance(level, bool) or not isinstance(level, (int, float)):
        return str(level)
    return repr(float(level))


def holdout(
    data,
    target,
    positive,
    min_sup,
    level=0.05,
    seed=None,
    *,
    mining_share=0.5,
    top_k=None,
    bins=None,
    drop_numeric=False,
    name=None,
):
    """One holdout experiment: the data split at random into two stratified
    parts, rules mined on one and re-tested on the other, exactly as
    `varnel [--seed SEED] [--mining-share F] [--top-k K] D TARGET VALUE
    MIN_SUP LEVEL D` does it.

    data      a pandas DataFrame, or the path of a prepared data set (D, D.data
              or D.names), an ARFF or a CSV file
    target    the class attribute
    positive  the class value of interest (a data frame or file is prepared
              with it coded 1); None: the miner takes the less frequent class
    min_sup   records of the mining half, or a share of them between 0 and 1
              (rounded up)
    level     the significance level
    seed      the split's seed; None: a fresh one (the record says which)
    mining_share  the share of each stratum the mining part gets, above 0
              and below 1 (the command's --mining-share)
    top_k     mine the top_k rules of smallest p-value, min_sup only a floor
              (the command's --top-k); None: every rule above min_sup
    bins, drop_numeric  for real-valued columns, as varnel-prepare's --bins
              and --drop-numeric
    name      the data set's name in the record (default: "data" for a data
              frame, the file's name otherwise)

    Returns a HoldoutResult. Raises varnel.Error with the command's error
    line, and warns with its warning lines (varnel.VarnelWarning). The
    experiment runs in a temporary folder that is removed whatever happens."""
    # The command says what is wrong with a number out of range.
    if isinstance(mining_share, bool) or not isinstance(mining_share, (int, float)):
        raise Error(f"mining_share {mining_share!r}: a number above 0 and below 1 expected")
    source = _inputs.resolve(data, target, positive, bins, drop_numeric, name, stacklevel=3)
    argv = _command(
        source,
        _min_sup_text(min_sup, source, float(mining_share)),
        _level_text(level),
        seed,
        mining_share,
        top_k,
    )
    folder = tempfile.mkdtemp(prefix="varnel-holdout-")
    try:
        source.place(folder)
        status, output = _run(argv, folder)
        lines = output.splitlines()
        warn_lines([line for line in lines if line.startswith(_WARNING)], stacklevel=2)
        errors = [line for line in lines if line.startswith(_ERROR)]
        if status != 0 or errors:
            raise Error(errors[0] if errors else f"varnel exited with status {status}", errors)
        files = _varnel.file_names(os.path.join(folder, source.name))
        with open(files["record"], encoding="utf-8", errors="surrogateescape") as file:
            record = json.load(file)
        rules = pd.read_csv(
            files["rules"],
            dtype={"rule": str, "class": str, "direction": str},
            keep_default_na=False,
            na_values=[""],
            float_precision="round_trip",
            encoding="utf-8",
            encoding_errors="surrogateescape",
        )
    finally:
        _remove(folder)
    return HoldoutResult(rules, record, output)
