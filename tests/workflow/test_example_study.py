"""The example study end to end, with Snakemake and the real executables, in a
temporary folder: every table, plot and the report, a log for every job, the
database against the tables, runs that keep only their record and rule table;
a second run does nothing; a changed minimum support reruns only its own jobs."""
import os
import re
import sqlite3
import subprocess
import sys

import pandas as pd
import yaml

from example_config import example_config

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))
OUTPUTS = ["study.sqlite", "experiments.csv", "summary.csv", "rule_stability.csv",
           "rules.csv.gz", "pages/summary.html", "pages/rule_stability_top.html",
           "survivors.png", "test_pvalues.png", "rule_stability.png", "methods.png", "report.html"]
# The rules each procedure keeps: holdout means, then one count per direct method.
METHOD_COLUMNS = ["kept_mean", "bonferroni_mean", "holm_mean", "fdr_mean", "direct_bonferroni",
                  "direct_space", "direct_layered", "direct_tarone", "direct_westfall_young",
                  "direct_fdr"]


def snakemake(folder, *extra):
    command = [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
               "--configfile", "study.yaml", "-j", "2", *extra]
    return subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=1200,
                          stdin=subprocess.DEVNULL)


def job_counts(log):
    """Snakemake's job statistics: rule -> number of jobs."""
    return {match[1]: int(match[2]) for match in re.finditer(r"^(\w+)\s+(\d+)\s+\d+\s+\d+$", log, re.M)}


def write_config(folder, config):
    with open(os.path.join(folder, "study.yaml"), "w") as handle:
        yaml.safe_dump(config, handle)


def test_example_study(tmp_path):
    config = example_config(absolute_paths=True)
    config["bin_dir"] = BIN_DIR
    write_config(tmp_path, config)

    first = snakemake(tmp_path)
    assert first.returncode == 0, first.stderr[-4000:]
    for name in OUTPUTS:
        assert os.path.getsize(tmp_path / "results" / name) > 0, name

    summary = pd.read_csv(tmp_path / "results" / "summary.csv", dtype={"minsup": str})
    grid = len(config["datasets"]) * len(config["minsups"]) * len(config["levels"])
    assert len(summary) == grid
    assert (summary["n"] == config["repetitions"]).all() and (summary["failed"] == 0).all()
    assert (summary["kept_max"] <= summary["mined_max"]).all()
    assert summary[METHOD_COLUMNS].notna().all().all()
    assert "direct_tarone_lowered" not in summary  # not asked for
    # Holm never keeps fewer rules than Bonferroni, nor Tarone than Bonferroni over the
    # patterns tested.
    assert (summary["holm_min"] >= summary["bonferroni_min"]).all()
    assert (summary["direct_tarone"] >= summary["direct_bonferroni"]).all()
    vote = summary[summary["dataset"] == "vote"].set_index("minsup")
    assert vote.loc["0.2", "min_sup"] == 44  # 20% of the 217 records of the mining half

    # Every job that ran a program left its log, under logs/.
    logs = {os.path.relpath(os.path.join(folder, name), tmp_path / "logs")
            for folder, _, names in os.walk(tmp_path / "logs") for name in names}
    experiments_run = grid * config["repetitions"]
    assert len([log for log in logs if log.startswith("experiments/")]) == experiments_run
    assert len([log for log in logs if log.startswith("direct/")]) == grid
    assert {"tables.log", "report.log", "plot_survivors.log"} <= logs

    experiments = pd.read_csv(tmp_path / "results" / "experiments.csv", dtype={"minsup": str})
    assert len(experiments) == grid * config["repetitions"]
    assert (experiments["status"] == "ok").all()
    # Repetition r uses one split at every minimum support: the seeds agree.
    seeds = experiments.groupby(["dataset", "repetition"])["seed"].nunique()
    assert (seeds == 1).all()
    assert experiments.groupby("dataset")["seed"].nunique().eq(config["repetitions"]).all()

    # The database holds what the tables show.
    database = sqlite3.connect(tmp_path / "results" / "study.sqlite")
    assert database.execute("SELECT count(*) FROM experiments").fetchone()[0] == len(experiments)
    rules = pd.read_csv(tmp_path / "results" / "rules.csv.gz", usecols=["dataset"])
    assert database.execute("SELECT count(*) FROM rules").fetchone()[0] == len(rules) > 0
    means = pd.read_sql_query(
        'SELECT c.dataset, c.minsup, avg(e."miner.rules_mined") AS mined, '
        'avg(e."holdout.sig_at_level") AS kept FROM experiments e JOIN cells c ON c.id = e.cell '
        "WHERE e.status = 'ok' GROUP BY c.id ORDER BY c.ordinal", database)
    assert means["mined"].round(6).tolist() == summary["mined_mean"].round(6).tolist()
    assert means["kept"].round(6).tolist() == summary["kept_mean"].round(6).tolist()
    stability = pd.read_csv(tmp_path / "results" / "rule_stability.csv", usecols=["kept"])
    assert database.execute("SELECT count(*) FROM rule_stability").fetchone()[0] == len(stability)
    # Each run keeps its record and its rule table, nothing else.
    for folder, _, names in os.walk(tmp_path / "runs"):
        kept = sorted(name.split(".", 1)[1] for name in names if name != "direct.json")
        assert kept in ([], ["experiment.json", "rules.csv.gz"],
                        ["direct.json", "direct.rules.csv.gz"]), (folder, names)

    again = snakemake(tmp_path)
    assert again.returncode == 0 and "Nothing to be done" in again.stderr, again.stderr[-2000:]

    config["minsups"][0] = 25
    write_config(tmp_path, config)
    changed = snakemake(tmp_path, "--dry-run")
    assert changed.returncode == 0, changed.stderr[-2000:]
    counts = job_counts(changed.stdout + changed.stderr)
    assert counts["experiment"] == len(config["datasets"]) * config["repetitions"]
    assert counts["direct"] == len(config["datasets"])
    assert "data" not in counts
