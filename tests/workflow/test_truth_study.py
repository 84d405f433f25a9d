"""Truth studies: the Wilson interval against published values, the config's
generated data sets (validation, seeds), and a whole truth study end to end
with Snakemake and the real executables on a small config with fixed seeds:
on the null setting every family-wise procedure errs in at most the level
plus three standard errors of the data sets; on the strong setting holdout
recovers every planted effect in most of them. Between them, hand-made rule
tables and truths: the procedures each table's columns give, each rule's
claim, and truth.csv with its direction errors from judged runs."""
import gzip
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
import study_db  # noqa: E402
import truth  # noqa: E402
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


# A holdout rule table's last columns, with the columns that later procedures
# read (productive, and significant_bh and productive_corrected) when the
# table has them. The third rule's lift on the mining half is below 1: it
# claims a rate below the overall one.
TABLE = """rank,rule,mined_lift,significant,significant_corrected,significant_fdr,significant_holm{extra}
1,c1=v1 & c2=v2,2.5,1,1,1,1{first}
2,c1=v1 & c2=v2 & n1=v1,2.5,1,1,1,1{second}
3,n2=v3,0.75,1,0,1,0{third}
4,c3=v1,1.25,0,0,0,0{fourth}
"""
# (the columns added, then each row's values of them)
LATER_COLUMNS = [
    ([], [], [], [], []),
    (["productive"], ["1"], ["0"], ["0"], ["0"]),
    (["productive", "significant_bh", "productive_corrected"], ["1", "1", "1"], ["0", "1", "0"],
     ["0", "1", "0"], ["0", "0", "0"]),
]


def holdout_table(columns, *rows):
    return TABLE.format(extra="".join("," + column for column in columns),
                        **{key: "".join("," + value for value in row)
                           for key, row in zip(("first", "second", "third", "fourth"), rows)})


@pytest.mark.parametrize("columns,first,second,third,fourth", LATER_COLUMNS)
def test_each_holdout_procedure_keeps_the_rules_its_columns_mark(tmp_path, columns, first, second,
                                                                 third, fourth):
    (tmp_path / "t.csv").write_text(holdout_table(columns, first, second, third, fourth))
    kept = truth_run.kept_rules(str(tmp_path / "t.csv"), truth_run.HOLDOUT)
    above, below = truth.ABOVE, truth.BELOW
    both = [("c1=v1 & c2=v2", above), ("c1=v1 & c2=v2 & n1=v1", above)]
    assert kept["holdout_raw"] == kept["holdout_fdr"] == both + [("n2=v3", below)]
    assert kept["holdout_bonferroni"] == kept["holdout_holm"] == both
    # A procedure whose columns the table lacks is absent, not empty.
    assert ("holdout_productive" in kept) == ("productive" in columns)
    assert ("holdout_bh" in kept) == ("holdout_productive_corrected" in kept) == (
        "significant_bh" in columns)
    if "productive" in columns:
        assert kept["holdout_productive"] == [("c1=v1 & c2=v2", above)]
    if "significant_bh" in columns:
        assert kept["holdout_bh"] == kept["holdout_raw"]
        assert kept["holdout_productive_corrected"] == [("c1=v1 & c2=v2", above)]


def test_a_rule_table_cut_short_or_with_a_bad_lift_is_an_error_not_fewer_rules(tmp_path):
    text = holdout_table([], [], [], [], [])
    (tmp_path / "t.csv").write_text(text[:text.rindex(",")])
    with pytest.raises(ValueError, match="line 5: 6 fields, not 7"):
        truth_run.kept_rules(str(tmp_path / "t.csv"), truth_run.HOLDOUT)
    (tmp_path / "t.csv").write_text(text.replace("0.75", "low"))
    with pytest.raises(ValueError, match="line 4: the lift 'low' is no number"):
        truth_run.kept_rules(str(tmp_path / "t.csv"), truth_run.HOLDOUT)


# (a method's entry in D.direct.json, whether its verdicts are judged)
METHODS = [({"level": 1e-6, "rules": 3}, True), ({"longest": 4, "rules": 2}, True),
           ({"computed": False, "level": None}, False), ({"computed": True, "level": 1e-5}, True),
           ({"permutations": 0, "level": None}, False), (None, False)]


@pytest.mark.parametrize("method,judged", METHODS)
def test_a_direct_method_is_judged_when_its_level_was_computed(method, judged):
    assert truth_run.computed(method) == judged


