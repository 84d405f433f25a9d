"""The study's database (SQLite): its layout, and how runs enter and leave it.

Tables (a cell is one data set x minimum support x level):
  cells(id, dataset, minsup, level, ordinal)
  experiments(id, cell, repetition, ordinal, record, rules, signature, min_sup, status,
      then every field of the experiment's record, nested names joined with dots)
  direct(cell, record, signature, then every field of the direct run's record)
  rule_texts(id, rule): each rule once, its items in alphabetical order
  rule_figures(experiment, rank, cell, rule, the figures below): one row per rule of each
      successful experiment, indexed by cell and rule
  summary: per cell, written by the aggregation
  layout(version)
Views:
  rules: rule_figures with the keys of its experiment and the rule's text
  rule_stability: per cell and rule, in how many successful repetitions the rule was mined,
      kept, kept at the Bonferroni level and kept under the FDR step

A run's files are read once: its row keeps their size and time (the signature),
and a run whose files are unchanged is not read again."""
import csv
import gzip
import os
import sqlite3

LAYOUT_VERSION = 1

# Columns of an experiment's rule table that the database keeps, and their types.
RULE_TYPES = {"class": str, "length": int, "mined_support": int, "mined_pvalue": float,
              "test_support": int, "test_pvalue": float, "direction": str, "significant": int,
              "significant_corrected": int, "significant_fdr": int}
RULE_FIGURES = list(RULE_TYPES)


def quoted(name):
    """A name in SQL: record fields hold dots."""
    return '"' + name.replace('"', '""') + '"'


SQL_TYPES = {str: "TEXT", int: "INTEGER", float: "REAL"}

SCHEMA = f"""
CREATE TABLE layout (version INTEGER NOT NULL);
CREATE TABLE cells (id INTEGER PRIMARY KEY, dataset TEXT NOT NULL, minsup TEXT NOT NULL,
    level REAL NOT NULL, ordinal INTEGER, UNIQUE (dataset, minsup, level));
CREATE TABLE experiments (id INTEGER PRIMARY KEY, cell INTEGER NOT NULL REFERENCES cells,
    repetition INTEGER NOT NULL, ordinal INTEGER, record TEXT, rules TEXT, signature TEXT,
    min_sup INTEGER, status TEXT, UNIQUE (cell, repetition));
CREATE INDEX experiments_in_order ON experiments (ordinal);
CREATE TABLE direct (cell INTEGER PRIMARY KEY REFERENCES cells, record TEXT, signature TEXT);
CREATE TABLE rule_texts (id INTEGER PRIMARY KEY, rule TEXT NOT NULL UNIQUE);
CREATE TABLE rule_figures (experiment INTEGER NOT NULL, rank INTEGER NOT NULL,
    cell INTEGER NOT NULL, rule INTEGER NOT NULL,
    {", ".join(f"{quoted(name)} {SQL_TYPES[kind]}" for name, kind in RULE_TYPES.items())},
    PRIMARY KEY (experiment, rank)) WITHOUT ROWID;
CREATE INDEX rule_figures_by_cell_and_rule ON rule_figures (cell, rule, experiment);
CREATE VIEW rules AS
    SELECT c.dataset, c.minsup, c.level, e.repetition, e.min_sup, f.rank, t.rule,
        {", ".join("f." + quoted(name) for name in RULE_FIGURES)}
    FROM rule_figures f JOIN experiments e ON e.id = f.experiment JOIN cells c ON c.id = f.cell
        JOIN rule_texts t ON t.id = f.rule;
CREATE VIEW rule_stability AS
    SELECT c.dataset, c.minsup, c.level, t.rule,
        (SELECT count(*) FROM experiments e WHERE e.cell = s.cell AND e.status = 'ok')
            AS repetitions,
        s.mined, s.kept, s.kept_bonferroni, s.kept_fdr, c.ordinal AS cell_ordinal
    FROM (SELECT cell, rule, count(*) AS mined, sum(kept) AS kept,
              sum(kept_bonferroni) AS kept_bonferroni, sum(kept_fdr) AS kept_fdr
          FROM (SELECT cell, rule, experiment, max(significant) AS kept,
                    max(significant_corrected) AS kept_bonferroni,
                    max(significant_fdr) AS kept_fdr
                FROM rule_figures GROUP BY cell, rule, experiment)
          GROUP BY cell, rule) s
    JOIN cells c ON c.id = s.cell JOIN rule_texts t ON t.id = s.rule;
"""


def open_database(path):
    """The database at path, made anew when it is missing, damaged or of
    another layout (it holds nothing that the runs' files do not)."""
    for attempt in (1, 2):
        try:
            connection = sqlite3.connect(path, isolation_level=None)
            connection.execute("PRAGMA synchronous = NORMAL")
            connection.execute("PRAGMA cache_size = -16000")  # 16 MB at most
            version = connection.execute(
                "SELECT version FROM layout").fetchone() if _has_layout(connection) else None
            if version == (LAYOUT_VERSION,):
                return connection
            if version is None and _is_empty(connection):
                connection.executescript(SCHEMA)
                connection.execute("INSERT INTO layout VALUES (?)", (LAYOUT_VERSION,))
                return connection
            connection.close()
        except sqlite3.DatabaseError:
            if attempt == 2:
                raise
        os.remove(path)
    raise sqlite3.DatabaseError(f"cannot make the database {path}")


def _has_layout(connection):
    return connection.execute(
        "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'layout'").fetchone()


def _is_empty(connection):
    return not connection.execute("SELECT 1 FROM sqlite_master").fetchone()


