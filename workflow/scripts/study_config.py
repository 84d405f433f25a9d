"""The study's config and grid: the one-line message for a config error, the
files the config names, the labels of parameter values in paths, the split
seeds, and minimum supports in records."""
import hashlib
import math
import os


def value_label(value):
    """The text of a minimum support or level in a folder name: whole numbers
    as such, fractions in Python's shortest exact form (0.02, 1e-05)."""
    if isinstance(value, float) and value.is_integer() and value >= 1:
        value = int(value)
    return str(value) if isinstance(value, int) else repr(float(value))


def parse_value(label):
    """The number a label stands for."""
    return int(label) if label.isdigit() else float(label)


# The share of each stratum the holdout's mining part gets unless the config
# names others (varnel's own default).
DEFAULT_SHARE = 0.5


class Design:
    """How a cell mines and splits: a minimum support (its label as
    configured) or top-k mining, and the mining share. Its label names its
    folders: "minsup30" or "top100", then "_share0.3" for a share other than
    the default; the direct runs, which mine the whole data set, have the
    label without the share."""

    def __init__(self, minsup=None, top_k=None, share=DEFAULT_SHARE):
        self.minsup = minsup  # a label (value_label), or None under top-k
        self.top_k = top_k
        self.share = share

    @property
    def mining(self):
        return f"minsup{self.minsup}" if self.top_k is None else f"top{self.top_k}"

    @property
    def label(self):
        return self.mining + ("" if self.share == DEFAULT_SHARE else
                              f"_share{value_label(self.share)}")

    def mining_options(self):
        """The job scripts' options for the mining: --minsup LABEL or --top-k K."""
        return ["--minsup", self.minsup] if self.top_k is None else ["--top-k", str(self.top_k)]

    @property
    def key(self):
        """The design as the study's plan and database key a cell by it, in
        the place of the minimum support: the minimum support's label (so a
        study of minimum supports alone keys its cells as before), or
        "top" and K; then "@" and the mining share when it is not the
        default. design_of_key reads it back."""
        mining = self.minsup if self.top_k is None else f"top{self.top_k}"
        return mining + ("" if self.share == DEFAULT_SHARE else f"@{value_label(self.share)}")

    def describe(self):
        """The design in words, for titles and legends."""
        mining = (f"minimum support {self.minsup}" if self.top_k is None
                  else f"top {self.top_k} rules")
        return mining + ("" if self.share == DEFAULT_SHARE else f", mining share {self.share:g}")

    def columns(self):
        """The design's columns in the study's tables: the minimum support as
        configured (empty under top-k), top_k (empty without it) and the
        mining share."""
        return {"minsup": self.minsup, "top_k": self.top_k, "share": self.share}


def design_of_key(key):
    """The design a cell's key (Design.key) stands for."""
    mining, _, share = str(key).partition("@")
    share = float(share) if share else DEFAULT_SHARE
    if mining.startswith("top"):
        return Design(top_k=int(mining[3:]), share=share)
    return Design(minsup=mining, share=share)


def design_key_columns(frame):
    """A table keyed by cells with its minsup column (the cells' design keys)
    as the three design columns, minsup, top_k and share, in its place."""
    import pandas as pd

    designs = [design_of_key(key).columns() for key in frame["minsup"]]
    at = list(frame.columns).index("minsup")
    columns = pd.DataFrame(designs, index=frame.index, columns=["minsup", "top_k", "share"])
    columns["top_k"] = columns["top_k"].astype("Int64")
    return pd.concat([frame.iloc[:, :at], columns, frame.iloc[:, at + 1:]], axis=1)


def minings(config, dataset):
    """The ways a data set is mined, as designs of the default share: its own
    minsups and top_k when its entry gives either, else the study's."""
    source = dataset if ("minsups" in dataset or "top_k" in dataset) else config
    return ([Design(minsup=value_label(m)) for m in source.get("minsups", [])] +
            [Design(top_k=k) for k in source.get("top_k", [])])


def designs(config, dataset):
    """Every design of a data set: each way it is mined at each mining share."""
    return [Design(d.minsup, d.top_k, share) for d in minings(config, dataset)
            for share in config.get("mining_shares", [DEFAULT_SHARE])]


def mining_problem(config):
    """The one-line message when a data set has no way to be mined, or None."""
    for name, dataset in config["datasets"].items():
        if not minings(config, dataset):
            return (f"Error in config key 'datasets.{name}': no minimum support and no top_k: "
                    "give 'minsups' or 'top_k' here or for the whole study")
    return None


def split_seed(base_seed, dataset, repetition):
    """The seed of one split. It depends on the base seed, the data set and the
    repetition only, so repetition r splits a data set the same way at every
    minimum support and level and the comparisons between them are paired."""
    text = f"{base_seed}\0{dataset}\0{repetition}".encode()
    # 32 bits: any consumer of the records keeps the number exactly.
    return int.from_bytes(hashlib.sha256(text).digest()[:4], "big")


