"""Direct adjustment for one data set x mining x level: the miner alone on
the whole data set, at the same share of records as the holdout's mining
half (at the default mining share), or keeping its top k rules, with every
direct correction (its direct-adjustment run:
Bonferroni over the patterns tested, the search space, layered levels,
Tarone, Westfall-Young with seeded permutations, FDR). Its counts and levels
go to a record; a run that failed on the system (the miner's status 75, or a
signal) fails the job instead, so Snakemake runs it again. The miner's folder
keeps only its O.direct.json and its rule table, gzipped, unless --keep all.

    study_direct.py --settings SETTINGS_JSON --split-record RECORD --data-base BASE
                    (--minsup LABEL | --top-k K) --level LEVEL --threads N --folder FOLDER
                    --record OUT_JSON
                    [--permutations J] [--permutation-seed S] [--tarone-lowered]
                    [--keep all|results]
"""
import argparse
import json
import os
import sys
import time

from study_config import direct_min_sup, parse_value
from study_experiment import add_mining_options
from study_programs import (compress, failure, failure_of_the_system, fresh_folder, keep_only,
                            link_data, main_of, program, read_json, run_program, write_json)

# The miner's exit status when one of its errors was the system's, not the
# data's (minerio/driver_link.h): the job fails and is run again.
MINER_SYSTEM_FAILURE = 75

# What the record keeps of each method besides its level and rules: what it
# was computed over.
METHOD_DETAILS = {"bonferroni_tested": ["tests"], "search_space": ["log10_size"],
                  "layered": ["longest"], "tarone": ["testable", "lower_support"],
                  "tarone_lowered": ["computed", "testable", "min_sup"],
                  "westfall_young": ["permutations", "seed"], "fdr": ["tests"]}


def read_direct_record(path):
    """The miner's counts on the whole data set and, per direct method, its
    level, the rules kept at it and what it was computed over, all from its
    O.direct.json; (None, None) when that is missing or not what it writes."""
    try:
        with open(path) as handle:
            figures = json.load(handle)
        methods = figures["methods"]
        patterns = int(figures["patterns_tested"])
        counts = {"records": int(figures["transactions"]), "patterns_tested": patterns,
                  "corrected_level": methods["bonferroni_tested"]["level"],
                  "sig_at_level": int(figures["rules"]),
                  "sig_at_corrected": int(methods["bonferroni_tested"]["rules"]),
                  "sig_at_fdr": int(methods["fdr"]["rules"])}
    except (OSError, ValueError, TypeError, KeyError):
        return None, None
    return counts, {method: {field: (methods.get(method) or {}).get(field)
                             for field in ["level", "rules"] + details}
                    for method, details in METHOD_DETAILS.items()}


def run(args):
    settings = read_json(args.settings)
    halves = read_json(args.split_record)["records"]
    name = settings["dataset"]
    min_sup = 1 if args.top_k is not None else direct_min_sup(
        parse_value(args.minsup), halves["mining_part"], halves["dataset"])
    fresh_folder(args.folder)
    link_data(args.data_base, name, args.folder)
    brimel = program(settings, "Brimel")
    # The miner writes its own parameter file, with the fixed settings varnel
    # hands it, so that direct adjustment and the experiments share them.
    direct = ["--direct", "--permutations", str(args.permutations), "--permutation-seed",
              str(args.permutation_seed)] + (["--tarone-lowered"] if args.tarone_lowered else [])
    if args.top_k is not None:
        direct += ["--top-k", str(args.top_k)]
    status, errors = run_program([brimel, "--write-parameters", "orsk.para", name,
                                  settings["target"], settings["value"], str(min_sup),
                                  repr(float(args.level)), name, "--no-tid-lists", *direct],
                                 args.folder)
    if status != 0:
        raise failure("Brimel --write-parameters", status, errors)
    started = time.monotonic()
    status, errors = run_program([brimel, "orsk.para"], args.folder,
                                 {"BRIMEL_THREADS": str(args.threads)})
    if status < 0:
        raise failure("Brimel", status, errors)
    if status == MINER_SYSTEM_FAILURE:
        raise failure_of_the_system("Brimel", errors)
    counts, methods = read_direct_record(os.path.join(args.folder, name + ".direct.json"))
    ok = status == 0 and counts is not None and methods is not None
    record = {"dataset": name, "min_sup": min_sup, "top_k": args.top_k, "level": float(args.level),
              "status": "ok" if ok else "failed", "errors": errors,
              "seconds": round(time.monotonic() - started, 3)}
    record.update(counts or {})
    record["methods"] = methods or {}
    if record["status"] == "failed" and not record["errors"]:
        record["errors"] = [f"Brimel exited with status {status} and wrote no counts"]
    kept = [os.path.join(args.folder, name + ".direct.json")]
    rules = os.path.join(args.folder, name + ".direct.rules.csv")
    if os.path.isfile(rules):
        kept.append(compress(rules))
    write_json(record, args.record)
    if args.keep != "all":
        keep_only(args.folder, kept)


def argument_parser():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--settings", "--split-record", "--data-base", "--folder", "--record"):
        parser.add_argument(option, required=True)
    add_mining_options(parser)
    parser.add_argument("--level", required=True, type=float)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--permutations", type=int, default=1000)
    parser.add_argument("--permutation-seed", type=int, default=1)
    parser.add_argument("--tarone-lowered", action="store_true")
    parser.add_argument("--keep", choices=["all", "results"], default="results")
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
