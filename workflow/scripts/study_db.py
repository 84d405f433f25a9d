"""The study's database (SQLite): its layout, and how runs enter and leave it.

Tables (a cell is one data set x minimum support x level):
  cells(id, dataset, minsup, level, ordinal)
  experiments(id, cell, repetition, ordinal, record, rules, signature, min_sup, status,
      then every field of the experiment's record, nested names joined with dots)
  direct(cell, record, signature, then every field of the direct run's record)
  rule_figures(experiment, rank, rule, mined_half, test_half, outcome): one row per rule
      of each successful experiment, in the order of its rule table; the rest are ids of:
  rule_texts(id, rule, length): each rule once, its items in alphabetical order
  half_figures(id, support, pvalue): each pair of a rule's support and p-value on a half
      once (mined_half: on the mining half, test_half: on the test half)
  outcomes(id, class, direction, significant, significant_corrected, significant_fdr):
      each combination once
  rule_counts(cell, rule, mined, kept, kept_bonferroni, kept_fdr): per cell and rule, in
      how many successful repetitions the rule was mined, kept, kept at the Bonferroni
      level and kept under the FDR step; kept up to date as experiments enter and leave
  summary: per cell, written by the aggregation
  layout(version)
Views:
  rules: rule_figures with the keys of its experiment and the rule's text and figures
  rule_stability: rule_counts with the cell's keys, the rule's text and the cell's
      successful repetitions

The rule rows hold ids only: the figures repeat (a rule is mined in many
splits; p-values depend on few counts), so each is stored once. A run's files
are read once: its row keeps their size and time (the signature), and a run
whose files are unchanged is not read again.

The database holds nothing the runs' files do not, so it is filled without a
journal or waiting for the disk; a file beside it marks a fill under way, and
a database found so marked (a job killed, a full disk, a machine that went
down) is built anew."""
import csv
import gzip
import io
import os
import sqlite3
from itertools import islice
from operator import itemgetter

LAYOUT_VERSION = 2

# Columns of an experiment's rule table that the database keeps, in the order
# of the rules view: the rule's class and length, its figures on each half,
# and its outcome on the test half.
RULE_FIGURES = ["class", "length", "mined_support", "mined_pvalue", "test_support",
                "test_pvalue", "direction", "significant", "significant_corrected",
                "significant_fdr"]
# half -> its (support, p-value) columns in the rule table
HALVES = {"mined": ("mined_support", "mined_pvalue"), "test": ("test_support", "test_pvalue")}
# outcome column -> its type
OUTCOME_TYPES = {"class": str, "direction": str, "significant": int,
                 "significant_corrected": int, "significant_fdr": int}
# rule_counts column -> the outcome column of which it counts the repetitions
COUNTED = {"kept": "significant", "kept_bonferroni": "significant_corrected",
           "kept_fdr": "significant_fdr"}

# Rows read from a rule table per insert; keys of each dictionary kept in memory.
BLOCK_ROWS = 2000
KNOWN_KEYS = 100000


def quoted(name):
    """A name in SQL: record fields hold dots."""
    return '"' + name.replace('"', '""') + '"'


_OUTCOME_COLUMNS = ", ".join(f"{quoted(name)} {'TEXT' if kind is str else 'INTEGER'}"
                             for name, kind in OUTCOME_TYPES.items())
_COUNT_COLUMNS = ", ".join(f"{name} INTEGER" for name in COUNTED)

