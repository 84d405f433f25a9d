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

from example_config import example_config

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
    # Only the grouped short jobs wait in the queue: the data sets are prepared locally.
    assert single == 0
    assert len(re.findall(r"^localrule data:", log, re.M)) == len(config["datasets"])


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
    assert sum("no executable" in problem for problem in problems) == 4


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


@pytest.mark.parametrize("change, expected", [
    # JSON Schema takes 2.0 for a whole number, and range() then fails late.
    ({"repetitions": 2.0}, "config key 'repetitions': 2.0 is not of type 'integer'"),
    ({"direct": {"permutations": 10.0}}, "config key 'direct.permutations': 10.0 is not of type"),
    # NaN passes every bound.
    ({"levels": [float("nan")]}, "config key 'levels[0]': nan is not of type 'number'"),
    ({"minsups": [float("nan")]}, "config key 'minsups[0]': nan is not valid here"),
    # The miner takes no level below the smallest normal double ...
    ({"levels": [5e-324]}, "config key 'levels[0]': 5e-324 is less than the minimum of "
                           "2.2250738585072014e-308"),
    # ... and counts records in 32 bits.
    ({"minsups": [2 ** 70]}, "config key 'minsups[0]': 1180591620717411303424 is not valid here"),
    ({"minsups": [2 ** 31 - 1], "levels": [2.2250738585072014e-308]}, None),
    # The designs: shares strictly between 0 and 1, k a whole number, and
    # each data set mined somehow, by its own keys or the study's.
    ({"mining_shares": [0.3, 0.5, 0.7], "top_k": [10, 100]}, None),
    ({"mining_shares": [1]}, "config key 'mining_shares[0]': 1 is greater than or equal to"),
    ({"mining_shares": [0.3, 0.3]}, "config key 'mining_shares': [0.3, 0.3] has non-unique"),
    ({"top_k": [0]}, "config key 'top_k[0]': 0 is less than the minimum of 1"),
    ({"top_k": [10.0]}, "config key 'top_k[0]': 10.0 is not of type 'integer'"),
    ({"datasets": {"v": {"prepared": "examples/vote", "target": "Class", "positive": 1,
                         "top_k": [5]}}, "minsups": []}, "config key 'minsups': [] is too short"),
])
def test_config_numbers_are_checked_strictly(change, expected):
    with open(os.path.join(ROOT, "workflow", "schemas", "config.schema.yaml")) as handle:
        schema = yaml.safe_load(handle)
    config = example_config()
    config.update(change)
    problem = study_config.config_problem(config, schema)
    assert problem == expected if expected is None else expected in problem
    assert problem is None or "\n" not in problem


def test_every_data_set_needs_minsups_or_top_k_its_own_or_the_studys():
    with open(os.path.join(ROOT, "workflow", "schemas", "config.schema.yaml")) as handle:
        schema = yaml.safe_load(handle)
    config = example_config()
    del config["minsups"]
    assert study_config.config_problem(config, schema) == (
        "Error in config key 'datasets.vote': no minimum support and no top_k: give 'minsups' "
        "or 'top_k' here or for the whole study")
    for entry in config["datasets"].values():
        entry["top_k"] = [10]
    assert study_config.config_problem(config, schema) is None
    designs = study_config.designs(dict(config, mining_shares=[0.3, 0.5]),
                                   config["datasets"]["vote"])
    assert [design.label for design in designs] == ["top10_share0.3", "top10"]
    assert [design.key for design in designs] == ["top10@0.3", "top10"]


def test_a_config_number_slip_stops_the_study_with_one_line(tmp_path):
    config = example_config()
    config["repetitions"] = 2.0
    with open(tmp_path / "study.yaml", "w") as handle:
        yaml.safe_dump(config, handle)
    result = subprocess.run(
        [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
         "--configfile", "study.yaml", "--dry-run"], cwd=tmp_path, capture_output=True, text=True,
        timeout=300, stdin=subprocess.DEVNULL)
    log = result.stdout + result.stderr
    assert result.returncode != 0
    assert "Error in config key 'repetitions': 2.0 is not of type 'integer'" in log
    assert "Traceback" not in log and "TypeError" not in log, log[-3000:]


