"""Truth studies: the Wilson interval against published values, the config's
generated data sets (validation, seeds), and a whole truth study end to end
with Snakemake and the real executables on a small config with fixed seeds:
on the null setting every family-wise procedure errs in at most the level
plus three standard errors of the data sets; on the strong setting holdout
recovers every planted rule in most of them."""
import json
import math
import os
import sqlite3
import subprocess
import sys

import pandas as pd
import pytest
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "workflow", "scripts"))
import study_config  # noqa: E402
import truth_run  # noqa: E402
import truth_tables  # noqa: E402

BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))

# (errors, runs, low, high): Newcombe (1998), Statistics in Medicine 17, table I,
# the score method without continuity correction; and 10 of 20.
WILSON = [(81, 263, 0.2553, 0.3662), (15, 148, 0.0624, 0.1605), (0, 20, 0.0, 0.1611),
          (1, 29, 0.0061, 0.1718), (10, 20, 0.2993, 0.7007)]


@pytest.mark.parametrize("errors,runs,low,high", WILSON)
def test_wilson_interval_matches_published_values(errors, runs, low, high):
    assert truth_tables.wilson_interval(errors, runs) == pytest.approx((low, high), abs=5e-5)


def test_wilson_interval_of_no_runs_is_empty():
    assert truth_tables.wilson_interval(0, 0) == (None, None)


def test_generation_seeds_differ_by_setting_and_repetition_and_repeat():
    seeds = {study_config.generation_seed(7, name, rep) for name in ("a", "b") for rep in (1, 2)}
    assert len(seeds) == 4
    assert study_config.generation_seed(7, "a", 1) == study_config.generation_seed(7, "a", 1)
    # Not the split's seed: the data and its split are drawn apart.
    assert study_config.generation_seed(7, "a", 1) != study_config.split_seed(7, "a", 1)


# A holdout rule table's last columns, with the productivity column that
# holdout Bonferroni + productive reads when the table has it.
TABLE = """rank,rule,significant,significant_corrected,significant_fdr,significant_holm{extra}
1,c1=v1 & c2=v2,1,1,1,1{first}
2,c1=v1 & c2=v2 & n1=v1,1,1,1,1{second}
3,n2=v3,1,0,1,0{third}
4,c3=v1,0,0,0,0{third}
"""


@pytest.mark.parametrize("productive", [True, False])
def test_each_holdout_procedure_keeps_the_rules_its_columns_mark(tmp_path, productive):
    text = TABLE.format(extra=",productive" if productive else "",
                        first=",1" if productive else "", second=",0" if productive else "",
                        third=",0" if productive else "")
    (tmp_path / "t.csv").write_text(text)
    kept = truth_run.kept_rules(str(tmp_path / "t.csv"), truth_run.HOLDOUT)
    both = ["c1=v1 & c2=v2", "c1=v1 & c2=v2 & n1=v1"]
    assert kept["holdout_raw"] == kept["holdout_fdr"] == both + ["n2=v3"]
    assert kept["holdout_bonferroni"] == kept["holdout_holm"] == both
    if productive:
        assert kept["holdout_productive"] == ["c1=v1 & c2=v2"]
    else:
        assert "holdout_productive" not in kept


def test_a_rule_table_cut_short_is_an_error_not_fewer_rules(tmp_path):
    text = TABLE.format(extra="", first="", second="", third="")
    (tmp_path / "t.csv").write_text(text[:text.rindex(",")])
    with pytest.raises(ValueError, match="line 5: 5 fields, not 6"):
        truth_run.kept_rules(str(tmp_path / "t.csv"), truth_run.HOLDOUT)


# (a method's entry in D.direct.json, whether its verdicts are judged)
METHODS = [({"level": 1e-6, "rules": 3}, True), ({"longest": 4, "rules": 2}, True),
           ({"computed": False, "level": None}, False), ({"computed": True, "level": 1e-5}, True),
           ({"permutations": 0, "level": None}, False), (None, False)]


@pytest.mark.parametrize("method,judged", METHODS)
def test_a_direct_method_is_judged_when_its_level_was_computed(method, judged):
    assert truth_run.computed(method) == judged


NOISE = [{"name": "n", "count": 5, "values": 3, "skew": 1, "adherence": 0.6}]
CAUSAL = [{"name": "c", "count": 3, "values": 3}]


def settings(records, planted=()):
    return {"records": records, "base_rate": 0.3, "causal": CAUSAL, "noise": NOISE,
            "planted": list(planted)}


def snakemake(folder, config, *extra):
    with open(os.path.join(folder, "study.yaml"), "w") as handle:
        yaml.safe_dump(config, handle)
    command = [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
               "--configfile", "study.yaml", "-j", "2", *extra]
    return subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=1200,
                          stdin=subprocess.DEVNULL)


def config_of(datasets, repetitions=2):
    return {"datasets": datasets, "minsups": [15], "levels": [0.05],
            "repetitions": repetitions, "seed": 11, "bin_dir": BIN_DIR}


BAD = [
    ({"generate": {"records": 100}},
     "Error in config key 'datasets.g.generate': 'base_rate' is a required property"),
    ({"generate": {**settings(100), "colour": 1}}, "('colour' was unexpected)"),
    ({"generate": settings(100), "target": "class"}, "give exactly one of 'file', 'prepared'"),
    ({"generate": "settings.txt"}, "'settings.txt' is not valid here"),
    ({"generate": "missing.json"},
     "Error in config key 'datasets.g.generate': no file missing.json"),
    ({"generate": {**settings(100), "records": 0}},
     "key 'datasets.g.generate.records': 0 is less than the minimum of 1"),
    ({"generate": {**settings(100), "planted": [{"items": ["c1"], "rate": 0.5}]}},
     "key 'datasets.g.generate.planted[0].items[0]'"),
]