def signature(*paths):
    """Size and modification time of each file that exists."""
    parts = []
    for path in paths:
        try:
            status = os.stat(path)
            parts.append(f"{status.st_size}:{status.st_mtime_ns}")
        except OSError:
            parts.append("-")
    return " ".join(parts)


def flatten(record, prefix=""):
    """A record's fields with nested names joined with dots; lists of values
    joined with '; '."""
    flat = {}
    for key, value in record.items():
        name = f"{prefix}{key}"
        if isinstance(value, dict):
            flat.update(flatten(value, name + "."))
        elif isinstance(value, list):
            flat[name] = "; ".join(map(str, value))
        else:
            flat[name] = value
    return flat


def columns(connection, table):
    return [row[1] for row in connection.execute(f"PRAGMA table_info({quoted(table)})")]


def _insert_row(connection, table, row):
    """Inserts row, adding a column for any field the table does not have."""
    known = set(columns(connection, table))
    for name in row:
        if name not in known:
            connection.execute(f"ALTER TABLE {quoted(table)} ADD COLUMN {quoted(name)}")
    connection.execute(f"INSERT INTO {quoted(table)} ({', '.join(map(quoted, row))}) "
                       f"VALUES ({', '.join('?' * len(row))})", list(row.values()))


def cell_ids(connection, cells):
    """The id of each (dataset, minsup, level), in the order given; cells not
    given are removed with their runs."""
    ids = []
    for ordinal, (dataset, minsup, level) in enumerate(cells):
        connection.execute("INSERT OR IGNORE INTO cells (dataset, minsup, level) VALUES (?, ?, ?)",
                           (dataset, minsup, level))
        (cell,) = connection.execute(
            "SELECT id FROM cells WHERE dataset = ? AND minsup = ? AND level = ?",
            (dataset, minsup, level)).fetchone()
        connection.execute("UPDATE cells SET ordinal = ? WHERE id = ?", (ordinal, cell))
        ids.append(cell)
    for (cell,) in connection.execute("SELECT id FROM cells").fetchall():
        if cell not in ids:
            for (experiment,) in connection.execute(
                    "SELECT id FROM experiments WHERE cell = ?", (cell,)).fetchall():
                remove_experiment(connection, experiment)
            connection.execute("DELETE FROM direct WHERE cell = ?", (cell,))
            connection.execute("DELETE FROM cells WHERE id = ?", (cell,))
    return ids


def remove_experiment(connection, experiment):
    connection.execute("DELETE FROM rule_figures WHERE experiment = ?", (experiment,))
    connection.execute("DELETE FROM experiments WHERE id = ?", (experiment,))


def add_experiment(connection, cell, repetition, record, record_path, rules_path, sign):
    """One experiment: its row and, when it succeeded, its rules, read from
    its rule table a block at a time."""
    flat = flatten(record)
    row = {"cell": cell, "repetition": repetition, "record": record_path, "rules": rules_path,
           "signature": sign, "status": flat.pop("status", None) or "failed",
           "min_sup": flat.pop("arguments.mine_min_sup", None)}
    _insert_row(connection, "experiments", {**row, **flat})
    (experiment,) = connection.execute(
        "SELECT id FROM experiments WHERE cell = ? AND repetition = ?",
        (cell, repetition)).fetchone()
    if row["status"] == "ok" and os.path.isfile(rules_path):
        _add_rules(connection, experiment, cell, rules_path)


def _add_rules(connection, experiment, cell, rules_path):
    figures = ", ".join(map(quoted, RULE_FIGURES))
    connection.execute(f"CREATE TEMP TABLE IF NOT EXISTS staging (rank INTEGER, rule TEXT, "
                       f"{figures})")
    connection.execute("DELETE FROM staging")
    opener = gzip.open if rules_path.endswith(".gz") else open
    with opener(rules_path, "rt", newline="") as handle:
        rows = csv.reader(handle)
        header = next(rows, [])
        rank, rule = header.index("rank"), header.index("rule")
        # A column the table lacks is NULL, as is an empty cell.
        columns = [(header.index(name) if name in header else None, kind)
                   for name, kind in RULE_TYPES.items()]
        block = []
        for row in rows:
            block.append([int(row[rank]), canonical_rule(row[rule])] +
                         [kind(row[at]) if at is not None and row[at] != "" else None
                          for at, kind in columns])
            if len(block) == 10000:
                _stage(connection, block)
                block = []
        _stage(connection, block)
    connection.execute("INSERT OR IGNORE INTO rule_texts (rule) SELECT rule FROM staging")
    connection.execute(
        f"INSERT INTO rule_figures (experiment, rank, cell, rule, {figures}) "
        f"SELECT ?, s.rank, ?, t.id, {', '.join('s.' + quoted(name) for name in RULE_FIGURES)} "
        "FROM staging s JOIN rule_texts t ON t.rule = s.rule", (experiment, cell))


def _stage(connection, block):
    if block:
        connection.executemany(
            f"INSERT INTO staging VALUES ({', '.join('?' * (len(RULE_FIGURES) + 2))})", block)


def canonical_rule(text):
    """The items of a rule in a fixed order: the miner numbers items per
    split, so one rule may be written in another order in another split."""
    return " & ".join(sorted(str(text).split(" & ")))


def add_direct(connection, cell, record, record_path, sign):
    connection.execute("DELETE FROM direct WHERE cell = ?", (cell,))
    _insert_row(connection, "direct", {"cell": cell, "record": record_path, "signature": sign,
                                       **flatten(record)})


def remove_unused_rule_texts(connection):
    connection.execute("DELETE FROM rule_texts WHERE id NOT IN "
                       "(SELECT DISTINCT rule FROM rule_figures)")
