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
import io
import json
import os
import pathlib
import sqlite3
import struct
import subprocess
import tempfile
import zlib
from array import array
from dataclasses import dataclass
from itertools import repeat

LAYOUT_VERSION = 2

# Columns of an experiment's rule table that the database keeps, in the order
# of the rules view: the rule's class and length, its figures on each half,
# and its outcome on the test half.
RULE_FIGURES = ["class", "length", "mined_support", "mined_pvalue", "test_support",
                "test_pvalue", "direction", "significant", "significant_corrected",
                "significant_fdr"]
# outcome column -> its type
OUTCOME_TYPES = {"class": str, "direction": str, "significant": int,
                 "significant_corrected": int, "significant_fdr": int}
# rule_counts column -> the outcome column of which it counts the repetitions
COUNTED = {"kept": "significant", "kept_bonferroni": "significant_corrected",
           "kept_fdr": "significant_fdr"}

# Keys of each kind the reader program codes before it numbers anew; rows of
# a rule table it sends at a time.
KNOWN_KEYS = 250000
CHUNK_ROWS = 2000


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


def add_experiment(connection, loader, cell, repetition, record, record_path, rules_path, sign,
                   chunks):
    """One experiment: its row and, when it succeeded, its rules from its
    rule table, as the RuleChunks that read_runs gives."""
    flat = flatten(record)
    row = {"cell": cell, "repetition": repetition, "record": record_path, "rules": rules_path,
           "signature": sign, "status": flat.pop("status", None) or "failed",
           "min_sup": flat.pop("arguments.mine_min_sup", None)}
    insert_row(connection, "experiments", {**row, **flat})
    (experiment,) = connection.execute(
        "SELECT id FROM experiments WHERE cell = ? AND repetition = ?",
        (cell, repetition)).fetchone()
    for chunk in chunks:
        loader.add(experiment, chunk)
    if row["status"] == "ok":
        counts = ", ".join(f"{name} = {name} + excluded.{name}" for name in COUNTED)
        connection.execute(
            f"INSERT INTO rule_counts (cell, rule, mined, {', '.join(COUNTED)}) "
            f"SELECT ?, x.rule, 1, {', '.join('x.' + name for name in COUNTED)} "
            f"FROM ({_PER_RULE}) AS x WHERE true "
            f"ON CONFLICT (cell, rule) DO UPDATE SET mined = mined + 1, {counts}",
            (cell, experiment))
    return experiment


def _record_from(path, readable, text):
    """An experiment's or direct run's record from its text; one that cannot
    be read is a failed run's."""
    error = text
    if readable:
        try:
            record = json.loads(text)
            if isinstance(record, dict):
                return record
            error = "it holds no object"
        except ValueError as reason:
            error = str(reason)
    return {"status": "failed", "errors": [f"cannot read the record {path}: {error}"]}


def read_record(path):
    try:
        with open(path, "rb") as handle:
            return _record_from(path, True, handle.read().decode())
    except (OSError, ValueError) as error:
        return _record_from(path, False, str(error))


@dataclass
class RuleChunk:
    """Rows of a rule table as the reader program (varnel-read-runs) codes
    them: per row its rank and the codes of its rule, of its pair of figures
    on each half and of its outcome; the keys first met in these rows, in
    the order of their codes (a rule as (its items in alphabetical order,
    its length), a pair as (support, p-value), an outcome as its
    OUTCOME_TYPES fields), and the kinds numbered anew from 0 before them
    (`renumbered`: rules, pairs, outcomes)."""
    renumbered: tuple
    ranks: array
    rules: array
    mined: array
    test: array
    outcomes: array
    new_rules: list
    new_halves: list
    new_outcomes: list


# The reader program's messages: eight little-endian 64-bit integers, the
# first the kind (study/coded_stream.h describes them).
_HEAD = struct.Struct("<8q")
_RECORD, _CHUNK, _END, _FAILURE = 1, 2, 3, 4


class _Reader:
    """The reader program's output, message by message."""

    def __init__(self, process):
        self.process = process
        self.stream = process.stdout

    def bytes(self, count):
        data = self.stream.read(count)
        if len(data) != count:
            self.process.wait()
            raise RuntimeError(f"the reader of the rule tables ended with exit code "
                               f"{self.process.returncode}")
        return data

    def head(self):
        kind, *fields = _HEAD.unpack(self.bytes(_HEAD.size))
        if kind == _FAILURE:
            raise ValueError(self.bytes(fields[1]).decode(errors="replace"))
        return kind, fields

    def record(self, path):
        kind, (readable, size, *_) = self.head()
        if kind != _RECORD:
            raise RuntimeError(f"the reader of the rule tables sent a message of kind {kind} "
                               "where a record was due")
        return _record_from(path, readable, self.bytes(size).decode(errors="replace"))

    def chunks(self):
        while True:
            kind, (renumbered, rows, new_rules, new_halves, new_outcomes, size, _) = self.head()
            if kind == _END:
                return
            if kind != _CHUNK:
                raise RuntimeError(f"the reader of the rule tables sent a message of kind {kind} "
                                   "where rules were due")
            fields = self.bytes(size).decode().split("\0")[:-1]
            pairs, width = 2 * (new_rules + new_halves), len(OUTCOME_TYPES)
            codes = []
            for _ in range(5):
                column = array("q")
                column.frombytes(self.bytes(8 * rows))
                codes.append(column)
            yield RuleChunk(tuple(bool(renumbered >> kind & 1) for kind in range(3)), *codes,
                            list(zip(fields[0:2 * new_rules:2], fields[1:2 * new_rules:2])),
                            list(zip(fields[2 * new_rules:pairs:2],
                                     fields[2 * new_rules + 1:pairs:2])),
                            [tuple(fields[at:at + width])
                             for at in range(pairs, pairs + width * new_outcomes, width)])


