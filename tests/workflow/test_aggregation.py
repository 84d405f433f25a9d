"""The study's aggregation on hand-made records: means over the ok
experiments only, a failed row kept apart, rule stability counts, the
database against the tables, runs read once, memory that does not grow with
the rules; and the grid's seeds, supports and config messages."""
import gzip
import json
import os
import sqlite3
import subprocess
import sys

import jsonschema
import pandas as pd
import pytest
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "workflow", "scripts")
sys.path.insert(0, SCRIPTS)
import study_config  # noqa: E402
import study_db  # noqa: E402
import study_tables  # noqa: E402

RULES_HEADER = ("rank,rule,class,length,mined_support,mined_class_support,mined_confidence,"
                "mined_lift,mined_pvalue,test_support,test_class_support,test_confidence,"
                "test_lift,test_pvalue,direction,significant,significant_corrected,"
                "significant_fdr\n")

# (minsup, rep, status, mined, kept, bonferroni, rules as (text, kept, kept_bonferroni))
EXPERIMENTS = [
    ("20", 1, "ok", 10, 8, 4, [("a=1 & b=2", 1, 1), ("c=3", 1, 0), ("d=NA", 0, 0)]),
    ("20", 2, "ok", 14, 6, 2, [("b=2 & a=1", 1, 0), ("c=3", 0, 0)]),
    ("20", 3, "failed", None, None, None, [("a=1 & b=2", 1, 1)]),
    ("0.1", 1, "ok", 5, 5, 5, [("a=1 & b=2", 1, 1)]),
]


# Rules each direct method keeps beyond Bonferroni over the patterns tested.
DIRECT_EXTRA = {"bonferroni_tested": 0, "search_space": -1, "layered": 0, "tarone": 1,
                "tarone_lowered": 2, "westfall_young": 3, "fdr": 4}


def write_study(folder):
    """Records as varnel and the direct job write them, and the study's plan
    that lists them."""
    plan = {"experiments": [], "direct": []}
    for minsup, rep, status, mined, kept, bonferroni, rules in EXPERIMENTS:
        run = os.path.join(folder, "runs", "toy", f"m{minsup}", f"r{rep}")
        os.makedirs(run)
        record = {"program": "varnel", "seed": rep, "status": status,
                  "errors": [] if status == "ok" else ["Error: no records", "Error: again"],
                  "arguments": {"mine_min_sup": 20 if minsup == "20" else 11},
                  "miner": {"rules_mined": mined, "patterns_tested": 100},
                  "holdout": {"sig_at_level": kept, "sig_at_corrected": bonferroni,
                              "sig_at_fdr": kept, "sig_at_holm": bonferroni and bonferroni + 1,
                              "reversed": 0 if mined else None}}
        # Rule tables as the experiments keep them (gzipped), and one as varnel writes it.
        rules_name = "toy.rules.csv" if rep == 2 else "toy.rules.csv.gz"
        job = {"dataset": "toy", "minsup": minsup, "level": 0.05, "repetition": rep,
               "record": os.path.join(run, "toy.experiment.json"),
               "rules": os.path.join(run, rules_name)}
        plan["experiments"].append(job)
        with open(job["record"], "w") as handle:
            json.dump(record, handle)
        with (gzip.open if rules_name.endswith(".gz") else open)(job["rules"], "wt") as handle:
            handle.write(RULES_HEADER)
            for rank, (text, ok, ok_bonferroni) in enumerate(rules, 1):
                handle.write(f'{rank},"{text}",1,1,9,8,0.9,1.5,1e-4,9,7,0.8,1.4,0.01,same,'
                             f"{ok},{ok_bonferroni},{ok}\n")
    for minsup, count in (("20", 3), ("0.1", 1)):
        direct = os.path.join(folder, "runs", "toy", f"m{minsup}", "direct.json")
        with open(direct, "w") as handle:
            methods = {method: {"level": 1e-4, "rules": count + extra} for method, extra in
                       DIRECT_EXTRA.items()}
            # Tarone's lowered support was computed for one grid value only.
            methods["tarone_lowered"]["computed"] = minsup == "20"
            json.dump({"status": "ok", "min_sup": 41, "patterns_tested": 500,
                       "sig_at_level": 9, "sig_at_corrected": count, "methods": methods},
                      handle)
        plan["direct"].append({"dataset": "toy", "minsup": minsup, "level": 0.05,
                               "record": direct})
    write_plan(folder, plan)
    return plan


def write_plan(folder, plan):
    with open(os.path.join(folder, "plan.json"), "w") as handle:
        json.dump(plan, handle)