# A direct rule table with the columns of the later methods: the closed
# pattern counts and each family-wise method's productive column.
FAMILY_WISE_METHODS = ["bonferroni_tested", "search_space", "layered", "tarone",
                       "tarone_lowered", "westfall_young", "bonferroni_closed", "tarone_closed"]
DIRECT_COLUMNS = (["rank", "rule", "class", "length", "support", "class_support", "confidence",
                   "lift", "pvalue", "max_local_pvalue"] + FAMILY_WISE_METHODS[:6] +
                  ["fdr", "bonferroni_closed", "tarone_closed"] +
                  [method + "_productive" for method in FAMILY_WISE_METHODS])
# (rule, lift, the methods that keep it, those whose productive column is 1)
DIRECT_ROWS = [
    ("c1=v1 & c2=v2", "2.5", set(FAMILY_WISE_METHODS) | {"fdr"}, set(FAMILY_WISE_METHODS)),
    ("c1=v1 & c2=v2 & n1=v1", "2.4", set(FAMILY_WISE_METHODS) | {"fdr"}, set()),
    ("c3=v2", "1.1", {"westfall_young", "fdr", "bonferroni_closed", "tarone_closed"},
     {"westfall_young", "bonferroni_closed", "tarone_closed"}),
]


def write_direct_run(folder, later):
    """D.direct.json and D.direct.rules.csv.gz of a direct run, with the
    later methods' columns and entries or without (as older runs wrote)."""
    columns = [c for c in DIRECT_COLUMNS if later or not (
        c in ("max_local_pvalue", "bonferroni_closed", "tarone_closed") or c.endswith("_productive"))]
    lines = [",".join(columns)]
    for rank, (rule, lift, kept, productive) in enumerate(DIRECT_ROWS, 1):
        values = {"rank": rank, "rule": rule, "class": 1, "length": rule.count("&") + 1,
                  "support": 100, "class_support": 60, "confidence": 0.6, "lift": lift,
                  "pvalue": 1e-9, "max_local_pvalue": 1e-3}
        values.update({m: int(m in kept) for m in FAMILY_WISE_METHODS + ["fdr"]})
        values.update({m + "_productive": int(m in productive) for m in FAMILY_WISE_METHODS})
        lines.append(",".join(str(values[c]) for c in columns))
    with gzip.open(os.path.join(folder, "d.direct.rules.csv.gz"), "wt") as handle:
        handle.write("\n".join(lines) + "\n")
    methods = {m: {"level": 1e-6, "rules": 1} for m in FAMILY_WISE_METHODS + ["fdr"]
               if later or m not in ("bonferroni_closed", "tarone_closed")}
    methods["tarone_lowered"] = {"computed": False, "level": None, "rules": 0}
    with open(os.path.join(folder, "d.direct.json"), "w") as handle:
        json.dump({"methods": methods}, handle)


@pytest.mark.parametrize("later", [True, False])
def test_each_direct_procedure_keeps_the_rules_of_its_column(tmp_path, later):
    write_direct_run(tmp_path, later)
    kept = truth_run.direct_kept(str(tmp_path), "d")
    old = ["direct_bonferroni", "direct_search_space", "direct_layered", "direct_tarone",
           "direct_westfall_young", "direct_fdr"]
    new = ["direct_bonferroni_closed", "direct_tarone_closed"] + [
        procedure + "_productive" for procedure in truth_run.FAMILY_WISE
        if procedure != "direct_tarone_lowered"]
    # Tarone over a lowered support was not computed: neither it nor its
    # productive side is judged; the later procedures only where the run has them.
    assert set(kept) == set(old + (new if later else []))
    first, second, third = ((rule, truth.ABOVE) for rule, *_ in DIRECT_ROWS)
    assert kept["direct_bonferroni"] == [first, second]
    assert kept["direct_westfall_young"] == kept["direct_fdr"] == [first, second, third]
    if later:
        assert kept["direct_tarone_closed"] == [first, second, third]
        assert kept["direct_bonferroni_productive"] == kept["direct_tarone_productive"] == [first]
        assert kept["direct_westfall_young_productive"] == [first, third]
        assert kept["direct_bonferroni_closed_productive"] == [first, third]


# A truth as the generator writes it: c1, c2, c3 of three equally likely
# values, a planted rule c1=v1 & c2=v2 at 0.8 and one inside it at 0.6 that
# is no effect of its own; base rate 0.3, so the overall rate is
# (0.8 + 8 * 0.3) / 9 = 0.356, that of c1=v2 is 0.3, and c3=v2 has the overall rate.
TRUTH = {"class": {"name": "class", "positive": "1", "negative": "0"}, "base_rate": 0.3,
         "overlap": "highest", "profiles": [1.0],
         "attributes": [{"name": f"c{i}", "role": "causal", "values": ["v1", "v2", "v3"],
                         "probabilities": [1 / 3, 1 / 3, 1 / 3]} for i in (1, 2, 3)],
         "planted": [{"items": ["c1=v1", "c2=v2"], "rate": 0.8},
                     {"items": ["c1=v1", "c2=v2", "c3=v1"], "rate": 0.6}]}