SCHEMA = f"""
CREATE TABLE layout (version INTEGER NOT NULL);
CREATE TABLE cells (id INTEGER PRIMARY KEY, dataset TEXT NOT NULL, minsup TEXT NOT NULL,
    level REAL NOT NULL, ordinal INTEGER, UNIQUE (dataset, minsup, level));
CREATE TABLE experiments (id INTEGER PRIMARY KEY, cell INTEGER NOT NULL REFERENCES cells,
    repetition INTEGER NOT NULL, ordinal INTEGER, record TEXT, rules TEXT, signature TEXT,
    min_sup INTEGER, status TEXT, UNIQUE (cell, repetition));
CREATE INDEX experiments_in_order ON experiments (ordinal);
CREATE TABLE direct (cell INTEGER PRIMARY KEY REFERENCES cells, record TEXT, signature TEXT);
CREATE TABLE rule_texts (id INTEGER PRIMARY KEY, rule TEXT NOT NULL UNIQUE, length INTEGER);
CREATE TABLE half_figures (id INTEGER PRIMARY KEY, support INTEGER, pvalue REAL,
    UNIQUE (support, pvalue));
CREATE TABLE outcomes (id INTEGER PRIMARY KEY, {_OUTCOME_COLUMNS},
    UNIQUE ({", ".join(map(quoted, OUTCOME_TYPES))}));
CREATE TABLE rule_figures (experiment INTEGER NOT NULL, rank INTEGER NOT NULL,
    rule INTEGER NOT NULL, mined_half INTEGER NOT NULL, test_half INTEGER NOT NULL,
    outcome INTEGER NOT NULL, PRIMARY KEY (experiment, rank)) WITHOUT ROWID;
CREATE TABLE rule_counts (cell INTEGER NOT NULL, rule INTEGER NOT NULL, mined INTEGER,
    {_COUNT_COLUMNS}, PRIMARY KEY (cell, rule)) WITHOUT ROWID;
CREATE VIEW rules AS
    SELECT c.dataset, c.minsup, c.level, e.repetition, e.min_sup, f.rank, t.rule,
        o.class, t.length, m.support AS mined_support, m.pvalue AS mined_pvalue,
        h.support AS test_support, h.pvalue AS test_pvalue,
        {", ".join("o." + quoted(name) for name in OUTCOME_TYPES if name != "class")}
    FROM rule_figures f JOIN experiments e ON e.id = f.experiment JOIN cells c ON c.id = e.cell
        JOIN rule_texts t ON t.id = f.rule JOIN half_figures m ON m.id = f.mined_half
        JOIN half_figures h ON h.id = f.test_half JOIN outcomes o ON o.id = f.outcome;
CREATE VIEW rule_stability AS
    SELECT c.dataset, c.minsup, c.level, t.rule, r.repetitions,
        s.mined, {", ".join("s." + name for name in COUNTED)}, c.ordinal AS cell_ordinal
    FROM rule_counts s JOIN cells c ON c.id = s.cell JOIN rule_texts t ON t.id = s.rule
        JOIN (SELECT cell, count(*) AS repetitions FROM experiments WHERE status = 'ok'
              GROUP BY cell) r ON r.cell = s.cell;
"""


def filling_mark(path):
    """The file that marks a fill of the database at path under way."""
    return path + ".filling"


def open_database(path):
    """The database at path, ready to be filled: made anew when it is missing,
    damaged, of another layout or left by a fill that did not finish (it
    holds nothing that the runs' files do not). close_database ends the fill."""
    mark = filling_mark(path)
    if os.path.exists(mark):
        _remove(path)
    _write_durably(mark)
    for attempt in (1, 2):
        try:
            connection = sqlite3.connect(path, isolation_level=None)
            version = connection.execute(
                "SELECT version FROM layout").fetchone() if _has_layout(connection) else None
            if version == (LAYOUT_VERSION,):
                return _for_filling(connection)
            if version is None and _is_empty(connection):
                connection.executescript(f"BEGIN; {SCHEMA} "
                                         f"INSERT INTO layout VALUES ({LAYOUT_VERSION}); COMMIT;")
                return _for_filling(connection)
            connection.close()
        except sqlite3.DatabaseError:
            if attempt == 2:
                raise
        _remove(path)
    raise sqlite3.DatabaseError(f"cannot make the database {path}")


def _for_filling(connection):
    # Nothing to roll back to: a fill that stops half-way leaves the mark,
    # and the next one starts from nothing.
    connection.execute("PRAGMA journal_mode = OFF")
    connection.execute("PRAGMA synchronous = OFF")
    connection.execute("PRAGMA cache_size = -8000")  # 8 MB at most
    return connection


