"""The study's jobs as Snakemake plans them and as they run: no text of the
config on a command line, a few cluster jobs for the bundled study, the split
check that stops a data set whose target does not fit, the config's file
checks, and what a run keeps of its files."""
import gzip
import json
import os
import re
import shutil
import subprocess
import sys

import pytest
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))
sys.path.insert(0, os.path.join(ROOT, "workflow", "scripts"))
import study_config  # noqa: E402
import study_data  # noqa: E402
import study_direct  # noqa: E402
import study_experiment  # noqa: E402
from study_programs import JobError  # noqa: E402


def dry_run(folder, config, *extra):
    with open(os.path.join(folder, "study.yaml"), "w") as handle:
        yaml.safe_dump(config, handle)
    command = [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
               "--configfile", "study.yaml", "--dry-run", *extra]
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=300,
                            stdin=subprocess.DEVNULL)
    assert result.returncode == 0, result.stderr[-3000:]
    return result.stdout + result.stderr


def test_no_text_of_the_config_reaches_a_command_line(tmp_path):
    hostile = "x; touch HACKED $(id) `id` 'q' \"d\""
    source = tmp_path / f"data {hostile}.arff"
    shutil.copyfile(os.path.join(ROOT, "tests", "data", "vote.arff"), source)
    config = {"datasets": {"evil": {"file": str(source), "target": f"Class {hostile}",
                                    "positive": hostile}},
              "minsups": [20], "levels": [0.05], "repetitions": 2, "seed": 1,
              "bin_dir": BIN_DIR}
    log = dry_run(tmp_path, config, "--printshellcmds")
    commands = [line for line in log.splitlines() if "python" in line and ".py " in line]
    assert len(commands) >= 6  # data, 2 experiments, direct, tables, plots, report
    for text in ("HACKED", "$(id)", "`id`", "'q'", source.name):
        assert not any(text in command for command in commands), text


def test_the_bundled_study_goes_to_the_cluster_in_tens_of_jobs(tmp_path):
    for part in ("config", "tests"):
        os.symlink(os.path.join(ROOT, part), tmp_path / part)
    with open(os.path.join(ROOT, "config", "bundled.yaml")) as handle:
        config = yaml.safe_load(handle)
    config["bin_dir"] = BIN_DIR
    log = dry_run(tmp_path, config, "--profile", os.path.join(ROOT, "workflow", "profiles", "slurm"))
    groups = log.split("group job experiments")[1:]
    runs = len(config["datasets"]) * len(config["minsups"]) * len(config["levels"])
    short_jobs = runs * (config["repetitions"] + 1)  # the experiments and the direct runs
    sizes = [len(re.findall(r"^\s+rule (?:experiment|direct):", group, re.M)) for group in groups]
    assert sum(sizes) == short_jobs and max(sizes) <= 40
    single = len(re.findall(r"^rule (?:data|tables|plot_\w+):", log, re.M))
    assert len(groups) + single <= 15  # not one cluster job per experiment


def fake_entry(tmp_path, **change):
    entry = {"name": "cancer", "file": os.path.join(ROOT, "tests", "data", "breast-cancer.arff"),
             "target": "Class", "positive": "recurrence-events", "bin_dir": BIN_DIR, **change}
    entry = {key: value for key, value in entry.items() if value is not None}
    path = tmp_path / "entry.json"
    path.write_text(json.dumps(entry))
    return ["--entry", str(path), "--data-base", str(tmp_path / "data" / "cancer"),
            "--settings", str(tmp_path / "settings.json"), "--split-folder",
            str(tmp_path / "split")]


def test_the_data_job_keeps_the_halves_as_varnel_splits_them(tmp_path):
    study_data.run(study_data_args(fake_entry(tmp_path)))
    record = json.loads((tmp_path / "split" / "cancer.experiment.json").read_text())
    assert record["records"]["mining_part"] + record["records"]["test_part"] == 286
    assert os.listdir(tmp_path / "split") == ["cancer.experiment.json"]
    settings = json.loads((tmp_path / "settings.json").read_text())
    assert settings["value"] == "1" and settings["target"] == "Class"


VOTE = {"file": None, "prepared": os.path.join(ROOT, "examples", "vote")}


@pytest.mark.parametrize("change, message", [
    # A prepared data set reaches varnel as it is: the split check finds out.
    ({**VOTE, "target": "Party", "positive": "1"}, "cannot be split with target Party = 1: .*"
     "not among the attributes"),
    ({**VOTE, "positive": "7"}, "cannot be split with target Class = 7: .*target value 7"),
    ({"positive": "no-such-class"}, "varnel-prepare .* never occurs"),
])
def test_a_data_set_that_does_not_fit_stops_at_its_data_job(tmp_path, change, message):
    with pytest.raises(JobError, match=message):
        study_data.run(study_data_args(fake_entry(tmp_path, **change)))
    assert not (tmp_path / "settings.json").exists()


def study_data_args(argv):
    parser = study_data.argument_parser()
    return parser.parse_args(argv)


def test_files_the_config_names_are_checked(tmp_path):
    config = {"datasets": {"a": {"file": str(tmp_path / "none.arff")},
                           "b": {"prepared": str(tmp_path / "nothing")}}}
    problems = study_config.check_files(config, str(tmp_path))
    assert f"Error in config key 'datasets.a.file': no file {tmp_path}/none.arff" in problems
    assert f"Error in config key 'datasets.b.prepared': no file {tmp_path}/nothing.data" in problems
    assert sum("no executable" in problem for problem in problems) == 3


@pytest.mark.parametrize("keep", ["results", "all"])
def test_runs_keep_their_record_and_rule_table_unless_told_to_keep_all(tmp_path, keep):
    study_data.run(study_data_args(fake_entry(tmp_path, **VOTE, name="vote", positive="1")))
    job = ["--settings", str(tmp_path / "settings.json"), "--split-record",
           str(tmp_path / "split" / "vote.experiment.json"), "--data-base",
           str(tmp_path / "data" / "cancer"), "--minsup", "0.2", "--level", "0.05",
           "--keep", keep]
    experiment = tmp_path / "rep1"
    assert study_experiment.main_of(study_experiment.run, study_experiment.argument_parser(),
                                    job + ["--seed", "7", "--folder", str(experiment)]) == 0
    files = set(os.listdir(experiment))
    with gzip.open(experiment / "vote.rules.csv.gz", "rt") as handle:
        assert handle.readline().startswith("rank,rule,")
    direct = tmp_path / "direct"
    assert study_direct.main_of(study_direct.run, study_direct.argument_parser(),
                                job + ["--folder", str(direct),
                                       "--record", str(tmp_path / "direct.json")]) == 0
    assert json.loads((tmp_path / "direct.json").read_text())["status"] == "ok"
    record = json.loads((tmp_path / "direct.json").read_text())
    assert record["methods"]["westfall_young"]["permutations"] == 1000
    assert record["methods"]["tarone"]["rules"] >= record["sig_at_corrected"]
    with gzip.open(direct / "vote.direct.rules.csv.gz", "rt") as handle:
        assert "westfall_young" in handle.readline()
    if keep == "results":
        assert files == {"vote.experiment.json", "vote.rules.csv.gz"}
        assert set(os.listdir(direct)) == {"vote.direct.json", "vote.direct.rules.csv.gz"}
    else:  # the split halves, the miner's files and tid lists, the uncompressed table
        assert {"vote_part_0.data", "vote.tidlist", "vote.rules.csv"} <= files
        assert "vote.cfptree.stat" in os.listdir(direct)
