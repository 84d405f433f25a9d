"""The study's aggregation on hand-made records: means over the ok
experiments only, a failed row kept apart, rule stability counts, the
database against the tables, rules.csv.gz against the rule tables, runs read
once, runs added, redone and removed giving the tables of a fresh build, a
killed or failed fill, readers that renumber or fail, an old layout and an
edited copy rebuilt from the runs, memory that does not grow with the rules;
and the grid's seeds, supports and config messages."""
import csv
import glob
import gzip
import io
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import time

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

BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))
READER = os.path.join(BIN_DIR, "varnel-read-runs")

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


AGGREGATE = ["--plan", "plan.json", "--reader", READER, "--cache", "results/cache/study.sqlite",
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
    # A copy of the database the job keeps, not a link to it.
    assert not os.path.samefile("results/study.sqlite", "results/cache/study.sqlite")


def test_each_run_is_read_once(tables):
    plan = json.load(open("plan.json"))
    database = study_db.open_database("results/cache/study.sqlite")
    assert study_tables.update_database(database, plan, READER) == (0, 0)  # nothing new
    extra = dict(plan["experiments"][0], repetition=4)
    plan["experiments"].append(extra)
    assert study_tables.update_database(database, plan, READER) == (1, 0)  # only the new one
    os.utime(plan["experiments"][1]["rules"], ns=(1, 1))  # a run done again
    assert study_tables.update_database(database, plan, READER) == (1, 0)
    plan["experiments"] = [job for job in plan["experiments"] if job["minsup"] != "0.1"]
    assert study_tables.update_database(database, plan, READER) == (0, 1)  # a grid value left out
    kept = database.execute("SELECT DISTINCT c.minsup FROM rule_figures f JOIN experiments e "
                            "ON e.id = f.experiment JOIN cells c ON c.id = e.cell").fetchall()
    assert kept == [("20",)]


TABLES = ["experiments.csv", "summary.csv", "rule_stability.csv", "rules.csv.gz"]


def aggregate(plan, out="results", reader=READER):
    """The tables of plan, aggregated with the cache out/cache/study.sqlite."""
    write_plan(".", plan)
    assert study_tables.main(["--plan", "plan.json", "--reader", reader,
                              "--cache", f"{out}/cache/study.sqlite",
                              "--database", f"{out}/study.sqlite", "--out-dir", out]) == 0
    return {name: (gzip.open if name.endswith(".gz") else open)(f"{out}/{name}", "rb").read()
            for name in TABLES}


def test_runs_added_redone_and_removed_give_the_tables_of_a_fresh_build(tmp_path):
    """The rule counts are kept up to date run by run: after each change the
    tables equal those of a database built from nothing."""
    plan = write_study(str(tmp_path))
    os.chdir(tmp_path)
    first = plan["experiments"][0]

    def redo(plan):  # a run done again, with other rules
        with gzip.open(first["rules"], "wt") as handle:
            handle.write(RULES_HEADER)
            for rank, (text, kept) in enumerate([("c=3", 1), ("e=1 & a=1", 1), ("b=2 & a=1", 0)],
                                                1):
                handle.write(f'{rank},"{text}",1,1,9,8,0.9,1.5,1e-4,9,7,0.8,1.4,0.02,same,'
                             f"{kept},0,{kept}\n")

    changes = [lambda plan: None,
               lambda plan: plan["experiments"].append(dict(first, repetition=4)),
               redo,
               lambda plan: plan["experiments"].remove(first),
               lambda plan: plan.update(  # a grid value left out, its direct run too
                   {part: [job for job in plan[part] if job["minsup"] != "0.1"]
                    for part in ("experiments", "direct")})]
    for step, change in enumerate(changes):
        change(plan)
        assert aggregate(plan) == aggregate(plan, f"fresh{step}"), f"after change {step}"
    database = sqlite3.connect("results/study.sqlite")
    # Nothing is left of the runs that left: no rule, figure or outcome unused.
    for table, used in (("rule_texts", "SELECT rule FROM rule_figures"),
                        ("half_figures", "SELECT mined_half FROM rule_figures UNION "
                                         "SELECT test_half FROM rule_figures"),
                        ("outcomes", "SELECT outcome FROM rule_figures")):
        assert database.execute(f"SELECT count(*) FROM {table} WHERE id NOT IN ({used})"
                                ).fetchone() == (0,), table
    assert database.execute("SELECT count(*) FROM rule_counts WHERE mined <= 0").fetchone() == (0,)


def test_rules_csv_holds_every_rule_as_its_table_gives_it(tmp_path):
    """rules.csv.gz, written line by line by the database, against the rule
    tables read with the csv module: texts that need quoting (a line break
    too), empty fields, a column the table lacks, reals written as the other
    tables write them; a table gzipped, one plain with CRLF line ends and a
    blank last line."""
    os.chdir(tmp_path)
    header = RULES_HEADER.replace(",direction", "")  # an older table: no direction
    rows = [[1, 'b=say "hi" & a=1,5', "x,y", 2, 9, 8, 0.9, 1.5, 0.1 + 0.2, 9, 7, 0.8, 1.4,
             1e-300, 1, 1, 1],
            [2, "z=1", "x,y", 1, 12, 8, 0.6, 1.1, 0.5, 3, 1, "", "", "", 0, 0, 0],
            [3, "z=2\nlines", "x,y", 1, 12, 8, 0.6, 1.1, 0.5, 3, 1, "", "", "", 0, 0, 0],
            [4, "a=1,5 & b=say \"hi\"", "1", 2, 9, 8, 0.9, 1.5, 1.0, 9, 7, 0.8, 1.4,
             2.5e-17, 1, 0, 1]]
    plan = {"experiments": [], "direct": []}
    for rep in (1, 2):
        os.makedirs(f"r{rep}")
        rules = f"r{rep}/d.rules.csv" + (".gz" if rep == 1 else "")
        job = {"dataset": "d-1.x", "minsup": "0.05", "level": 0.01, "repetition": rep,
               "record": f"r{rep}/d.experiment.json", "rules": rules}
        with open(job["record"], "w") as handle:
            json.dump({"status": "ok", "arguments": {"mine_min_sup": 7}}, handle)
        with (gzip.open if rep == 1 else open)(rules, "wt", newline="") as handle:
            if rep == 1:
                handle.write(header)
                csv.writer(handle, lineterminator="\n").writerows(rows)
            else:
                handle.write(header.replace("\n", "\r\n"))
                csv.writer(handle, lineterminator="\r\n").writerows(rows[0:2:3] + rows[3:])
                handle.write("\r\n")
        plan["experiments"].append(job)
    aggregate(plan)

    expected = io.StringIO()
    writer = csv.writer(expected, lineterminator="\n")
    writer.writerow(study_tables.RULES_COLUMNS)
    for job in plan["experiments"]:
        with (gzip.open if job["rules"].endswith(".gz") else open)(
                job["rules"], "rt", newline="") as handle:
            table = list(csv.DictReader(handle))
        for row in table:
            values = [job["dataset"], job["minsup"], job["level"], job["repetition"], 7,
                      row["rank"], " & ".join(sorted(row["rule"].split(" & ")))] + \
                [row.get(name, "") for name in study_db.RULE_FIGURES]
            writer.writerow([study_tables.FLOAT_FORMAT % float(value)
                             if name.endswith("pvalue") and value != "" or name == "level"
                             else value for name, value in zip(study_tables.RULES_COLUMNS,
                                                               values)])
    with gzip.open("results/rules.csv.gz", "rt", newline="") as handle:
        assert handle.read() == expected.getvalue()
    # Both orders of one rule's items are one rule.
    assert sqlite3.connect("results/study.sqlite").execute(
        "SELECT count(*) FROM rule_texts").fetchone() == (3,)


def write_many(folder, experiments, rules, first=1):
    """A plan of experiments ok runs of rules rules each, repetitions from first on."""
    plan = {"experiments": [], "direct": []}
    rule_rows = "".join(f'{rank},"i{rank % 97}=a & j{rank}=b & k{rank % 13}=c",1,3,9,8,0.9,'
                        f"1.5,1e-4,9,7,0.8,1.4,{rank / 4000},same,1,0,1\n"
                        for rank in range(1, rules + 1))
    for rep in range(first, first + experiments):
        run = folder / f"r{rep}"
        run.mkdir()
        (run / "t.experiment.json").write_text(json.dumps(
            {"status": "ok", "miner": {"rules_mined": rules}, "holdout": {"sig_at_level": rules}}))
        with gzip.open(run / "t.rules.csv.gz", "wt", compresslevel=1) as handle:
            handle.write(RULES_HEADER + rule_rows)
        plan["experiments"].append({"dataset": "t", "minsup": "5", "level": 0.05,
                                    "repetition": rep, "record": str(run / "t.experiment.json"),
                                    "rules": str(run / "t.rules.csv.gz")})
    write_plan(folder, plan)
    return plan


def test_a_killed_or_failed_fill_is_built_anew(tmp_path, monkeypatch):
    """A tables job killed while it fills the database, or stopped by a full
    disk, leaves the fill's mark; the next job builds the database from the
    runs, with the tables of a job never disturbed."""
    plan = write_many(tmp_path, 60, 2000)
    os.chdir(tmp_path)
    undisturbed = aggregate(plan, "undisturbed")
    child = subprocess.Popen([sys.executable, os.path.join(SCRIPTS, "study_tables.py"),
                              *AGGREGATE], stdout=subprocess.DEVNULL)
    cache = "results/cache/study.sqlite"
    # Killed while it fills the database or writes the tables, with processes
    # of its own reading the runs or writing rules.csv.gz: they end soon after.
    while not (os.path.exists(cache) and os.path.getsize(cache) > 100000
               and (helpers := children_of(child.pid))):
        assert child.poll() is None, "the job ended before it could be killed"
        time.sleep(0.01)
    child.send_signal(signal.SIGKILL)
    child.wait()
    deadline = time.monotonic() + 10
    while any(os.path.exists(f"/proc/{helper}") for helper in helpers):
        assert time.monotonic() < deadline, "a process of the job outlived it"
        time.sleep(0.1)
    assert os.path.exists(study_db.filling_mark(cache))
    assert aggregate(plan) == undisturbed
    assert not os.path.exists(study_db.filling_mark(cache))

    # A full disk half-way through a fill that adds runs to a database.
    plan["experiments"] += write_many(tmp_path, 20, 2000, first=61)["experiments"]
    opened = study_db.open_database

    def small_disk(path):
        connection = opened(path)
        pages = connection.execute("PRAGMA page_count").fetchone()[0]
        connection.execute(f"PRAGMA max_page_count = {pages + 20}")
        return connection

    monkeypatch.setattr(study_db, "open_database", small_disk)
    with pytest.raises(sqlite3.OperationalError, match="full"):
        aggregate(plan)
    monkeypatch.setattr(study_db, "open_database", opened)
    assert os.path.exists(study_db.filling_mark(cache))
    assert aggregate(plan) == aggregate(plan, "fresh")


def children_of(pid):
    """The processes whose parent is pid (Linux)."""
    children = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as handle:
                # The fields after the command name, which may hold blanks.
                if int(handle.read().rsplit(")", 1)[1].split()[1]) == pid:
                    children.append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    return children


def test_readers_that_renumber_or_fail(tmp_path, monkeypatch):
    """The reader program codes each rule, pair of figures and outcome once
    and numbers anew when it knows too many: with tiny chunks and a tiny
    limit, met at the end of a table too, the tables are those of the usual
    reading. A reader's error reaches the job; a reader or a writer of
    rules.csv.gz that dies stops it instead of leaving it waiting or writing
    a table in part."""
    plan = write_study(str(tmp_path))
    os.chdir(tmp_path)
    usual = aggregate(plan, "usual")
    for rows, keys in ((1, 1), (2, 3), (3, 2)):
        monkeypatch.setattr(study_db, "CHUNK_ROWS", rows)
        monkeypatch.setattr(study_db, "KNOWN_KEYS", keys)
        assert aggregate(plan, f"small{rows}") == usual, (rows, keys)
    monkeypatch.undo()

    with gzip.open(plan["experiments"][3]["rules"], "wt") as handle:
        handle.write("rule,class\n")
    with pytest.raises(ValueError, match="no rank or rule column"):
        aggregate(plan, "broken")
    dying = tmp_path / "dying-reader"
    dying.write_text("#!/bin/sh\nexit 3\n")
    dying.chmod(0o755)
    with pytest.raises(RuntimeError, match="exit code 3"):
        aggregate(plan, "died", str(dying))
    plan["experiments"].pop()
    monkeypatch.setattr(study_db, "write_rule_lines", lambda *_: os._exit(2))
    with pytest.raises(RuntimeError, match="a writer of .*rules.csv.gz failed"):
        aggregate(plan, "unwritten")
    assert not glob.glob("unwritten/rules.csv.gz*")


TABLE_FAULTS = [  # (the rule table's bytes after its header, the error)
    (b'1,"a=1 & b=2,1,1,9\n', "row 1: a quote never closed"),
    (b"1,a=1,1,1,9,8,0.9,1.5,1e-4,9,7,0.8,1.4,0.01,s\0me,1,1,1\n", "row 1: a NUL byte"),
    (b"1,a=1,1,1,9,8,0.9,1.5,1e-4,9,7,0.8,1.4,0.01,same,1,1,1\n2,b=1\n",
     "row 2 has 2 fields, the header 18"),
    (b"x1,a=1,1,1,9,8,0.9,1.5,1e-4,9,7,0.8,1.4,0.01,same,1,1,1\n",
     "row 1: the rank 'x1' is no whole number"),
]


@pytest.mark.parametrize("rows, error", TABLE_FAULTS)
def test_a_faulty_rule_table_stops_the_job_with_its_fault(tmp_path, rows, error):
    plan = write_study(str(tmp_path))
    os.chdir(tmp_path)
    with gzip.open(plan["experiments"][3]["rules"], "wb") as handle:
        handle.write(RULES_HEADER.encode() + rows)
    with pytest.raises(ValueError, match=f"toy.rules.csv.gz: {error}"):
        aggregate(plan)


def test_a_cut_table_stops_the_job_and_a_bad_record_is_a_failed_run(tmp_path):
    """A gzip stream cut short is an error, not a shorter table; a record that
    is no JSON object makes its run a failed one, whose table is not read."""
    plan = write_study(str(tmp_path))
    os.chdir(tmp_path)
    usual = aggregate(plan, "usual")
    table = plan["experiments"][3]["rules"]
    whole = open(table, "rb").read()
    with open(table, "wb") as handle:
        handle.write(whole[:-12])
    with pytest.raises(ValueError, match="toy.rules.csv.gz: "):
        aggregate(plan, "cut")
    with open(table, "wb") as handle:
        handle.write(whole)
    for text, why in (("{\"status\": \"ok\", ", "it is no JSON"), ("[1]", "it holds no object")):
        with open(plan["experiments"][0]["record"], "w") as handle:
            handle.write(text)
        aggregate(plan, "bad")
        experiments = pd.read_csv("bad/experiments.csv")
        assert list(experiments["status"]) == ["failed", "ok", "failed", "ok"]
        assert experiments["errors"][0].startswith("cannot read the record ") and \
            experiments["errors"][0].endswith(why)
    # The other runs' rules are those of the usual tables.
    rules = pd.read_csv(io.BytesIO(usual["rules.csv.gz"]))
    assert pd.read_csv("bad/rules.csv.gz").equals(
        rules[rules["repetition"].ne(1) | rules["minsup"].ne(20)].reset_index(drop=True))


def test_an_old_layout_or_an_edited_copy_changes_nothing(tables):
    """A database of another layout is built anew; the database in results/ is
    a copy, so what a user does to it reaches no later table."""
    plan = json.load(open("plan.json"))
    fresh = aggregate(plan, "fresh")
    edited = sqlite3.connect("results/study.sqlite")
    edited.executescript("DELETE FROM rule_figures; DELETE FROM rule_counts; "
                         "UPDATE experiments SET status = 'failed', signature = 'x'; "
                         "DROP VIEW rules; CREATE TABLE mine (x);")
    edited.close()
    assert aggregate(plan) == fresh
    old = sqlite3.connect("results/cache/study.sqlite")
    old.executescript("UPDATE layout SET version = 1; DELETE FROM rule_figures;")
    old.close()
    assert aggregate(plan) == fresh


def test_the_aggregation_holds_one_experiment_at_a_time(tmp_path):
    """Many experiments of many rules: the aggregation's peak memory, measured
    in a process of its own, stays far below what all the rules would take."""
    write_many(tmp_path, 200, 2000)
    child = subprocess.Popen([sys.executable, os.path.join(SCRIPTS, "study_tables.py"),
                              *AGGREGATE], cwd=tmp_path, stdout=subprocess.PIPE, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    assert status == 0 and "200 read" in output, output
    # 400,000 rules would take several hundred MB in memory at once. The peak
    # is the job's or its reader's; a reader built with the sanitizers holds
    # their memory too, so then the job's own counts.
    peak = usage.ru_maxrss / 1024
    with open(READER, "rb") as program:
        if b"libasan" in program.read():
            peak = float(re.search(r"peak memory (\d+) MB", output).group(1))
    assert peak < 150, f"peak {peak:.0f} MB"
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


def test_truth_rows_keep_every_figure_the_judged_file_gives(tmp_path):
    """A judged run's figures per procedure enter the truth table whatever
    their names (a figure a later judge adds gets a column), and truth.csv
    counts a run whose file changed once, with its new figures."""
    os.chdir(tmp_path)
    plan = {"experiments": [], "direct": [], "truth": []}
    for rep in (1, 2):
        judged = f"r{rep}/truth.json"
        os.makedirs(f"r{rep}")
        plan["experiments"].append({"dataset": "g", "minsup": "30", "level": 0.05,
                                    "repetition": rep, "record": f"r{rep}/g.experiment.json",
                                    "rules": f"r{rep}/g.rules.csv.gz"})
        plan["truth"].append({"dataset": "g", "minsup": "30", "level": 0.05, "repetition": rep,
                              "judged": judged})
        with open(judged, "w") as handle:
            json.dump({"planted": 2, "procedures": {
                "holdout_raw": {"discoveries": 4, "false": rep - 1, "redundant": 1,
                                "associated": 1, "planted": 2, "recovered": 2, "power": 1.0,
                                "direction_errors": rep},
                "direct_fdr": {"discoveries": 2, "false": 0, "redundant": 0, "associated": 0,
                               "planted": 2, "recovered": 2, "power": 1.0}}}, handle)
    aggregate(plan)
    os.utime(plan["truth"][1]["judged"], ns=(1, 1))  # a run judged again
    aggregate(plan)
    database = sqlite3.connect("results/study.sqlite")
    rows = database.execute("SELECT repetition, procedure, false_discoveries, direction_errors "
                            "FROM truth ORDER BY repetition, position").fetchall()
    assert rows == [(1, "holdout_raw", 0, 1), (1, "direct_fdr", 0, None),
                    (2, "holdout_raw", 1, 2), (2, "direct_fdr", 0, None)]
    truth = pd.read_csv("results/truth.csv").set_index("procedure")
    assert truth.loc["holdout_raw", "n"] == 2 and truth.loc["holdout_raw", "fwer"] == 0.5
    assert truth.loc["direct_fdr", "fwer"] == 0
