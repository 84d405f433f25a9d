"""varnel.holdout gives the command's results: the same rule table and
record as `varnel --seed S` for the same data and seed, from a data frame,
a prepared data set and an ARFF file; its folder is gone after success,
error and Ctrl-C, and two threads at once give what one after the other do."""
import json
import os
import shutil
import signal
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pandas as pd
import pytest

import varnel
from varnel import _varnel
from conftest import (
    SLOW_SETTINGS,
    TEST_DATA,
    VOTE,
    processes_in,
    read_rule_table,
    run,
    vote_frame,
)

# The record's fields that differ between two runs of the same experiment.
RUN_FIELDS = ("started_utc", "seconds")


def command_experiment(folder, data_base, name, *args):
    """`varnel --seed ...` run on copies of `data_base`'s files named `name`;
    its rule table and record."""
    given, placed = _varnel.file_names(data_base), _varnel.file_names(os.path.join(folder, name))
    for kind in ("data", "names"):
        shutil.copyfile(given[kind], placed[kind])
    run(folder, "varnel", *args)
    with open(placed["record"]) as file:
        record = json.load(file)
    return read_rule_table(placed["rules"]), record


def same_experiment(result, rules, record):
    pd.testing.assert_frame_equal(result.rules, rules)
    for field in RUN_FIELDS:
        record.pop(field)
        result.record.pop(field)
    assert result.record == record


@pytest.mark.parametrize("seed", [3, 11])
def test_a_prepared_data_set_gives_the_commands_results(tmp_path, private_tmp, seed):
    rules, record = command_experiment(
        tmp_path, VOTE, "vote", "--seed", str(seed), "vote", "Class", "1", "20", "0.05", "vote"
    )
    result = varnel.holdout(VOTE, "Class", "1", 20, 0.05, seed=seed)
    assert result.counts["tested"] == len(rules) > 0
    assert result.counts["significant"] == int(rules["significant"].sum())
    same_experiment(result, rules, record)
    assert os.listdir(private_tmp) == []


def test_a_data_frame_gives_the_commands_results_on_the_same_records(tmp_path, private_tmp):
    # The frame prepared with the class 1 coded 1 holds the example's records
    # exactly, so the same seed splits it the same way.
    rules, record = command_experiment(
        tmp_path, VOTE, "data", "--seed", "3", "data", "Class", "1", "20", "0.05", "data"
    )
    result = varnel.holdout(vote_frame(), "Class", 1, 20, seed=3)
    same_experiment(result, rules, record)


def test_an_arff_file_is_prepared_as_varnel_prepare_prepares_it(tmp_path, private_tmp):
    arff = os.path.join(TEST_DATA, "vote.arff")
    run(tmp_path, "varnel-prepare", "--target", "Class", "--positive", "republican", arff, "vote")
    run(tmp_path, "varnel", "--seed", "5", "vote", "Class", "1", "25", "0.01", "vote")
    files = _varnel.file_names(str(tmp_path / "vote"))
    result = varnel.holdout(arff, "Class", "republican", 25, 0.01, seed=5)
    assert result.record["arguments"]["dataset_name"] == "vote"
    pd.testing.assert_frame_equal(result.rules, read_rule_table(files["rules"]))


def test_a_share_of_the_mining_half_is_rounded_up_to_records(private_tmp):
    # The example's mining half: 168 // 2 + 267 // 2 = 217 records.
    result = varnel.holdout(VOTE, "Class", "1", 0.1, seed=3)
    assert result.record["arguments"]["mine_min_sup"] == 22
    assert result.record["records"]["mining_part"] == 217


def test_the_mining_share_and_top_k_are_the_commands_options(tmp_path, private_tmp):
    rules, record = command_experiment(
        tmp_path, VOTE, "vote", "--seed", "5", "--mining-share", "0.3", "--top-k", "12", "vote",
        "Class", "1", "1", "0.05", "vote"
    )
    result = varnel.holdout(VOTE, "Class", "1", 1, seed=5, mining_share=0.3, top_k=12)
    assert result.record["arguments"]["mining_share"] == 0.3
    assert result.counts["tested"] == 12
    same_experiment(result, rules, record)
    # A share of the mining part is of the part at that share: 50 + 80 records.
    shared = varnel.holdout(VOTE, "Class", "1", 0.1, seed=3, mining_share=0.3)
    assert shared.record["records"]["mining_part"] == 130
    assert shared.record["arguments"]["mine_min_sup"] == 13


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: varnel.holdout(VOTE, "Class", "1", 20, mining_share=1), "mining share"),
        (lambda: varnel.holdout(VOTE, "Class", "1", 20, mining_share="x"), "mining_share 'x'"),
        (lambda: varnel.holdout(VOTE, "Class", "1", 20, top_k=0), "--top-k must be"),
        (lambda: varnel.holdout(VOTE, "Party", "1", 20), "target attribute Party is not among"),
        (lambda: varnel.holdout(VOTE, "Class", "2", 20), "has the target value 2"),
        (lambda: varnel.holdout(VOTE, "Class", "1", 0), "please specify a positive integer"),
        (lambda: varnel.holdout(VOTE, "Class", "1", 20, 1.5), "between 0 and 1"),
        (lambda: varnel.holdout(VOTE, "Class", "1", "20"), "min_sup '20'"),
        (lambda: varnel.holdout(VOTE + "-missing", "Class", "1", 20), "cannot open file"),
    ],
)
def test_a_failed_experiment_raises_the_commands_first_error_and_leaves_nothing(
    private_tmp, call, message
):
    with pytest.raises(varnel.Error) as failure:
        call()
    assert message in str(failure.value)
    assert failure.value.line.startswith("Error: ")
    assert os.listdir(private_tmp) == []


def test_a_warning_of_the_command_is_a_python_warning(private_tmp):
    with pytest.warns(varnel.VarnelWarning, match="larger than the 217 records"):
        result = varnel.holdout(VOTE, "Class", "1", 300, seed=1)
    assert result.counts["tested"] == 0


def interrupt_soon(seconds):
    """Ctrl-C for this process after `seconds`, as a terminal would send it."""
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


def test_ctrl_c_ends_the_experiment_and_its_miner_and_removes_the_folder(private_tmp):
    frame, _ = varnel.generate(SLOW_SETTINGS, seed=1)
    timer = interrupt_soon(1.0)
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        varnel.holdout(frame, "class", 1, 10, seed=1)
    timer.join()
    assert time.monotonic() - started < 30
    assert os.listdir(private_tmp) == []
    assert processes_in(private_tmp) == []


def test_two_threads_at_once_give_what_one_after_the_other_give(private_tmp):
    calls = [(VOTE, 20, 3), (VOTE, 30, 4), (VOTE, 20, 5)]

    def one(call):
        data, min_sup, seed = call
        result = varnel.holdout(data, "Class", "1", min_sup, seed=seed)
        for field in RUN_FIELDS:
            result.record.pop(field)
        return result

    alone = [one(call) for call in calls]
    with ThreadPoolExecutor(max_workers=3) as pool:
        together = list(pool.map(one, calls))
    for a, b in zip(alone, together):
        pd.testing.assert_frame_equal(a.rules, b.rules)
        assert a.record == b.record
    assert os.listdir(private_tmp) == []
