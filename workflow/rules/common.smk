# The study's config (checked before anything runs), its grid, where every
# file of the study lies, and what the rules share.
import math
import os
import sys

from snakemake.exceptions import WorkflowError
from snakemake.utils import min_version, validate

min_version("7.21")

SCRIPTS = os.path.join(workflow.basedir, "scripts")
sys.path.insert(0, SCRIPTS)
import study_config  # noqa: E402

PYTHON = sys.executable
# Renders a rule's params.content as JSON (the template rules).
JSON_TEMPLATE = os.path.join(workflow.basedir, "templates", "content.json.j2")

if not config:
    raise WorkflowError("Error: no config: name one with --configfile "
                        "(the example is config/config.yaml)")
# A config error is one line naming the key, not the schema's dump.
try:
    validate(config, os.path.join(workflow.basedir, "schemas", "config.schema.yaml"))
except WorkflowError as error:
    problem = error.__context__
    if not hasattr(problem, "absolute_path"):
        raise
    raise WorkflowError(study_config.config_error_message(problem)) from None

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
MINSUPS = [study_config.value_label(m) for m in config["minsups"]]
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
    minsup=one_of(MINSUPS),
    level=one_of(LEVELS),
    rep=r"[1-9]\d*",

# Where every file of the study lies: inputs made from the config under
# resources/, one folder per job under runs/, logs under logs/, and the tables,
# plots and report under results/.
DATA_ENTRY = "resources/{dataset}/entry.json"
DATA = "resources/{dataset}/{dataset}"  # .data and .names
DATA_SETTINGS = "resources/{dataset}/settings.json"
SPLIT_FOLDER = "resources/{dataset}/split"
SPLIT_RECORD = SPLIT_FOLDER + "/{dataset}.experiment.json"
CELL = "runs/{dataset}/minsup{minsup}_p{level}"
EXPERIMENT_FOLDER = CELL + "/rep{rep}"
EXPERIMENT_RECORD = EXPERIMENT_FOLDER + "/{dataset}.experiment.json"
EXPERIMENT_RULES = EXPERIMENT_FOLDER + "/{dataset}.rules.csv.gz"
DIRECT_FOLDER = CELL + "/direct"
DIRECT_RECORD = CELL + "/direct.json"
STUDY_PLAN = "resources/study-plan.json"
STUDY_CONFIG = "resources/study-config.json"
DATABASE = "results/study.sqlite"
# The database the tables job fills run by run; DATABASE is a link to it.
DATABASE_CACHE = "results/cache/study.sqlite"


def cells():
    """Every data set x minimum support x level, as wildcards."""
    return [dict(dataset=dataset, minsup=minsup, level=level)
            for dataset in DATASETS for minsup in MINSUPS for level in LEVELS]


def data_memory(wildcards, input, attempt):
    """Memory of a job on one data set: the programs hold a few times the
    data; a job that ran out gets more when it is tried again."""
    return attempt * (200 + 100 * math.ceil(input.size_mb))