def close_database(connection, path):
    """Ends the fill: the database on the disk, then the mark removed."""
    connection.close()
    with open(path, "rb") as handle:
        os.fsync(handle.fileno())
    os.remove(filling_mark(path))
    _sync_folder(path)


def _write_durably(path):
    with open(path, "w") as handle:
        os.fsync(handle.fileno())
    _sync_folder(path)


def _sync_folder(path):
    folder = os.open(os.path.dirname(os.path.abspath(path)), os.O_RDONLY)
    try:
        os.fsync(folder)
    finally:
        os.close(folder)


def _remove(path):
    for name in (path, path + "-journal", path + "-wal", path + "-shm"):
        if os.path.lexists(name):
            os.remove(name)


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


def insert_row(connection, table, row):
    """Inserts row, adding a column for any field the table does not have."""
    known = set(columns(connection, table))
    for name in row:
        if name not in known:
            connection.execute(f"ALTER TABLE {quoted(table)} ADD COLUMN {quoted(name)}")
    connection.execute(f"INSERT INTO {quoted(table)} ({', '.join(map(quoted, row))}) "
                       f"VALUES ({', '.join('?' * len(row))})", list(row.values()))


def cell_ids(connection, cells):
    """The id of each (dataset, minsup, level), in the order given; cells not
    given are removed with their runs. Returns the ids and the number of
    experiments removed."""
    ids, removed = [], 0
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
                removed += 1
            connection.execute("DELETE FROM direct WHERE cell = ?", (cell,))
            connection.execute("DELETE FROM cells WHERE id = ?", (cell,))
    return ids, removed


# An experiment's rules, each once, with the outcome columns it is counted by.
_PER_RULE = ("SELECT f.rule, "
             + ", ".join(f"max(o.{column}) AS {name}" for name, column in COUNTED.items())
             + " FROM rule_figures f JOIN outcomes o ON o.id = f.outcome WHERE f.experiment = ? "
             "GROUP BY f.rule")


def remove_experiment(connection, experiment):
    """An experiment and its rules, its repetition taken off the rule counts."""
    found = connection.execute("SELECT cell FROM experiments WHERE id = ?",
                               (experiment,)).fetchone()
    if found is None:
        return
    changes = ", ".join(f"{name} = rule_counts.{name} - x.{name}" for name in COUNTED)
    connection.execute(f"UPDATE rule_counts SET mined = rule_counts.mined - 1, {changes} "
                       f"FROM ({_PER_RULE}) AS x WHERE rule_counts.cell = ? "
                       "AND rule_counts.rule = x.rule", (experiment, found[0]))
    connection.execute("DELETE FROM rule_counts WHERE cell = ? AND mined = 0", found)
    connection.execute("DELETE FROM rule_figures WHERE experiment = ?", (experiment,))
    connection.execute("DELETE FROM experiments WHERE id = ?", (experiment,))


def add_experiment(connection, loader, cell, repetition, record, record_path, rules_path, sign):
    """One experiment: its row and, when it succeeded, its rules, read from
    its rule table a block at a time."""
    flat = flatten(record)
    row = {"cell": cell, "repetition": repetition, "record": record_path, "rules": rules_path,
           "signature": sign, "status": flat.pop("status", None) or "failed",
           "min_sup": flat.pop("arguments.mine_min_sup", None)}
    insert_row(connection, "experiments", {**row, **flat})
    (experiment,) = connection.execute(
        "SELECT id FROM experiments WHERE cell = ? AND repetition = ?",
        (cell, repetition)).fetchone()
    if row["status"] == "ok" and os.path.isfile(rules_path):
        _add_rules(connection, loader, experiment, rules_path)
        counts = ", ".join(f"{name} = {name} + excluded.{name}" for name in COUNTED)
        connection.execute(
            f"INSERT INTO rule_counts (cell, rule, mined, {', '.join(COUNTED)}) "
            f"SELECT ?, x.rule, 1, {', '.join('x.' + name for name in COUNTED)} "
            f"FROM ({_PER_RULE}) AS x WHERE true "
            f"ON CONFLICT (cell, rule) DO UPDATE SET mined = mined + 1, {counts}",
            (cell, experiment))
    return experiment


