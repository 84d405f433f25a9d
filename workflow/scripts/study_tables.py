"""The study's tables. The database (study_db) is filled run by run from the
study's plan: a run already in it with unchanged files is not read again, so
a new repetition or grid value reads only its own runs. The reader program
(varnel-read-runs) reads the runs, their rules coded a chunk at a time,
while this process enters them. From the database come experiments.csv, summary.csv,
rule_stability.csv, rules.csv.gz (written by N processes side by side) and
the report's pages. Only experiments whose status is "ok" enter a mean, a
count of rules or the rule stability; failed ones are counted apart.

The database is kept in CACHE, which Snakemake leaves alone between runs (it
removes a job's outputs before the job), and DATABASE is a copy of it, so
that what a user does to the copy never reaches a later run.

    study_tables.py --plan PLAN_JSON --reader PROGRAM --cache CACHE --database DATABASE
                    --out-dir DIR [--processes N]
"""
import argparse
import csv
import json
import os
import resource
import shutil
import sys
import time
from multiprocessing import get_context

import pandas as pd

import study_db
import truth_tables
from study_config import design_key_columns

KEYS = ["dataset", "minsup", "level"]

# summary name -> field of the experiment record
MEASURES = {
    "mined": "miner.rules_mined",
    "kept": "holdout.sig_at_level",
    "bonferroni": "holdout.sig_at_corrected",
    "fdr": "holdout.sig_at_fdr",
    "holm": "holdout.sig_at_holm",
    "reversed": "holdout.reversed",
}
# direct column -> field of the direct record: the run, then the rules each
# direct method keeps (direct_bonferroni: at level / patterns tested)
DIRECT = {"direct_min_sup": "min_sup", "direct_status": "status",
          "direct_patterns_tested": "patterns_tested", "direct_at_level": "sig_at_level",
          "direct_bonferroni": "sig_at_corrected",
          "direct_space": "methods.search_space.rules",
          "direct_layered": "methods.layered.rules",
          "direct_tarone": "methods.tarone.rules",
          "direct_tarone_lowered": "methods.tarone_lowered.rules",
          "direct_westfall_young": "methods.westfall_young.rules",
          "direct_fdr": "methods.fdr.rules"}
# Shown only when some direct run computed it.
DIRECT_IF_COMPUTED = {"direct_tarone_lowered": "methods.tarone_lowered.computed"}
# The report's page of rule stability shows about this many rows in all.
TOP_RULES = 300

FLOAT_FORMAT = "%.10g"


def _cell_key(job):
    return (job["dataset"], job["minsup"], float(job["level"]))


def update_database(connection, plan, reader):
    """Brings the database to the plan, in one transaction, the runs read by
    the program `reader`; returns (runs read, runs removed)."""
    connection.execute("BEGIN")
    cells = list(dict.fromkeys(_cell_key(job) for job in plan["experiments"] + plan["direct"]))
    ids, removed = study_db.cell_ids(connection, cells)
    cell_of = dict(zip(cells, ids))
    wanted = {(cell_of[_cell_key(job)], job["repetition"]): (ordinal, job)
              for ordinal, job in enumerate(plan["experiments"])}
    known = {(cell, repetition): (experiment, sign) for experiment, cell, repetition, sign in
             connection.execute("SELECT id, cell, repetition, signature FROM experiments")}
    for key, (experiment, _) in known.items():
        if key not in wanted:
            study_db.remove_experiment(connection, experiment)
            removed += 1
    loader = study_db.RuleLoader(connection)
    to_read = []
    for (cell, repetition), (ordinal, job) in wanted.items():
        sign = study_db.signature(job["record"], job["rules"])
        experiment, old_sign = known.get((cell, repetition), (None, None))
        if experiment is None or old_sign != sign:
            if experiment is not None:
                study_db.remove_experiment(connection, experiment)
            to_read.append((cell, repetition, ordinal, job, sign))
        else:
            connection.execute("UPDATE experiments SET ordinal = ? WHERE id = ?",
                               (ordinal, experiment))
    # The runs are read by the reader program while the ones before enter
    # the database.
    for (cell, repetition, ordinal, job, sign), record, chunks in study_db.read_runs(
            to_read, lambda run: (run[3]["record"], run[3]["rules"]), reader):
        experiment = study_db.add_experiment(connection, loader, cell, repetition, record,
                                             job["record"], job["rules"], sign, chunks)
        connection.execute("UPDATE experiments SET ordinal = ? WHERE id = ?",
                           (ordinal, experiment))
    read = len(to_read)
    known_direct = dict(connection.execute("SELECT cell, signature FROM direct"))
    for job in plan["direct"]:
        cell = cell_of[_cell_key(job)]
        sign = study_db.signature(job["record"])
        if known_direct.get(cell) != sign:
            study_db.add_direct(connection, cell, study_db.read_record(job["record"]),
                                job["record"], sign)
            read += 1
    if removed:
        study_db.remove_unused(connection)
    read += truth_tables.update_truth(connection, plan.get("truth", []), cell_of)
    connection.execute("COMMIT")
    return read, removed


