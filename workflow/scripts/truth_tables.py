"""The truth study's part of the database and its table: every repetition of a
generated setting judged per procedure (truth_run), filled run by run like
the experiments (a run whose judged file is unchanged is not read again), and
per setting x design x level x procedure the figures of truth.csv.

Tables (made anew, and every run read again, when an earlier layout left
them without a column they need: they hold nothing the judged files do not):
  truth_runs(cell, repetition, record, signature, planted, effective)
  truth(cell, repetition, procedure, position, discoveries, false_discoveries,
      direction_errors, redundant, associated, recovered, power, then every
      other figure the judged file gives a procedure): one row per procedure
      judged in a run
  truth_summary: the rows of truth.csv, with the cells' design keys (minsup)
      in the place of the design's three columns
"""
import json
import math
import os

import sqlite3

import pandas as pd

import study_db
from study_config import design_key_columns

SCHEMA = """
CREATE TABLE IF NOT EXISTS truth_runs (cell INTEGER NOT NULL, repetition INTEGER NOT NULL,
    record TEXT, signature TEXT, planted INTEGER, effective INTEGER,
    PRIMARY KEY (cell, repetition));
CREATE TABLE IF NOT EXISTS truth (cell INTEGER NOT NULL, repetition INTEGER NOT NULL,
    procedure TEXT NOT NULL, position INTEGER, discoveries INTEGER, false_discoveries INTEGER,
    direction_errors INTEGER, redundant INTEGER, associated INTEGER, recovered INTEGER,
    power REAL, PRIMARY KEY (cell, repetition, procedure));
"""
TABLES = ("truth", "truth_runs")
# A figure of the judged file -> its column, where the two differ.
COLUMNS_OF = {"false": "false_discoveries", "direction": "direction_errors"}
Z_95 = 1.959963984540054  # the standard normal's 97.5% quantile


def wilson_interval(errors, runs, z=Z_95):
    """The Wilson score interval of a proportion errors / runs; (None, None)
    for no runs."""
    if runs == 0:
        return None, None
    share = errors / runs
    centre = (share + z * z / (2 * runs)) / (1 + z * z / runs)
    half = z / (1 + z * z / runs) * math.sqrt(share * (1 - share) / runs +
                                              z * z / (4 * runs * runs))
    return max(0.0, centre - half), min(1.0, centre + half)


def _make_tables(connection):
    """The truth tables, made anew when they lack a column of SCHEMA."""
    reference = sqlite3.connect(":memory:")
    reference.executescript(SCHEMA)
    def lacks_a_column(table):
        present = set(study_db.columns(connection, table))
        return present and not set(study_db.columns(reference, table)) <= present

    if any(lacks_a_column(table) for table in TABLES):
        for table in TABLES:
            connection.execute(f"DROP TABLE IF EXISTS {table}")
    reference.close()
    for statement in SCHEMA.split(";"):  # executescript would commit the fill's transaction
        connection.execute(statement)


def _read_judged(path):
    try:
        with open(path) as handle:
            judged = json.load(handle)
        return judged if isinstance(judged.get("procedures"), dict) else None
    except (OSError, ValueError, AttributeError):
        return None


def _replace_run(connection, cell, repetition, path, sign):
    _remove_run(connection, cell, repetition)
    judged = _read_judged(path)
    connection.execute("INSERT INTO truth_runs VALUES (?, ?, ?, ?, ?, ?)",
                       (cell, repetition, path, sign, judged and judged.get("planted"),
                        judged and judged.get("effective")))
    for position, (procedure, counts) in enumerate((judged or {}).get("procedures", {}).items()):
        fields = study_db.flatten(counts) if isinstance(counts, dict) else {}
        study_db.insert_row(connection, "truth", {
            "cell": cell, "repetition": repetition, "procedure": procedure, "position": position,
            **{COLUMNS_OF.get(name, name): value for name, value in fields.items()}})


def _remove_run(connection, cell, repetition):
    for table in TABLES:
        connection.execute(f"DELETE FROM {table} WHERE cell = ? AND repetition = ?",
                           (cell, repetition))