# Per repetition the holdout rule table's rows: rule, lift on the mining
# half, kept raw, kept at the Bonferroni level. Repetition 1 keeps the
# planted rule and c1=v2 claimed above (a direction error); repetition 2 the
# rule of no effect (redundant), c3=v2 (false) and c1=v2 claimed below
# (associated).
REPETITIONS_KEPT = {
    1: [("c1=v1 & c2=v2", 2.2, 1, 1), ("c1=v2", 1.2, 1, 0)],
    2: [("c1=v1 & c2=v2 & c3=v1", 2.3, 1, 1), ("c3=v2", 1.3, 1, 0), ("c1=v2", 0.8, 1, 0)],
}
# truth.csv's rows of the two procedures, from the two repetitions.
TRUTH_ROWS = [
    {"procedure": "holdout_raw", "n": 2, "planted": 2, "effective": 1, "discoveries_mean": 2.5,
     "false_mean": 0.5, "direction_errors": 0.5, "redundant_mean": 0.5, "associated_mean": 0.5,
     "fwer": 0.5, "fwer_directional": 1.0, "fdp": 1 / 6, "power": 0.5},
    {"procedure": "holdout_bonferroni", "n": 2, "planted": 2, "effective": 1,
     "discoveries_mean": 1.0, "false_mean": 0.0, "direction_errors": 0.0, "redundant_mean": 0.5,
     "associated_mean": 0.0, "fwer": 0.0, "fwer_directional": 0.0, "fdp": 0.0, "power": 0.5},
]
OLD_TRUTH_SCHEMA = """
CREATE TABLE truth_runs (cell INTEGER NOT NULL, repetition INTEGER NOT NULL, record TEXT,
    signature TEXT, planted INTEGER, PRIMARY KEY (cell, repetition));
CREATE TABLE truth (cell INTEGER NOT NULL, repetition INTEGER NOT NULL, procedure TEXT NOT NULL,
    position INTEGER, discoveries INTEGER, false_discoveries INTEGER, redundant INTEGER,
    associated INTEGER, recovered INTEGER, power REAL, PRIMARY KEY (cell, repetition, procedure));
INSERT INTO truth_runs VALUES (1, 1, 'old', 'old', 2);
INSERT INTO truth VALUES (1, 1, 'holdout_raw', 0, 9, 9, 0, 0, 0, 0.0);
"""


def test_judged_runs_make_truth_csv_with_direction_errors_and_effects_only(tmp_path):
    (tmp_path / "d.truth.json").write_text(json.dumps(TRUTH))
    model = truth.load_truth(tmp_path / "d.truth.json")
    jobs = []
    for repetition, rows in REPETITIONS_KEPT.items():
        table = tmp_path / f"rules{repetition}.csv"
        table.write_text("rank,rule,mined_lift,significant,significant_corrected\n" + "".join(
            f"{rank},{rule},{lift},{raw},{corrected}\n"
            for rank, (rule, lift, raw, corrected) in enumerate(rows, 1)))
        judged = {"planted": len(model.planted), "effective": len(truth.effective_planted(model)),
                  "procedures": truth_run.judge(model, truth_run.kept_rules(
                      str(table), truth_run.HOLDOUT))}
        path = tmp_path / f"truth{repetition}.json"
        path.write_text(json.dumps(judged))
        jobs.append({"dataset": "g", "minsup": "15", "level": 0.05, "repetition": repetition,
                     "judged": str(path)})
    connection = study_db.open_database(str(tmp_path / "study.sqlite"))
    connection.execute("INSERT INTO cells VALUES (1, 'g', '15', 0.05, 0)")
    # A database of the earlier layout: its truth tables are made anew.
    connection.executescript(OLD_TRUTH_SCHEMA)
    read = truth_tables.update_truth(connection, jobs, {("g", "15", 0.05): 1})
    assert read == 2
    pages = []
    truth_tables.write_truth(connection, str(tmp_path), lambda *page: pages.append(page), "%.10g")
    table = pd.read_csv(tmp_path / "truth.csv")
    assert list(table.columns) == [
        "dataset", "minsup", "top_k", "share", "level", "procedure", "n", "planted", "effective",
        "discoveries_mean", "false_mean", "direction_errors", "redundant_mean",
        "associated_mean", "fwer", "fwer_low", "fwer_high", "fwer_directional",
        "fwer_directional_low", "fwer_directional_high", "fdp", "power"]
    assert len(table) == len(TRUTH_ROWS) and len(pages) == 1
    for row, expected in zip(table.to_dict("records"), TRUTH_ROWS):
        assert {key: row[key] for key in expected} == pytest.approx(expected, abs=1e-9)
        low, high = truth_tables.wilson_interval(round(2 * expected["fwer_directional"]), 2)
        assert (row["fwer_directional_low"], row["fwer_directional_high"]) == pytest.approx(
            (low, high), abs=1e-9)


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