AGGREGATE = ["--plan", "plan.json", "--cache", "results/cache/study.sqlite",
             "--database", "results/study.sqlite", "--out-dir", "results"]


@pytest.fixture
def tables(tmp_path):
    write_study(str(tmp_path))
    os.chdir(tmp_path)
    assert study_tables.main(AGGREGATE) == 0
    read = {name: pd.read_csv(f"results/{name}", keep_default_na=False, na_values=[""],
                              dtype={"minsup": str})
            for name in ("experiments.csv", "summary.csv", "rule_stability.csv", "rules.csv.gz")}
    read = {name.split(".")[0]: table for name, table in read.items()}
    assert os.path.isfile("results/pages/summary.html")
    assert os.path.isfile("results/pages/rule_stability_top.html")
    return read


def test_experiments_keep_every_row_with_its_status(tables):
    experiments = tables["experiments"]
    assert list(experiments["status"]) == ["ok", "ok", "failed", "ok"]
    failed = experiments.iloc[2]
    assert failed["errors"] == "Error: no records; Error: again"
    assert failed["repetition"] == 3 and failed["seed"] == 3
    assert {"miner.rules_mined", "holdout.sig_at_level", "program"} <= set(experiments.columns)


def test_summary_means_leave_the_failed_experiment_out(tables):
    summary = tables["summary"].set_index("minsup")
    row = summary.loc["20"]
    assert (row["n"], row["failed"], row["min_sup"]) == (2, 1, 20)
    assert row["mined_mean"] == 12 and row["mined_min"] == 10 and row["mined_max"] == 14
    assert row["kept_mean"] == 7 and row["bonferroni_mean"] == 3
    assert row["kept_sd"] == pytest.approx(2 ** 0.5)
    assert row["direct_bonferroni"] == 3 and row["direct_patterns_tested"] == 500
    assert row["holm_mean"] == 4 and row["holm_min"] == 3
    direct = {column: row[column] for column in summary if column.startswith("direct_")
              and column not in ("direct_min_sup", "direct_status", "direct_patterns_tested",
                                 "direct_at_level")}
    assert direct == {"direct_bonferroni": 3, "direct_space": 2, "direct_layered": 3,
                      "direct_tarone": 4, "direct_tarone_lowered": 5,
                      "direct_westfall_young": 6, "direct_fdr": 7}
    single = summary.loc["0.1"]
    assert (single["n"], single["failed"], single["kept_mean"]) == (1, 0, 5)
    assert single["direct_westfall_young"] == 4 and pd.isna(single["direct_tarone_lowered"])
    assert pd.isna(single["kept_sd"])  # one value has no spread


def test_rule_stability_counts_repetitions_with_items_in_any_order(tables):
    stability = tables["rule_stability"]
    got = {(row.minsup, row.rule): (row.repetitions, row.mined, row.kept, row.kept_bonferroni)
           for row in stability.itertuples()}
    assert got == {("20", "a=1 & b=2"): (2, 2, 2, 1), ("20", "c=3"): (2, 2, 1, 0),
                   ("20", "d=NA"): (2, 1, 0, 0), ("0.1", "a=1 & b=2"): (1, 1, 1, 1)}
    # The failed experiment's rules are in no table.
    assert set(tables["rules"]["repetition"][tables["rules"]["minsup"] == "20"]) == {1, 2}


def test_the_database_holds_what_the_tables_show(tables):
    database = sqlite3.connect("results/study.sqlite")
    assert database.execute("SELECT count(*) FROM experiments").fetchone()[0] == 4
    assert database.execute("SELECT count(*) FROM rules").fetchone()[0] == len(tables["rules"])
    means = dict(database.execute(
        'SELECT c.minsup, avg(e."holdout.sig_at_level") FROM experiments e JOIN cells c '
        "ON c.id = e.cell WHERE e.status = 'ok' GROUP BY c.minsup"))
    assert means == dict(zip(tables["summary"]["minsup"], tables["summary"]["kept_mean"]))
    stability = pd.read_sql_query("SELECT minsup, rule, mined, kept FROM rule_stability "
                                  "ORDER BY cell_ordinal, kept DESC, mined DESC, rule", database)
    assert stability.values.tolist() == \
        tables["rule_stability"][["minsup", "rule", "mined", "kept"]].values.tolist()
    # The database is the one the job keeps, not a second copy.
    assert os.path.samefile("results/study.sqlite", "results/cache/study.sqlite")