def update_truth(connection, jobs, cell_of):
    """Brings the truth tables to the plan's judged runs (jobs: dataset,
    minsup, level, repetition, judged); cell_of maps (dataset, minsup, level)
    to a cell id. Returns the number of runs read."""
    _make_tables(connection)
    wanted = {(cell_of[(job["dataset"], job["minsup"], float(job["level"]))],
               job["repetition"]): job["judged"] for job in jobs}
    known = {(cell, repetition): sign for cell, repetition, sign in
             connection.execute("SELECT cell, repetition, signature FROM truth_runs")}
    for key in known:
        if key not in wanted:
            _remove_run(connection, *key)
    read = 0
    for (cell, repetition), path in wanted.items():
        sign = study_db.signature(path)
        if known.get((cell, repetition)) != sign:
            _replace_run(connection, cell, repetition, path, sign)
            read += 1
    return read


SUMMARY_QUERY = """
SELECT c.dataset, c.minsup, c.level, t.procedure, count(*) AS n, max(r.planted) AS planted,
    max(r.effective) AS effective, avg(t.discoveries) AS discoveries_mean,
    avg(t.false_discoveries) AS false_mean, avg(t.direction_errors) AS direction_errors,
    avg(t.redundant) AS redundant_mean, avg(t.associated) AS associated_mean,
    sum(t.false_discoveries > 0) AS erring,
    sum(t.false_discoveries + coalesce(t.direction_errors, 0) > 0) AS erring_directional,
    avg(CAST(t.false_discoveries AS REAL) / max(t.discoveries, 1)) AS fdp,
    avg(t.power) AS power
FROM truth t JOIN truth_runs r ON r.cell = t.cell AND r.repetition = t.repetition
    JOIN cells c ON c.id = t.cell
GROUP BY t.cell, t.procedure ORDER BY c.ordinal, min(t.position), t.procedure
"""
COLUMNS = ["dataset", "minsup", "level", "procedure", "n", "planted", "effective",
           "discoveries_mean", "false_mean", "direction_errors", "redundant_mean",
           "associated_mean", "fwer", "fwer_low", "fwer_high", "fwer_directional",
           "fwer_directional_low", "fwer_directional_high", "fdp", "power"]


def truth_summary(connection):
    """Per setting x minimum support x level x procedure, over the runs in
    which it was judged: the planted rules and those that are effects of
    their own; mean discoveries, false discoveries, direction errors,
    redundant and associated rules; the family-wise error rate (share of runs
    with a false discovery) and its 95% Wilson interval, and the same
    counting direction errors too (fwer_directional); the false discovery
    proportion (mean of false / max(discoveries, 1)); the power (mean share
    of the planted effects recovered, empty without any)."""
    _make_tables(connection)
    table = pd.read_sql_query(SUMMARY_QUERY, connection)
    for rate, erring in (("fwer", "erring"), ("fwer_directional", "erring_directional")):
        table[rate] = table[erring] / table["n"]
        bounds = [wilson_interval(int(errors), int(runs))
                  for errors, runs in zip(table[erring], table["n"])]
        table[rate + "_low"] = [low for low, _ in bounds]
        table[rate + "_high"] = [high for _, high in bounds]
    return table[COLUMNS]


def write_truth(connection, out_dir, write_page, float_format):
    """truth.csv, the table truth_summary and the report's page pages/truth.html."""
    summary = truth_summary(connection)
    summary.to_sql("truth_summary", connection, if_exists="replace", index=False)
    # The design keys of the cells as the design's columns.
    table = design_key_columns(summary)
    table.to_csv(os.path.join(out_dir, "truth.csv"), index=False, float_format=float_format)
    write_page(table, os.path.join(out_dir, "pages", "truth.html"),
               "Truth: each procedure judged against the generated data's truth",
               f"{len(summary)} rows; the same table as truth.csv. minsup, top_k, share: the "
               "design (the minimum support or the top k rules mined, and the mining share); "
               "effective: planted rules "
               "that are effects of their own; direction_errors: mean rules kept whose true "
               "rate lies on the other side of the overall rate from the one they claim; "
               "fwer: share of the data sets with at least one false discovery, with its 95% "
               "Wilson interval (fwer_low, fwer_high); fwer_directional: the same, counting "
               "direction errors too; fdp: mean false discovery proportion; power: mean "
               "share of the planted effects recovered.")
    return summary