class Dictionary:
    """Ids of the rows of a dictionary table (rule_texts, half_figures,
    outcomes) by the key they are read by: the keys met lately in memory
    (`known`), the others looked up in the table by its unique columns, and
    new rows added."""

    def __init__(self, connection, table, unique, others=()):
        self.connection = connection
        self.known = {}
        self.unique = len(unique)
        self.find = (f"SELECT id FROM {table} WHERE "
                     + " AND ".join(f"{quoted(name)} IS ?" for name in unique))
        names = list(unique) + list(others)
        self.add = (f"INSERT INTO {table} ({', '.join(map(quoted, names))}) "
                    f"VALUES ({', '.join('?' * len(names))})")

    def id_of(self, key, values):
        """The id of the row of these column values (the unique ones first),
        remembered under key."""
        found = self.connection.execute(self.find, values[:self.unique]).fetchone()
        ident = found[0] if found else self.connection.execute(self.add, values).lastrowid
        remember(self.known, key, ident)
        return ident


def remember(known, key, ident):
    """known[key] = ident, in a map that is emptied when full."""
    if len(known) >= KNOWN_KEYS:
        known.clear()
    known[key] = ident


class RuleLoader:
    """The dictionaries of the rule rows, kept from one experiment to the
    next. The cells of one split write a rule with its items in the same order
    and with the same figures, so a rule is known by its text as written in
    this split (new_split forgets these), and across splits by its items in
    alphabetical order; a pair of figures and an outcome are written alike in
    every split."""

    def __init__(self, connection):
        self.rules = Dictionary(connection, "rule_texts", ["rule"], ["length"])
        self.rules_as_written = {}
        self.halves = Dictionary(connection, "half_figures", ["support", "pvalue"])
        self.outcomes = Dictionary(connection, "outcomes", list(OUTCOME_TYPES))

    def new_split(self):
        self.rules_as_written.clear()


def _value(kind, text):
    """A field of a rule table as kind; an empty field is NULL."""
    return kind(text) if text != "" else None


def _add_rules(connection, loader, experiment, rules_path):
    """The rule table's rows as rule rows of experiment, a block at a time."""
    rules, halves, outcomes = loader.rules, loader.halves, loader.outcomes
    as_written, known_halves, known_outcomes = (loader.rules_as_written, halves.known,
                                                outcomes.known)

    def rule_id(row):
        text = row[rule]
        canonical = canonical_rule(text)
        ident = rules.known.get(canonical) or rules.id_of(
            canonical, (canonical, _value(int, row[at["length"]])))
        remember(as_written, text, ident)
        return ident

    def half_id(key, support, pvalue):
        return halves.id_of(key, (_value(int, support), _value(float, pvalue)))

    def outcome_id(key):
        return outcomes.id_of(key, tuple(map(_value, OUTCOME_TYPES.values(), key)))

    opener = gzip.open if rules_path.endswith(".gz") else open
    with opener(rules_path, "rt", newline="") as handle:
        reader = csv.reader(handle)
        header = next(reader, [])
        if "rank" not in header or "rule" not in header:
            raise ValueError(f"{rules_path}: no rank or rule column")
        # A column the table lacks reads as empty, as does an empty field.
        at = {name: header.index(name) if name in header else len(header)
              for name in ["rank", "rule"] + RULE_FIGURES}
        rows = reader if all(name in header for name in at) else (row + [""] for row in reader)
        rank, rule = at["rank"], at["rule"]
        (mined_support, mined_pvalue), (test_support, test_pvalue) = (
            (at[support], at[pvalue]) for support, pvalue in HALVES.values())
        outcome_key = itemgetter(*(at[name] for name in OUTCOME_TYPES))
        # A pair of figures is known by its two fields joined with a comma,
        # which neither number holds.
        while block := [
                (experiment, int(row[rank]), as_written.get(row[rule]) or rule_id(row),
                 known_halves.get(mined := row[mined_support] + "," + row[mined_pvalue])
                 or half_id(mined, row[mined_support], row[mined_pvalue]),
                 known_halves.get(test := row[test_support] + "," + row[test_pvalue])
                 or half_id(test, row[test_support], row[test_pvalue]),
                 known_outcomes.get(outcome_key(row)) or outcome_id(outcome_key(row)))
                for row in islice(rows, BLOCK_ROWS)]:
            connection.executemany("INSERT INTO rule_figures VALUES (?, ?, ?, ?, ?, ?)", block)


