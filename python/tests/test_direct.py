"""varnel.direct gives Brimel's direct run: the same rule table and record as
`Brimel --direct` writes for the same data, from a prepared data set and a
data frame, with every method's level and count; it writes nothing, stops
at Ctrl-C, and two threads at once give what one after the other do."""
import json
import math
import os
import signal
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pandas as pd
import pytest

import varnel
from varnel import _varnel
from conftest import SLOW_SETTINGS, VOTE, run, vote_frame


def command_direct(folder, data_base, min_sup, *options):
    """`Brimel --direct` on `data_base`: its rule table and record."""
    output = os.path.join(folder, "o")
    run(folder, "Brimel", "--write-parameters", "p.para", data_base, "Class", "1", str(min_sup),
        "0.05", output, "--no-tid-lists", "--direct", *options)
    console = run(folder, "Brimel", "p.para")
    files = _varnel.file_names(output)
    with open(files["direct_record"]) as file:
        record = json.load(file)
    return pd.read_csv(files["direct_rules"], float_precision="round_trip",
                       dtype={"rule": str, "class": str}), record, console


@pytest.mark.parametrize(
    "min_sup,options,arguments",
    [
        (44, [], {}),
        (30, ["--permutations", "200", "--permutation-seed", "7", "--tarone-lowered"],
         {"permutations": 200, "seed": 7, "tarone_lowered": True}),
        (60, ["--permutations", "0"], {"permutations": 0}),
        (1, ["--permutations", "100", "--top-k", "40"], {"permutations": 100, "top_k": 40}),
    ],
)
def test_direct_gives_brimels_rule_table_and_record(tmp_path, min_sup, options, arguments):
    rules, record, console = command_direct(tmp_path, VOTE, min_sup, *options)
    for data in (VOTE, vote_frame()):
        result = varnel.direct(data, "Class", 1, min_sup, **arguments)
        pd.testing.assert_frame_equal(result.rules, rules)
        assert result.record == record
    # The console's two lines name the same levels and counts.
    kept = console.split("direct rules: ")[1].splitlines()[0]
    assert kept == ", ".join(f"{name} {count}" for name, count in result.counts.items())
    for name, method in record["methods"].items():
        if "level" in method:
            level = method["level"]
            assert (math.isnan(result.levels[name]) if level is None
                    else result.levels[name] == level)


def test_the_rule_table_columns_have_their_kinds():
    result = varnel.direct(VOTE, "Class", "1", 44, permutations=0)
    rules = result.rules
    assert rules["rank"].tolist() == list(range(1, len(rules) + 1))
    assert rules["rule"].map(type).eq(str).all() and rules["class"].eq("1").all()
    assert str(rules["pvalue"].dtype) == "float64" and rules["pvalue"].is_monotonic_increasing
    assert set(rules["bonferroni_tested"].unique()) <= {0, 1}


def test_a_share_is_of_the_whole_data_set():
    # 10% of the example's 435 records is 43.5, rounded up.
    assert varnel.direct(VOTE, "Class", "1", 0.1, permutations=0).record["min_sup"] == 44


@pytest.mark.parametrize(
    "arguments,message",
    [
        ({"min_sup": 0}, "min_sup"),
        ({"min_sup": 2.5}, "min_sup"),
        ({"level": 0}, "level 0"),
        ({"permutations": 100001}, "permutations 100001"),
        ({"seed": -1}, "seed -1"),
        ({"top_k": 0}, "top_k 0"),
        ({"positive": "7"}, "no record of vote.data has the target value 7"),
        ({"target": "Party"}, "target attribute Party not in vote.names"),
    ],
)
def test_unsound_settings_raise_one_line(arguments, message):
    call = {"data": VOTE, "target": "Class", "positive": "1", "min_sup": 44, **arguments}
    with pytest.raises(varnel.Error, match=message):
        varnel.direct(**call)


def test_too_few_permutations_warn_as_the_miner_does():
    with pytest.warns(varnel.VarnelWarning, match="cannot resolve the level"):
        result = varnel.direct(VOTE, "Class", "1", 44, permutations=10)
    assert result.counts["westfall_young"] == 0


def test_nothing_is_written(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    varnel.direct(vote_frame(), "Class", 1, 44, permutations=50, tarone_lowered=True)
    assert os.listdir(tmp_path) == []


def test_ctrl_c_stops_a_long_run_within_seconds(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    frame, _ = varnel.generate(SLOW_SETTINGS, seed=1)
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        varnel.direct(frame, "class", 1, 20, permutations=1000)
    stopped = time.monotonic() - started
    timer.join()
    # A hang, not a speed: the run alone takes minutes.
    assert stopped < 15
    assert os.listdir(tmp_path) == []


def test_two_threads_at_once_give_what_one_after_the_other_give():
    frame = vote_frame()
    calls = [(VOTE, 30, 5), (frame, 40, 6), (VOTE, 50, 7), (frame, 30, 8)]

    def one(call):
        data, min_sup, seed = call
        return varnel.direct(data, "Class", 1, min_sup, permutations=300, seed=seed)

    alone = [one(call) for call in calls]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(one, calls))
    for a, b in zip(alone, together):
        pd.testing.assert_frame_equal(a.rules, b.rules)
        assert a.record == b.record