def experiments_table(connection):
    """One row per experiment in the plan's order: its keys, min_sup, status,
    then every field of its record."""
    skip = {"id", "cell", "repetition", "ordinal", "record", "rules", "signature"}
    fields = [name for name in study_db.columns(connection, "experiments") if name not in skip]
    query = ("SELECT c.dataset, c.minsup, c.level, e.repetition, "
             + ", ".join("e." + study_db.quoted(name) for name in fields)
             + " FROM experiments e JOIN cells c ON c.id = e.cell ORDER BY e.ordinal")
    return pd.read_sql_query(query, connection)


def direct_table(connection):
    """The direct columns per cell. A method computed only when asked for is
    empty where it was not, and left out when it never was."""
    present = set(study_db.columns(connection, "direct"))
    quoted = study_db.quoted

    def picked(column, field):
        if field not in present:
            return f"NULL AS {column}"
        computed = DIRECT_IF_COMPUTED.get(column)
        if computed is None:
            return f"d.{quoted(field)} AS {column}"
        if computed not in present:
            return f"NULL AS {column}"
        return f"CASE WHEN d.{quoted(computed)} = 1 THEN d.{quoted(field)} END AS {column}"

    columns = ", ".join(picked(column, field) for column, field in DIRECT.items())
    direct = pd.read_sql_query(f"SELECT c.dataset, c.minsup, c.level, {columns} FROM direct d "
                               "JOIN cells c ON c.id = d.cell ORDER BY c.ordinal", connection)
    return direct.drop(columns=[column for column in DIRECT_IF_COMPUTED
                                if direct[column].isna().all()])


def summary_table(experiments, direct):
    """Per data set x minimum support x level: n ok, failed, then mean, sd,
    min and max of each measure over the ok experiments, and the direct count."""
    ok = experiments["status"] == "ok"
    rows = []
    for keys, group in experiments.groupby(KEYS, sort=False):
        good = group[ok.loc[group.index]]
        row = dict(zip(KEYS, keys))
        row["min_sup"] = group["min_sup"].dropna().iloc[0] if group["min_sup"].notna().any() \
            else None
        row["n"] = len(good)
        row["failed"] = len(group) - len(good)
        for name, field in MEASURES.items():
            values = pd.to_numeric(good[field], errors="coerce") if field in good \
                else pd.Series(dtype=float)
            row[f"{name}_mean"] = values.mean()
            row[f"{name}_sd"] = values.std()
            row[f"{name}_min"] = values.min()
            row[f"{name}_max"] = values.max()
        rows.append(row)
    summary = pd.DataFrame(rows)
    return summary.merge(direct, on=KEYS, how="left")


STABILITY_COLUMNS = KEYS + ["rule", "repetitions", "mined", "kept", "kept_bonferroni",
                            "kept_fdr"]