@pytest.mark.parametrize("entry,message", BAD)
def test_bad_generated_settings_stop_the_study_with_one_line(tmp_path, entry, message):
    run = snakemake(tmp_path, config_of({"g": entry}), "-n")
    assert run.returncode != 0
    assert message in run.stderr + run.stdout


def test_settings_the_generator_refuses_fail_the_data_job_with_its_error(tmp_path):
    planted = [{"items": ["n1=v1", "c2=v1"], "rate": 0.9}]  # a noise item
    run = snakemake(tmp_path, config_of({"g": {"generate": settings(200, planted)}}, 1))
    assert run.returncode != 0
    with open(tmp_path / "logs" / "data" / "g" / "rep1.log") as log:
        text = log.read()
    assert "Error: varnel-generate" in text and "n1" in text


def test_a_settings_file_draws_the_same_bytes_as_the_same_settings_inline(tmp_path):
    data = {}
    for form in ("inline", "file"):
        folder = tmp_path / form
        folder.mkdir()
        (folder / "g.json").write_text(json.dumps(settings(300)))
        entry = {"generate": settings(300) if form == "inline" else "g.json"}
        run = snakemake(folder, config_of({"g": entry}), "--until", "generated_data")
        assert run.returncode == 0, run.stderr[-3000:]
        data[form] = [(folder / f"resources/g/rep{rep}/g{suffix}").read_bytes()
                      for rep in (1, 2) for suffix in (".data", ".names", ".truth.json")]
    assert data["inline"] == data["file"]
    assert data["inline"][0] != data["inline"][3]  # each repetition its own data set
    assert len(data["inline"][0].splitlines()) == 300


FAMILY_WISE = ["holdout_bonferroni", "holdout_holm", "holdout_productive", "direct_bonferroni",
               "direct_search_space", "direct_layered", "direct_tarone",
               "direct_tarone_lowered", "direct_westfall_young"]
REPETITIONS = 20


def test_truth_study_end_to_end(tmp_path):
    strong = [{"items": ["c1=v1", "c2=v2"], "rate": 0.8}]
    config = config_of({"none": {"generate": settings(800)},
                        "strong": {"generate": settings(800, strong)}}, REPETITIONS)
    run = snakemake(tmp_path, config)
    assert run.returncode == 0, run.stderr[-4000:]
    for name in ("truth.csv", "truth.png", "pages/truth.html", "summary.csv", "report.html"):
        assert os.path.getsize(tmp_path / "results" / name) > 0, name

    truth = pd.read_csv(tmp_path / "results" / "truth.csv", dtype={"minsup": str})
    assert set(truth["dataset"]) == {"none", "strong"}
    assert (truth["n"] == REPETITIONS).all()
    procedures = set(truth["procedure"])
    assert {"holdout_raw", "holdout_bonferroni", "holdout_holm", "holdout_fdr",
            "direct_bonferroni", "direct_westfall_young", "direct_fdr"} <= procedures
    assert "direct_tarone_lowered" not in procedures  # not asked for
    null = truth[truth["dataset"] == "none"].set_index("procedure")
    bound = 0.05 + 3 * math.sqrt(0.05 * 0.95 / REPETITIONS)
    for procedure in FAMILY_WISE:
        if procedure in null.index:
            assert null.loc[procedure, "fwer"] <= bound, procedure
    assert null["power"].isna().all() and (null["redundant_mean"] == 0).all()

    database = sqlite3.connect(tmp_path / "results" / "study.sqlite")
    recovered_all = database.execute(
        "SELECT count(*) FROM truth t JOIN cells c ON c.id = t.cell JOIN truth_runs r "
        "ON r.cell = t.cell AND r.repetition = t.repetition WHERE c.dataset = 'strong' "
        "AND t.procedure = 'holdout_bonferroni' AND t.recovered = r.planted").fetchone()[0]
    assert recovered_all > REPETITIONS / 2
    # The table is the database's runs summed: the false discoveries of one procedure.
    (false_runs,) = database.execute(
        "SELECT sum(false_discoveries > 0) FROM truth t JOIN cells c ON c.id = t.cell "
        "WHERE c.dataset = 'none' AND procedure = 'holdout_raw'").fetchone()
    assert null.loc["holdout_raw", "fwer"] == pytest.approx(false_runs / REPETITIONS)

    # Each repetition its own data set; each run keeps only what is read.
    experiments = pd.read_csv(tmp_path / "results" / "experiments.csv")
    assert (experiments["status"] == "ok").all() and len(experiments) == 2 * REPETITIONS
    run_folder = tmp_path / "runs" / "strong" / "minsup15_p0.05" / "rep1"
    assert sorted(os.listdir(run_folder)) == ["direct", "direct.json", "strong.experiment.json",
                                              "strong.rules.csv.gz", "truth.json"]
    assert sorted(os.listdir(run_folder / "direct")) == ["strong.direct.json",
                                                         "strong.direct.rules.csv.gz"]

    again = snakemake(tmp_path, config, "-n")
    assert again.returncode == 0 and "Nothing to be done" in again.stdout + again.stderr