def bin_dir_with(tmp_path, **scripts):
    """A folder of the study's programs: this build's, but for the shell
    scripts given by name."""
    folder = tmp_path / "bin"
    folder.mkdir()
    for name in ("varnel", "Brimel", "varnel-prepare", "varnel-generate", "varnel-read-runs"):
        if name in scripts:
            (folder / name).write_text("#!/bin/sh\n" + scripts[name])
            (folder / name).chmod(0o755)
        else:
            os.symlink(os.path.join(BIN_DIR, name), folder / name)
    return str(folder)


def vote_job(tmp_path, bin_dir, folder):
    study_data.run(study_data_args(fake_entry(tmp_path, **VOTE, name="vote", positive="1")))
    settings = json.loads((tmp_path / "settings.json").read_text())
    settings["bin_dir"] = bin_dir
    (tmp_path / "settings.json").write_text(json.dumps(settings))
    return ["--settings", str(tmp_path / "settings.json"), "--split-record",
            str(tmp_path / "split" / "vote.experiment.json"), "--data-base",
            str(tmp_path / "data" / "cancer"), "--minsup", "20", "--level", "0.05",
            "--folder", str(tmp_path / folder)]


# A run that failed on the system (its summary file a full disk, the miner's
# status for a write that failed) fails its job, to be run again; one that
# failed on its data (its attribute description gone) is a result.
@pytest.mark.parametrize("script, program, raised", [
    ("ln -s /dev/full Varnel.sum.txt\n", "varnel", "varnel failed on the system, not on its data"),
    ("rm vote.names\n", "varnel", None),
    ('[ "$1" = --write-parameters ] || { echo "Error: cannot write file x"; exit 75; }\n',
     "Brimel", "Brimel failed on the system, not on its data"),
])
def test_a_run_that_failed_on_the_system_fails_its_job(tmp_path, script, program, raised):
    real = os.path.join(BIN_DIR, program)
    bin_dir = bin_dir_with(tmp_path, **{program: f"{script}exec '{real}' \"$@\"\n"})
    job = vote_job(tmp_path, bin_dir, "run")
    if program == "varnel":
        args = study_experiment.argument_parser().parse_args(job + ["--seed", "7"])
        run = study_experiment.run
    else:
        args = study_direct.argument_parser().parse_args(
            job + ["--record", str(tmp_path / "direct.json")])
        run = study_direct.run
    if raised:
        with pytest.raises(JobError, match=raised):
            run(args)
    else:
        run(args)
        record = json.loads((tmp_path / "run" / "vote.experiment.json").read_text())
        assert record["status"] == "failed" and record["failure"] == "data"


def test_a_job_failed_on_the_system_is_retried_and_the_tables_equal_a_clean_runs(tmp_path):
    """One experiment's summary file is a full disk the first time it runs:
    its job fails, Snakemake runs it again, and the study's tables are those
    of a study that met no fault."""
    config = example_config(absolute_paths=True)
    marker = tmp_path / "fault-met"
    real = os.path.join(BIN_DIR, "varnel")
    faulty = bin_dir_with(tmp_path, varnel=(
        'case "$PWD" in */runs/vote/minsup20_p0.05/rep2)\n'
        f"  [ -e '{marker}' ] || {{ : > '{marker}'; ln -s /dev/full Varnel.sum.txt; }};;\n"
        "esac\n"
        f"exec '{real}' \"$@\"\n"))
    tables = {}
    for name, bin_dir in (("clean", BIN_DIR), ("faulted", faulty)):
        folder = tmp_path / name
        folder.mkdir()
        with open(folder / "study.yaml", "w") as handle:
            yaml.safe_dump(dict(config, bin_dir=bin_dir), handle)
        result = subprocess.run(
            [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
             "--configfile", "study.yaml", "-j", "2", "results/summary.csv",
             "results/rule_stability.csv"], cwd=folder, capture_output=True, text=True,
            timeout=1200, stdin=subprocess.DEVNULL)
        assert result.returncode == 0, result.stderr[-4000:]
        tables[name] = [(folder / "results" / table).read_bytes()
                        for table in ("summary.csv", "rule_stability.csv")]
        if name == "faulted":
            assert marker.exists()
            assert "Error in rule experiment" in result.stderr, result.stderr[-4000:]
    assert tables["faulted"] == tables["clean"]