def write_stability(connection, path, cells):
    """Per data set x minimum support x level and rule: in how many of the ok
    repetitions it was mined, kept, kept under Bonferroni, under FDR; the
    most often kept first. Returns the first rows of each data set x minimum
    support x level, about TOP_RULES rows in all, and how many that is per group."""
    per_cell = max(3, min(50, TOP_RULES // max(1, cells)))
    top, seen = [], {}

    def keep_top(row):
        group = row[-1]
        seen[group] = seen.get(group, 0) + 1
        if seen[group] <= per_cell:
            top.append(row[:-1])

    query = (f"SELECT {', '.join(STABILITY_COLUMNS)}, cell_ordinal FROM rule_stability "
             "ORDER BY cell_ordinal, kept DESC, mined DESC, rule")
    _write_rows(connection.execute(query), STABILITY_COLUMNS, path, keep_top)
    return pd.DataFrame(top, columns=STABILITY_COLUMNS), per_cell


RULES_COLUMNS = KEYS + ["repetition", "min_sup", "rank", "rule"] + study_db.RULE_FIGURES
def write_rules(connection, database, path, processes=2):
    """Every rule of every ok experiment with the experiment's keys, gzipped.
    The experiments are cut into runs of about equal numbers of rules, one
    per writer process (`processes` of them), which writes the lines of its run from its own
    connection to the database as a gzip stream of its own; the streams one
    after another are one gzip file."""
    experiments = connection.execute(
        "SELECT e.id, c.dataset, c.minsup, c.level, e.repetition, e.min_sup, "
        "(SELECT count(*) FROM rule_figures f WHERE f.experiment = e.id) FROM experiments e "
        "JOIN cells c ON c.id = e.cell ORDER BY e.ordinal, e.id").fetchall()
    total = sum(rules for *_, rules in experiments)
    runs, run, counted = [], [], 0
    for *experiment, rules in experiments:
        run.append(experiment)
        counted += rules
        if counted * processes >= total * (len(runs) + 1) and len(runs) < processes - 1:
            runs.append(run)
            run = []
    runs.append(run)
    partial = path + ".partial"
    parts = [f"{partial}.{number}" for number in range(len(runs))]
    # Plain processes without pipes: a writer whose job is killed ends with
    # its part, not waiting for work that never comes.
    writers = [get_context("fork").Process(target=study_db.write_rule_lines,
                                           args=(database, run, part, FLOAT_FORMAT))
               for run, part in zip(runs, parts)]
    try:
        for writer in writers:
            writer.start()
        for writer in writers:
            writer.join()
        if any(writer.exitcode != 0 for writer in writers):
            raise RuntimeError(f"a writer of {path} failed; see above")
        with open(partial, "wb") as handle:
            header = study_db.gzip_compressor()
            handle.write(header.compress((",".join(RULES_COLUMNS) + "\n").encode()))
            handle.write(header.flush())
            for part in parts:
                with open(part, "rb") as lines:
                    shutil.copyfileobj(lines, handle, 1 << 20)
        os.replace(partial, path)
    finally:
        for part in parts:
            if os.path.exists(part):
                os.remove(part)


def _write_rows(cursor, columns, path, each=None):
    """Rows from the database to a CSV file a block at a time; each(row) is
    called for every row, if given. Only the columns named are written."""
    partial = path + ".partial"
    with open(partial, "w", newline="") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(columns)
        while True:
            rows = cursor.fetchmany(10000)
            if not rows:
                break
            if each is not None:
                for row in rows:
                    each(row)
            writer.writerows([FLOAT_FORMAT % value if isinstance(value, float) else value
                              for value in row[:len(columns)]] for row in rows)
    os.replace(partial, path)


PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>body{{font-family:sans-serif;font-size:13px}} table{{border-collapse:collapse}}
th,td{{border:1px solid #bbb;padding:2px 6px;text-align:right}} th{{background:#eee}}
tr:nth-child(even) td{{background:#f7f7f7}}</style></head>
<body><h1>{title}</h1><p>{note}</p>{table}</body></html>
"""


def write_page(table, path, title, note):
    """A table as a web page, for reading it in the report."""
    with open(path, "w") as page:
        page.write(PAGE.format(title=title, note=note,
                               table=table.to_html(index=False, na_rep="",
                                                   float_format=lambda x: f"{x:.4g}")))


def write_tables(connection, database, out_dir, processes=2):
    """The CSV tables and the report's pages, from the database (the file
    database), rules.csv.gz by `processes` writer processes."""
    os.makedirs(os.path.join(out_dir, "pages"), exist_ok=True)
    experiments = experiments_table(connection)
    summary = summary_table(experiments, direct_table(connection))
    summary.to_sql("summary", connection, if_exists="replace", index=False)
    for name, table in (("experiments", experiments), ("summary", summary)):
        design_key_columns(table).to_csv(os.path.join(out_dir, name + ".csv"), index=False,
                                         float_format=FLOAT_FORMAT)
    top, per_cell = write_stability(connection, os.path.join(out_dir, "rule_stability.csv"),
                                    len(summary))
    write_rules(connection, database, os.path.join(out_dir, "rules.csv.gz"), processes)
    write_page(design_key_columns(summary), os.path.join(out_dir, "pages", "summary.html"),
               "Summary per data set, minimum support and level",
               f"{len(summary)} rows; the same table as summary.csv.")
    write_page(top, os.path.join(out_dir, "pages", "rule_stability_top.html"),
               "Rule stability: the rules kept most often",
               f"The first {per_cell} rules of each data set, minimum support and level "
               f"({len(top)} rows); every rule is in rule_stability.csv.")


def publish(cache, database):
    """database as a copy of the cache, which it never changes."""
    partial = database + ".partial"
    shutil.copyfile(cache, partial)
    os.replace(partial, database)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--plan", required=True,
                        help="the study's plan: its experiments and direct runs")
    parser.add_argument("--reader", required=True,
                        help="the program that reads the runs (varnel-read-runs)")
    for option in ("--cache", "--database", "--out-dir"):
        parser.add_argument(option, required=True)
    parser.add_argument("--processes", type=int, default=2,
                        help="processes that write rules.csv.gz")
    args = parser.parse_args(argv)
    started = time.monotonic()
    with open(args.plan) as handle:
        plan = json.load(handle)
    os.makedirs(os.path.dirname(os.path.abspath(args.cache)), exist_ok=True)
    connection = study_db.open_database(args.cache)
    processes = max(1, args.processes)
    read, removed = update_database(connection, plan, args.reader)
    write_tables(connection, args.cache, args.out_dir, processes)
    if plan.get("truth"):
        truth_tables.write_truth(connection, args.out_dir, write_page, FLOAT_FORMAT)
    study_db.close_database(connection, args.cache)
    publish(args.cache, args.database)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"{len(plan['experiments'])} experiments and {len(plan['direct'])} direct runs: "
          f"{read} read, {removed} removed, the rest unchanged; {time.monotonic() - started:.1f} s, "
          f"peak memory {peak:.0f} MB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
