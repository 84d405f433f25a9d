"""One holdout experiment of the study: varnel with the split's seed and the
design's mining share, at a minimum support or mining the top k rules, in a
folder of its own. An experiment that failed on its data (status 1, the
record's failure "data") is a result and leaves its record; one that failed on
the system (the record's failure "io": a write that failed, a full disk, a
signal) and anything else fails the job, so Snakemake runs it again. The
folder keeps the record and the rule table, gzipped, and nothing else unless
--keep all.

    study_experiment.py --settings SETTINGS_JSON --split-record RECORD --data-base BASE
                        (--minsup LABEL | --top-k K) [--mining-share F] --level LEVEL
                        --seed SEED --threads N --folder FOLDER [--keep all|results]
"""
import argparse
import os
import sys

from study_config import DEFAULT_SHARE, mining_min_sup, parse_value
from study_data import check_split
from study_programs import (JobError, compress, failure, failure_of_the_system, fresh_folder,
                            keep_only, link_data, main_of, program, read_json, run_program,
                            varnel_outputs)


def min_sup_of(args, settings):
    """The experiment's minimum support: under top-k 1, no floor beyond what
    the search needs; a count as it is; a fraction of the mining part, whose
    size at another share than the split record's varnel tells by a split of
    its own in the folder."""
    if args.top_k is not None:
        return 1
    minsup = parse_value(args.minsup)
    mining_records = read_json(args.split_record)["records"]["mining_part"]
    if isinstance(minsup, float) and minsup < 1 and args.mining_share != DEFAULT_SHARE:
        mining_records = check_split(settings, args.data_base, args.folder,
                                     args.mining_share)["records"]["mining_part"]
    return mining_min_sup(minsup, mining_records)


def run(args):
    settings = read_json(args.settings)
    name = settings["dataset"]
    min_sup = min_sup_of(args, settings)
    fresh_folder(args.folder)
    link_data(args.data_base, name, args.folder)
    top_k = [] if args.top_k is None else ["--top-k", str(args.top_k)]
    command = [program(settings, "varnel"), "--seed", str(args.seed), "--mining-share",
               repr(args.mining_share), *top_k, name, settings["target"], settings["value"],
               str(min_sup), repr(float(args.level)), name]
    status, errors = run_program(command, args.folder, {"BRIMEL_THREADS": str(args.threads)})
    record, rules = varnel_outputs(args.folder, name)
    if status not in (0, 1) or not os.path.isfile(record):
        raise failure("varnel", status, errors)
    try:
        kind = read_json(record).get("failure")
    except ValueError as error:  # a record cut short fails here, not in the tables
        raise JobError(f"the record {record} is no JSON: {error}") from None
    if kind == "io":
        raise failure_of_the_system("varnel", errors)
    kept = [record]
    if os.path.isfile(rules):
        kept.append(compress(rules))
    if args.keep != "all":
        keep_only(args.folder, kept)


def add_mining_options(parser):
    """--minsup LABEL or --top-k K, one of them."""
    mining = parser.add_mutually_exclusive_group(required=True)
    mining.add_argument("--minsup", help="a minimum support as the config labels it")
    mining.add_argument("--top-k", type=int, help="the rules of smallest p-value to mine")


def argument_parser():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--settings", "--split-record", "--data-base", "--folder"):
        parser.add_argument(option, required=True)
    add_mining_options(parser)
    parser.add_argument("--mining-share", type=float, default=DEFAULT_SHARE)
    parser.add_argument("--level", required=True, type=float)
    parser.add_argument("--seed", required=True, type=int)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--keep", choices=["all", "results"], default="results")
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
