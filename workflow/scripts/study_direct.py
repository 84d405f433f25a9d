"""Direct adjustment for one data set x minimum support x level: the miner
alone on the whole data set, at the same share of records as the holdout's
mining half; its counts go to a record. The direct-adjustment count is the
number of rules significant at level / patterns tested. The miner's folder is
removed once its counts are in the record, unless --keep all.

    study_direct.py --settings SETTINGS_JSON --split-record RECORD --data-base BASE
                    --minsup LABEL --level LEVEL --threads N --folder FOLDER --record OUT_JSON
                    [--keep all|results]
"""
import argparse
import os
import shutil
import sys
import time

from study_config import direct_min_sup, parse_value
from study_programs import (failure, fresh_folder, link_data, main_of, program, read_json,
                            run_program, write_json)


def _numbers(path, count):
    try:
        with open(path) as handle:
            values = [float(word) for word in handle.read().split()]
    except (OSError, ValueError):
        return None
    return values if len(values) >= count else None


def read_direct_counts(folder, name):
    """The miner's counts on the whole data set, or None when its files are
    missing or cut short."""
    counts = _numbers(os.path.join(folder, name + ".sorted.rulenum.txt"), 8)
    stat = _numbers(os.path.join(folder, name + ".cfptree.stat"), 14)
    if counts is None or stat is None:
        return None
    patterns = int(counts[0])
    return {"records": int(stat[0]), "patterns_tested": patterns,
            "corrected_level": counts[1] / patterns if patterns else None,
            "sig_at_level": int(counts[5]), "sig_at_corrected": int(counts[6]),
            "sig_at_fdr": int(counts[7])}


def mine_whole(settings, data_base, min_sup, level, threads, folder, options=()):
    """The miner on the whole data set in folder, with the parameter-file
    options given (such as --direct); returns the run's record."""
    name = settings["dataset"]
    fresh_folder(folder)
    link_data(data_base, name, folder)
    brimel = program(settings, "Brimel")
    # The miner writes its own parameter file, with the fixed settings varnel
    # hands it, so that direct adjustment and the experiments share them.
    status, errors = run_program([brimel, "--write-parameters", "orsk.para", name,
                                  settings["target"], settings["value"], str(min_sup),
                                  repr(float(level)), name, "--no-tid-lists", *options], folder)
    if status != 0:
        raise failure("Brimel --write-parameters", status, errors)
    started = time.monotonic()
    status, errors = run_program([brimel, "orsk.para"], folder,
                                 {"BRIMEL_THREADS": str(threads)})
    if status < 0:
        raise failure("Brimel", status, errors)
    counts = read_direct_counts(folder, name)
    record = {"dataset": name, "min_sup": min_sup, "level": float(level),
              "status": "ok" if status == 0 and counts else "failed", "errors": errors,
              "seconds": round(time.monotonic() - started, 3)}
    record.update(counts or {})
    if record["status"] == "failed" and not record["errors"]:
        record["errors"] = [f"Brimel exited with status {status} and wrote no counts"]
    return record


def run(args):
    settings = read_json(args.settings)
    halves = read_json(args.split_record)["records"]
    min_sup = direct_min_sup(parse_value(args.minsup), halves["mining_part"], halves["dataset"])
    record = mine_whole(settings, args.data_base, min_sup, args.level, args.threads, args.folder)
    write_json(record, args.record)
    if args.keep != "all":
        shutil.rmtree(args.folder)


def argument_parser():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--settings", "--split-record", "--data-base", "--minsup", "--folder",
                   "--record"):
        parser.add_argument(option, required=True)
    parser.add_argument("--level", required=True, type=float)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--keep", choices=["all", "results"], default="results")
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
