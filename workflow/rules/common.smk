# The study's config (checked before anything runs), its grid, where every
# file of the study lies, and what the rules share.
import math
import os
import sys

from snakemake.exceptions import WorkflowError
import yaml
from snakemake.utils import min_version

min_version("7.21")

SCRIPTS = os.path.join(workflow.basedir, "scripts")
sys.path.insert(0, SCRIPTS)
import study_config  # noqa: E402

PYTHON = sys.executable
# Renders a rule's params.content as JSON (the template rules). Snakemake
# renders it itself, so a template rule's log stays empty: a failure shows in
# Snakemake's own output.
JSON_TEMPLATE = os.path.join(workflow.basedir, "templates", "content.json.j2")

if not config:
    raise WorkflowError("Error: no config: name one with --configfile "
                        "(the example is config/config.yaml)")
# A config error is one line naming the key, not the schema's dump; numbers
# are checked more strictly than JSON Schema checks them (2.0 is no whole
# number, NaN no number).
with open(os.path.join(workflow.basedir, "schemas", "config.schema.yaml")) as _schema:
    _problem = study_config.config_problem(config, yaml.safe_load(_schema))
if _problem:
    raise WorkflowError(_problem)

BIN_DIR = os.path.abspath(config.get("bin_dir") or
                          os.path.join(workflow.basedir, "..", "build", "bin"))
_problems = study_config.check_files(config, BIN_DIR)
if _problems:
    raise WorkflowError("\n".join(_problems))

# Data sets from files; generated ones (a fresh data set per repetition) are
# GENERATED, with their own jobs (truth.smk).
DATASETS = {name: entry for name, entry in config["datasets"].items()
            if not study_config.is_generated(entry)}
GENERATED = {name: entry for name, entry in config["datasets"].items()
             if study_config.is_generated(entry)}
# Each way of mining a data set (a minimum support or top-k) at each mining
# share is a design; the direct runs, on the whole data set, have only the
# mining. By label (study_config.Design).
DESIGNS = {design.label: design for entry in config["datasets"].values()
           for design in study_config.designs(config, entry)}
MININGS = {design.mining: design for entry in config["datasets"].values()
           for design in study_config.minings(config, entry)}
LEVELS = [study_config.value_label(p) for p in config["levels"]]
REPS = range(1, config["repetitions"] + 1)
# "all": every run keeps all its files; "results": its record and rule table only.
KEEP = config.get("keep", "results")


def one_of(values):
    # "(?!)" matches nothing: an empty pattern would match every name.
    return "|".join(value.replace(".", r"\.") for value in values) or "(?!)"


wildcard_constraints:
    dataset=one_of(DATASETS),
    generated=one_of(GENERATED),
    design=one_of(DESIGNS),
    mining=one_of(MININGS),
    level=one_of(LEVELS),
    rep=r"[1-9]\d*",

# Where every file of the study lies: inputs made from the config under
# resources/, one folder per job under runs/, logs under logs/, and the tables,
# plots and report under results/.
DATA_ENTRY = "resources/{dataset}/entry.json"
DATA = "resources/{dataset}/{dataset}"  # .data and .names
DATA_SETTINGS = "resources/{dataset}/settings.json"
SPLIT_FOLDER = "resources/{dataset}/split"
SPLIT_RECORD = os.path.join(SPLIT_FOLDER, "{dataset}.experiment.json")
CELL = "runs/{dataset}/{design}_p{level}"
EXPERIMENT_FOLDER = os.path.join(CELL, "rep{rep}")
EXPERIMENT_RECORD = os.path.join(EXPERIMENT_FOLDER, "{dataset}.experiment.json")
EXPERIMENT_RULES = os.path.join(EXPERIMENT_FOLDER, "{dataset}.rules.csv.gz")
DIRECT_CELL = "runs/{dataset}/{mining}_p{level}"  # every share of the mining shares it
DIRECT_FOLDER = os.path.join(DIRECT_CELL, "direct")
DIRECT_RECORD = os.path.join(DIRECT_CELL, "direct.json")
# A generated data set: drawn afresh per repetition, its runs judged against
# its truth.
GENERATED_ENTRY = "resources/{generated}/entry.json"
GENERATED_FOLDER = "resources/{generated}/rep{rep}"
GENERATED_DATA = os.path.join(GENERATED_FOLDER, "{generated}")  # .data, .names, .truth.json
GENERATED_SETTINGS = os.path.join(GENERATED_FOLDER, "settings.json")
GENERATED_SPLIT_FOLDER = os.path.join(GENERATED_FOLDER, "split")
GENERATED_SPLIT = os.path.join(GENERATED_SPLIT_FOLDER, "{generated}.experiment.json")
TRUTH_FOLDER = "runs/{generated}/{design}_p{level}/rep{rep}"
TRUTH_RECORD = os.path.join(TRUTH_FOLDER, "{generated}.experiment.json")
TRUTH_RULES = os.path.join(TRUTH_FOLDER, "{generated}.rules.csv.gz")
TRUTH_JUDGED = os.path.join(TRUTH_FOLDER, "truth.json")
# The direct run of a repetition, shared by the mining's designs of every share.
TRUTH_DIRECT_FOLDER = "runs/{generated}/{mining}_p{level}/direct/rep{rep}"
TRUTH_DIRECT_RECORD = f"{TRUTH_DIRECT_FOLDER}.json"
STUDY_PLAN = "resources/study-plan.json"
STUDY_CONFIG = "resources/study-config.json"
DATABASE = "results/study.sqlite"
# The database the tables job fills run by run; DATABASE is a copy of it.
DATABASE_CACHE = "results/cache/study.sqlite"