def mining_min_sup(minsup, mining_records):
    """A whole number stays; a fraction is that share of the mining half,
    rounded up so that no pattern below the share is tested."""
    if isinstance(minsup, int) or (isinstance(minsup, float) and minsup >= 1):
        return int(minsup)
    return max(1, math.ceil(minsup * mining_records - 1e-9))


def direct_min_sup(minsup, mining_records, all_records):
    """Direct adjustment mines the whole data set at the same share of records
    as the holdout's mining half: the fraction itself, or a count's share of
    the mining half."""
    if isinstance(minsup, int) or (isinstance(minsup, float) and minsup >= 1):
        share = int(minsup) / max(1, mining_records)
    else:
        share = minsup
    # The miner counts records in 32 bits; no data set has more.
    return min(max(1, math.ceil(share * all_records - 1e-9)), 2 ** 31 - 1)


def strict_validator(schema):
    """A validator of `schema` stricter on numbers than JSON Schema: YAML's
    2.0 is a float, not a whole number (JSON Schema takes it for one, and
    range() would not), and NaN is no number at all (it passes every bound)."""
    import jsonschema

    def integer(_, value):
        return isinstance(value, int) and not isinstance(value, bool)

    def number(_, value):
        return (isinstance(value, (int, float)) and not isinstance(value, bool)
                and not math.isnan(value))

    checker = jsonschema.Draft7Validator.TYPE_CHECKER.redefine_many(
        {"integer": integer, "number": number})
    return jsonschema.validators.extend(jsonschema.Draft7Validator, type_checker=checker)(schema)


def config_problem(config, schema):
    """The one-line message for the first thing wrong with `config` under
    `schema` (checked strictly, strict_validator), or None when nothing is."""
    error = next(iter(strict_validator(schema).iter_errors(config)), None)
    return mining_problem(config) if error is None else config_error_message(error)


def config_error_message(error):
    """One line for a config that fails the schema: the key's path, what is
    wrong, and what the key takes."""
    # Generator settings given inline: name the key within them that is wrong,
    # not only that they match neither a file name nor settings.
    if error.validator == "oneOf" and isinstance(error.instance, dict) and error.context:
        inner = [problem for problem in error.context if problem.validator != "type"]
        if inner and list(error.absolute_path)[-1:] == ["generate"]:
            return config_error_message(min(inner, key=lambda problem: len(problem.path)))
    path = ""
    for part in error.absolute_path:
        path += f"[{part}]" if isinstance(part, int) else (f".{part}" if path else str(part))
    message = error.message
    if error.validator in ("anyOf", "oneOf"):
        message = f"{error.instance!r} is not valid here"
        if error.validator == "oneOf" and isinstance(error.instance, dict):
            message = ("give exactly one of 'file', 'prepared' (each with 'target' and "
                       "'positive') and 'generate' (without them)")
    description = error.schema.get("description")
    where = f"config key '{path}'" if path else "the config"
    text = f"Error in {where}: {message}"
    if description and error.validator not in ("required", "additionalProperties"):
        text += f" ({' '.join(description.split())})"
    return text


def generation_seed(base_seed, dataset, repetition):
    """The seed varnel-generate draws repetition r of a generated data set
    with: the first 8 bytes (big-endian) of the SHA-256 of "generate", the
    base seed, the name and r, joined with NUL bytes. The same config gives
    the same data sets; each name and repetition its own."""
    text = f"generate\0{base_seed}\0{dataset}\0{repetition}".encode()
    return int.from_bytes(hashlib.sha256(text).digest()[:8], "big")


def is_generated(dataset):
    return "generate" in dataset


def source_files(dataset):
    """The files a data set's entry in the config names."""
    if "file" in dataset:
        return [dataset["file"]]
    if is_generated(dataset):
        settings = dataset["generate"]
        return [settings] if isinstance(settings, str) else []
    return [dataset["prepared"] + suffix for suffix in (".data", ".names")]


def check_files(config, bin_dir):
    """Problems the schema cannot see: files that are not there."""
    problems = []
    programs = ["varnel", "Brimel", "varnel-prepare", "varnel-read-runs"]
    for name, dataset in config["datasets"].items():
        key = next(key for key in ("file", "generate", "prepared") if key in dataset)
        for path in source_files(dataset):
            if not os.path.isfile(path):
                problems.append(f"Error in config key 'datasets.{name}.{key}': no file {path}")
        if is_generated(dataset) and "varnel-generate" not in programs:
            programs.append("varnel-generate")
    for program in programs:
        if not os.access(os.path.join(bin_dir, program), os.X_OK):
            problems.append(f"Error: no executable {program} in {bin_dir} (build it with "
                            "'make', or name its folder with the config key 'bin_dir')")
    return problems