def canonical_rule(text):
    """The items of a rule in a fixed order: the miner numbers items per
    split, so one rule may be written in another order in another split."""
    return " & ".join(sorted(str(text).split(" & ")))


def add_direct(connection, cell, record, record_path, sign):
    connection.execute("DELETE FROM direct WHERE cell = ?", (cell,))
    insert_row(connection, "direct", {"cell": cell, "record": record_path, "signature": sign,
                                      **flatten(record)})


def remove_unused(connection):
    """Rule texts, figures and outcomes that no rule row uses any more."""
    connection.execute("DELETE FROM rule_texts WHERE id NOT IN (SELECT rule FROM rule_counts)")
    connection.execute("DELETE FROM half_figures WHERE id NOT IN "
                       "(SELECT mined_half FROM rule_figures UNION "
                       "SELECT test_half FROM rule_figures)")
    connection.execute("DELETE FROM outcomes WHERE id NOT IN "
                       "(SELECT DISTINCT outcome FROM rule_figures)")


# Characters that may make a CSV writer quote a field.
_MAY_QUOTE = ',"\n\r'


def csv_field(text):
    """A text as the csv module writes it in a row of several fields."""
    if not any(character in text for character in _MAY_QUOTE):
        return text
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="").writerow([text, ""])
    return buffer.getvalue()[:-1]


def csv_text(value, float_format):
    """A value of the database as a CSV writer writes it in a row of several
    fields: NULL empty, reals in float_format."""
    if value is None:
        return ""
    return float_format % value if isinstance(value, float) else csv_field(str(value))


def rule_lines(connection, float_format):
    """The rule rows of an experiment as CSV lines: a function of the
    experiment's id that gives a cursor of 1-tuples, one per rule in the order
    of its rows, each its rank, its rule and the figures of the rules view,
    joined with commas (without a line end), every field as csv_text writes
    it."""
    connection.create_function("csv_text", 1, lambda value: csv_text(value, float_format),
                               deterministic=True)
    # The lines look the temporary tables up at random: 24 MB of them are
    # kept in memory (the bundled study's take 16), the rest in a file.
    connection.execute("PRAGMA temp.cache_size = -24000")
    # The text of each rule, each figure pair and each outcome (its class,
    # and the rest), once, in temporary tables.
    texts = {"rule_csv": ("rule, length", "SELECT id, csv_text(rule), csv_text(length) "
                                          "FROM rule_texts"),
             "half_csv": ("text", "SELECT id, csv_text(support) || ',' || csv_text(pvalue) "
                                  "FROM half_figures"),
             "outcome_csv": ("class, rest", "SELECT id, csv_text(class), " + " || ',' || ".join(
                 f"csv_text({quoted(name)})" for name in OUTCOME_TYPES if name != "class")
                 + " FROM outcomes")}
    for table, (columns, select) in texts.items():
        connection.execute(f"DROP TABLE IF EXISTS temp.{table}")
        connection.execute(f"CREATE TEMP TABLE {table} (id INTEGER PRIMARY KEY, {columns})")
        connection.execute(f"INSERT INTO temp.{table} {select}")
    query = ("SELECT f.rank || ',' || t.rule || ',' || o.class || ',' || t.length || ',' || "
             "m.text || ',' || h.text || ',' || o.rest FROM rule_figures f "
             "JOIN temp.rule_csv t ON t.id = f.rule JOIN temp.half_csv m ON m.id = f.mined_half "
             "JOIN temp.half_csv h ON h.id = f.test_half "
             "JOIN temp.outcome_csv o ON o.id = f.outcome WHERE f.experiment = ? ORDER BY f.rank")
    return lambda experiment: connection.execute(query, (experiment,))