def script_command(name):
    """A job's command for the script NAME of workflow/scripts, under the
    Python that runs Snakemake (the one with Debian's pandas and matplotlib);
    a rule gives it as a param, which reaches the shell as quoted words."""
    return [PYTHON, os.path.join(SCRIPTS, name)]


def cells():
    """Every data set x design x level, as wildcards."""
    return [dict(dataset=dataset, design=design.label, level=level)
            for dataset, entry in DATASETS.items()
            for design in study_config.designs(config, entry) for level in LEVELS]


def direct_cells():
    """Every data set x mining x level, as wildcards."""
    return [dict(dataset=dataset, mining=mining.mining, level=level)
            for dataset, entry in DATASETS.items()
            for mining in study_config.minings(config, entry) for level in LEVELS]


def cell_keys(cell):
    """The keys of a cell (or a truth run) in the study's plan and database:
    the data set, the design's key (study_config.Design.key) and the level."""
    name = cell.get("dataset", cell.get("generated"))
    return dict(dataset=name, minsup=DESIGNS[cell["design"]].key, level=float(cell["level"]))


def input_data_base(wildcards, input):
    """The base (without .data and .names) of the data set a job reads, from
    its input files."""
    return os.path.splitext(input.data)[0]


def data_memory(wildcards, input, attempt):
    """Memory of a job on one data set: the programs hold a few times the
    data; a job that ran out gets more when it is tried again."""
    return attempt * (200 + 100 * math.ceil(input.size_mb))


def truth_runs():
    """Every generated setting x design x level x repetition."""
    return [dict(generated=name, design=design.label, level=level, rep=rep)
            for name, entry in GENERATED.items()
            for design in study_config.designs(config, entry) for level in LEVELS for rep in REPS]


def truth_direct_runs():
    """Every generated setting x mining x level x repetition."""
    return [dict(generated=name, mining=mining.mining, level=level, rep=rep)
            for name, entry in GENERATED.items()
            for mining in study_config.minings(config, entry) for level in LEVELS for rep in REPS]


def truth_direct_record(wildcards):
    """The direct run of a truth run's repetition, of its design's mining."""
    return TRUTH_DIRECT_RECORD.format(mining=DESIGNS[wildcards.design].mining,
                                      generated=wildcards.generated, level=wildcards.level,
                                      rep=wildcards.rep)


def truth_plan():
    """The truth study's part of the study's plan: its experiments, beside
    the others, and its judged runs."""
    experiments, judged = [], []
    for run in truth_runs():
        keys = dict(cell_keys(run), repetition=run["rep"])
        experiments.append(dict(keys, record=TRUTH_RECORD.format(**run),
                                rules=TRUTH_RULES.format(**run)))
        judged.append(dict(keys, judged=TRUTH_JUDGED.format(**run)))
    return experiments, judged


def study_plan():
    """What the tables read: each job's keys and the paths of its files."""
    experiments = [dict(cell_keys(cell), repetition=rep,
                        record=EXPERIMENT_RECORD.format(rep=rep, **cell),
                        rules=EXPERIMENT_RULES.format(rep=rep, **cell))
                   for cell in cells() for rep in REPS]
    # Each cell with the direct run of its mining, which its shares share.
    direct = [dict(cell_keys(cell), record=DIRECT_RECORD.format(
                  mining=DESIGNS[cell["design"]].mining, **cell)) for cell in cells()]
    truth_experiments, judged = truth_plan()
    return {"experiments": experiments + truth_experiments, "direct": direct, "truth": judged}