def test_each_run_is_read_once(tables):
    plan = json.load(open("plan.json"))
    database = study_db.open_database("results/cache/study.sqlite")
    assert study_tables.update_database(database, plan) == (0, 0)  # nothing new
    extra = dict(plan["experiments"][0], repetition=4)
    plan["experiments"].append(extra)
    assert study_tables.update_database(database, plan) == (1, 0)  # only the new one
    os.utime(plan["experiments"][1]["rules"], ns=(1, 1))  # a run done again
    assert study_tables.update_database(database, plan) == (1, 0)
    plan["experiments"] = [job for job in plan["experiments"] if job["minsup"] != "0.1"]
    assert study_tables.update_database(database, plan) == (0, 1)  # a grid value left out
    kept = database.execute("SELECT DISTINCT c.minsup FROM rule_figures f "
                            "JOIN cells c ON c.id = f.cell").fetchall()
    assert kept == [("20",)]


def test_the_aggregation_holds_one_experiment_at_a_time(tmp_path):
    """Many experiments of many rules: the aggregation's peak memory, measured
    in a process of its own, stays far below what all the rules would take."""
    plan = {"experiments": [], "direct": []}
    rule_rows = "".join(f'{rank},"i{rank % 97}=a & j{rank}=b & k{rank % 13}=c",1,3,9,8,0.9,'
                        f"1.5,1e-4,9,7,0.8,1.4,{rank / 4000},same,1,0,1\n"
                        for rank in range(1, 2001))
    for rep in range(1, 201):
        run = tmp_path / f"r{rep}"
        run.mkdir()
        (run / "t.experiment.json").write_text(json.dumps(
            {"status": "ok", "miner": {"rules_mined": 2000}, "holdout": {"sig_at_level": 2000}}))
        with gzip.open(run / "t.rules.csv.gz", "wt", compresslevel=1) as handle:
            handle.write(RULES_HEADER + rule_rows)
        plan["experiments"].append({"dataset": "t", "minsup": "5", "level": 0.05,
                                    "repetition": rep, "record": str(run / "t.experiment.json"),
                                    "rules": str(run / "t.rules.csv.gz")})
    write_plan(tmp_path, plan)
    child = subprocess.Popen([sys.executable, os.path.join(SCRIPTS, "study_tables.py"),
                              *AGGREGATE], cwd=tmp_path, stdout=subprocess.PIPE, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    assert status == 0 and "200 read" in output, output
    # 400,000 rules would take several hundred MB in memory at once.
    assert usage.ru_maxrss / 1024 < 150, f"peak {usage.ru_maxrss / 1024:.0f} MB"
    rules = pd.read_csv(tmp_path / "results" / "rules.csv.gz", usecols=["repetition"])
    assert len(rules) == 400000


@pytest.mark.parametrize("minsup, mining, whole, expected", [
    (20, 217, 435, (20, 41)),       # a count stays; the whole data set gets its share
    (0.2, 217, 435, (44, 87)),      # 43.4 rounds up; 20% of 435 is 87
    (0.1, 210, 420, (21, 42)),      # exactly 21, not 22 from rounding noise
    (0.0001, 50, 100, (1, 1)),      # never below one record
])
def test_minimum_supports_in_records(minsup, mining, whole, expected):
    assert (study_config.mining_min_sup(minsup, mining),
            study_config.direct_min_sup(minsup, mining, whole)) == expected


def test_seeds_depend_on_base_seed_data_set_and_repetition_only():
    seeds = {(base, name, rep): study_config.split_seed(base, name, rep)
             for base in (1, 2) for name in ("vote", "cancer") for rep in (1, 2, 3)}
    assert len(set(seeds.values())) == len(seeds)
    assert study_config.split_seed(1, "vote", 2) == seeds[(1, "vote", 2)]
    assert all(0 <= seed < 2 ** 32 for seed in seeds.values())


@pytest.mark.parametrize("change, expected", [
    ({"repetitions": "three"}, "config key 'repetitions': 'three' is not of type 'integer'"),
    ({"minsups": [20, 1.5]}, "config key 'minsups[1]': 1.5 is not valid here"),
    ({"levels": [0]}, "config key 'levels[0]'"),
    ({"seed": None}, "'seed' is a required property"),
    ({"sed": 1}, "'sed' was unexpected"),
])
def test_config_errors_name_the_key(change, expected):
    with open(os.path.join(ROOT, "workflow", "schemas", "config.schema.yaml")) as handle:
        schema = yaml.safe_load(handle)
    with open(os.path.join(ROOT, "config", "config.yaml")) as handle:
        config = yaml.safe_load(handle)
    config.update(change)
    config = {key: value for key, value in config.items() if value is not None}
    # The first error, as Snakemake's validate reports it.
    error = next(jsonschema.Draft7Validator(schema).iter_errors(config))
    assert expected in study_config.config_error_message(error)