# Every family-wise procedure; those the build's tables do not give are absent.
FAMILY_WISE = (["holdout_bonferroni", "holdout_holm", "holdout_productive",
                "holdout_productive_corrected"] + list(truth_run.FAMILY_WISE) +
               [procedure + "_productive" for procedure in truth_run.FAMILY_WISE])
REPETITIONS = 20


def test_truth_study_end_to_end(tmp_path):
    # The second planted rule is no effect of its own: it changes no rate.
    strong = [{"items": ["c1=v1", "c2=v2"], "rate": 0.8},
              {"items": ["c1=v1", "c2=v2", "c3=v1"], "rate": 0.6}]
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
    assert (truth["fwer_directional"] >= truth["fwer"]).all()
    assert (null["direction_errors"] == 0).all()
    planted = truth.groupby("dataset")[["planted", "effective"]].max()
    assert planted.to_dict("index") == {"none": {"planted": 0, "effective": 0},
                                        "strong": {"planted": 2, "effective": 1}}
    with open(tmp_path / "logs" / "data" / "strong" / "rep1.log") as log:
        assert "planted[1] (c1=v1 & c2=v2 & c3=v1, rate 0.6) can never set" in log.read()

    database = sqlite3.connect(tmp_path / "results" / "study.sqlite")
    recovered_all = database.execute(
        "SELECT count(*) FROM truth t JOIN cells c ON c.id = t.cell JOIN truth_runs r "
        "ON r.cell = t.cell AND r.repetition = t.repetition WHERE c.dataset = 'strong' "
        "AND t.procedure = 'holdout_bonferroni' AND t.recovered = r.effective").fetchone()[0]
    assert recovered_all > REPETITIONS / 2
    # The table is the database's runs summed: the false discoveries of one procedure.
    (false_runs,) = database.execute(
        "SELECT sum(false_discoveries > 0) FROM truth t JOIN cells c ON c.id = t.cell "
        "WHERE c.dataset = 'none' AND procedure = 'holdout_raw'").fetchone()
    assert null.loc["holdout_raw", "fwer"] == pytest.approx(false_runs / REPETITIONS)

    # Each repetition its own data set; each run keeps only what is read.
    experiments = pd.read_csv(tmp_path / "results" / "experiments.csv")
    assert (experiments["status"] == "ok").all() and len(experiments) == 2 * REPETITIONS
    cell = tmp_path / "runs" / "strong" / "minsup15_p0.05"
    assert sorted(os.listdir(cell / "rep1")) == ["strong.experiment.json", "strong.rules.csv.gz",
                                                 "truth.json"]
    assert sorted(os.listdir(cell / "direct" / "rep1")) == ["strong.direct.json",
                                                            "strong.direct.rules.csv.gz"]
    assert os.path.isfile(cell / "direct" / "rep1.json")

    again = snakemake(tmp_path, config, "-n")
    assert again.returncode == 0 and "Nothing to be done" in again.stdout + again.stderr


DESIGN_REPETITIONS = 4
SHARES = [0.3, 0.7]