def read_runs(items, paths_of, reader_program):
    """(item, record, chunks) for each item in order: the record of the run
    whose (record path, rules path) is paths_of(item), and an iterator of its
    rule table's RuleChunks when it succeeded and has one, which the caller
    takes to its end before the next item. The reader program reads the runs
    ahead of the caller, which enters the ones before meanwhile."""
    items = list(items)
    if not items:
        return
    with tempfile.TemporaryDirectory() as folder:
        listing = os.path.join(folder, "runs")
        with open(listing, "wb") as handle:
            for item in items:
                handle.write(b"".join(os.fsencode(path) + b"\0" for path in paths_of(item)))
        process = subprocess.Popen(
            [reader_program, "--chunk-rows", str(CHUNK_ROWS), "--known-keys", str(KNOWN_KEYS),
             listing], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        try:
            reader = _Reader(process)
            for item in items:
                yield item, reader.record(paths_of(item)[0]), reader.chunks()
        finally:
            process.kill()
            process.wait()
            process.stdout.close()


class Dictionary:
    """Ids of the rows of a dictionary table (rule_texts, half_figures,
    outcomes): looked up by its unique columns, added when new."""

    def __init__(self, connection, table, unique, others=()):
        self.connection = connection
        self.unique = len(unique)
        self.find = (f"SELECT id FROM {table} WHERE "
                     + " AND ".join(f"{quoted(name)} IS ?" for name in unique))
        names = list(unique) + list(others)
        self.add = (f"INSERT INTO {table} ({', '.join(map(quoted, names))}) "
                    f"VALUES ({', '.join('?' * len(names))})")

    def id_of(self, values):
        """The id of the row of these column values (the unique ones first)."""
        found = self.connection.execute(self.find, values[:self.unique]).fetchone()
        return found[0] if found else self.connection.execute(self.add, values).lastrowid


class RuleLoader:
    """Enters RuleChunks as rule rows: the ids of the keys each reader has
    coded, in lists by code, and the dictionary tables for the new keys."""

    def __init__(self, connection):
        self.connection = connection
        self.rules = Dictionary(connection, "rule_texts", ["rule"], ["length"])
        self.halves = Dictionary(connection, "half_figures", ["support", "pvalue"])
        self.outcomes = Dictionary(connection, "outcomes", list(OUTCOME_TYPES))
        self.ids = ([], [], [])  # the ids of the reader's rule, pair and outcome codes

    def add(self, experiment, chunk):
        """The rows of a RuleChunk as rule rows of experiment."""
        rule_ids, half_ids, outcome_ids = self.ids
        for kind, renumbered in zip(self.ids, chunk.renumbered):
            if renumbered:
                kind.clear()
        rule_ids += [self.rules.id_of((canonical, _value(int, length)))
                     for canonical, length in chunk.new_rules]
        half_ids += [self.halves.id_of(tuple(map(_value, (int, float), key)))
                     for key in chunk.new_halves]
        outcome_ids += [self.outcomes.id_of(tuple(map(_value, OUTCOME_TYPES.values(), key)))
                        for key in chunk.new_outcomes]
        self.connection.executemany(
            "INSERT INTO rule_figures VALUES (?, ?, ?, ?, ?, ?)",
            zip(repeat(experiment), chunk.ranks, map(rule_ids.__getitem__, chunk.rules),
                map(half_ids.__getitem__, chunk.mined), map(half_ids.__getitem__, chunk.test),
                map(outcome_ids.__getitem__, chunk.outcomes)))


def _value(kind, text):
    """A field of a rule table as kind; an empty field is NULL."""
    return kind(text) if text != "" else None


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
    # The line end is given: the csv module quotes a line break only when
    # the line end holds it.
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="\r\n").writerow([text, ""])
    return buffer.getvalue()[:-3]


def csv_text(value, float_format):
    """A value of the database as a CSV writer writes it in a row of several
    fields: NULL empty, reals in float_format."""
    if value is None:
        return ""
    return float_format % value if isinstance(value, float) else csv_field(str(value))


def gzip_compressor():
    # wbits 31: a gzip stream; level 4 takes half the time of the usual 6 on
    # rule tables, for 14% more bytes.
    return zlib.compressobj(4, zlib.DEFLATED, 31)


# Lines of rules.csv.gz compressed at once.
LINES_PER_BLOCK = 5000


def write_rule_lines(database, experiments, path, float_format):
    """The lines of rules.csv.gz of these experiments (each its id, then the
    keys that begin its lines), as a gzip stream at path, from a connection of
    its own to the database (a file) that it only reads."""
    connection = sqlite3.connect(f"{pathlib.Path(database).resolve().as_uri()}?mode=ro",
                                 uri=True)
    try:
        lines_of = rule_lines(connection, float_format)
        compressor = gzip_compressor()
        with open(path, "wb") as handle:
            for experiment, *keys in experiments:
                prefix = "".join(csv_text(key, float_format) + "," for key in keys)
                lines = lines_of(experiment)
                while block := lines.fetchmany(LINES_PER_BLOCK):
                    handle.write(compressor.compress(
                        "".join([prefix + line + "\n" for (line,) in block]).encode()))
            handle.write(compressor.flush())
    finally:
        connection.close()


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