def test_design_study_end_to_end(tmp_path):
    # Two shares x (a fraction of the mining part as the minimum support, and
    # the top 5 rules): four holdout designs, two direct minings.
    planted = [{"items": ["c1=v1", "c2=v2"], "rate": 0.75}]
    config = dict(config_of({"g": {"generate": settings(600, planted)}}, DESIGN_REPETITIONS),
                  minsups=[0.03], top_k=[5], mining_shares=SHARES,
                  direct={"permutations": 100})
    run = snakemake(tmp_path, config)
    assert run.returncode == 0, run.stderr[-4000:]
    for name in ("design.png", "truth.png", "report.html"):
        assert os.path.getsize(tmp_path / "results" / name) > 0, name

    # Power and family-wise error per design, the direct procedures beside each.
    truth = pd.read_csv(tmp_path / "results" / "truth.csv", dtype={"minsup": str})
    designs = {(minsup, top_k, share) for minsup, top_k, share
               in truth[["minsup", "top_k", "share"]].fillna("").itertuples(index=False)}
    assert designs == {("0.03", "", 0.3), ("0.03", "", 0.7), ("", 5, 0.3), ("", 5, 0.7)}
    assert (truth["n"] == DESIGN_REPETITIONS).all()
    holdout = truth[truth["procedure"] == "holdout_bonferroni"]
    assert len(holdout) == 4
    assert holdout["power"].notna().all() and holdout["fwer"].notna().all()
    assert (holdout["fwer"] <= holdout["fwer_high"]).all()
    # Top-k keeps at most k rules to re-test; FDR has no valid step under it.
    top = truth[truth["top_k"] == 5]
    assert (top[top["procedure"] == "holdout_raw"]["discoveries_mean"] <= 5).all()
    assert "direct_fdr" not in set(top["procedure"])
    assert "direct_fdr" in set(truth[truth["top_k"].isna()]["procedure"])
    # One direct run per mining and repetition, whatever the share.
    direct = truth[truth["procedure"].str.startswith("direct_")]
    columns = ["discoveries_mean", "false_mean", "fwer", "power"]
    for _, mining in direct.groupby(["minsup", "top_k"], dropna=False):
        at = [mining[mining["share"] == share].set_index("procedure")[columns]
              for share in SHARES]
        pd.testing.assert_frame_equal(at[0], at[1])

    # Each experiment split at its share, by strata rounded half down, and
    # the fraction counted of its own mining part.
    experiments = pd.read_csv(tmp_path / "results" / "experiments.csv")
    assert len(experiments) == 4 * DESIGN_REPETITIONS and (experiments["status"] == "ok").all()
    for row in experiments.to_dict("records"):
        assert row["share"] == row["arguments.mining_share"]
        mining = row["records.mining_part"]
        assert abs(mining - row["share"] * 600) <= 1
        if pd.isna(row["top_k"]):
            assert row["min_sup"] == math.ceil(0.03 * mining)
        else:
            assert row["min_sup"] == 1 and row["arguments.top_k"] == 5
    runs = tmp_path / "runs" / "g"
    assert sorted(os.listdir(runs)) == ["minsup0.03_p0.05", "minsup0.03_share0.3_p0.05",
                                        "minsup0.03_share0.7_p0.05", "top5_p0.05",
                                        "top5_share0.3_p0.05", "top5_share0.7_p0.05"]
    assert os.listdir(runs / "top5_p0.05") == ["direct"]


def test_design_plot_takes_the_best_family_wise_direct_procedure_as_its_reference(tmp_path):
    import design_plot

    def row(dataset, key, procedure, power, fwer):
        return dict(dataset=dataset, minsup=key, level=0.05, procedure=procedure, n=10,
                    power=power, fwer=fwer, fwer_low=0.0, fwer_high=fwer + 0.1)

    # The FDR step is no family-wise procedure; of equal power the lower error wins.
    rows = [row("weak", key, procedure, power, fwer) for key, procedure, power, fwer in [
        ("30", "direct_fdr", 0.9, 0.1), ("30", "direct_bonferroni", 0.7, 0.0),
        ("top10", "direct_layered", 0.8, 0.05), ("30", "direct_westfall_young", 0.8, 0.025),
        ("30@0.3", "holdout_bonferroni", 0.6, 0.0), ("top10@0.3", "holdout_bonferroni", 0.4, 0.0)]]
    rows += [row("null", key, procedure, None, fwer) for key, procedure, fwer in [
        ("30", "direct_westfall_young", 0.05), ("30@0.3", "holdout_bonferroni", 0.0)]]
    summary = design_plot.with_designs(pd.DataFrame(rows))
    weak = summary[summary["dataset"] == "weak"]
    null = summary[summary["dataset"] == "null"]
    assert design_plot.best_direct(weak) == ("direct_westfall_young", "minimum support 30")
    assert design_plot.best_direct(null) is None
    choice, reference = design_plot.reference_of(null, design_plot.best_direct(weak))
    assert choice == ("direct_westfall_young", "minimum support 30") and reference["fwer"] == 0.05
    assert list(summary["share"]) == [0.5, 0.5, 0.5, 0.5, 0.3, 0.3, 0.5, 0.3]
    design_plot.plot_design(pd.DataFrame(rows), tmp_path / "design.png")
    assert os.path.getsize(tmp_path / "design.png") > 0
