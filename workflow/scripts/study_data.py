"""The study's copy of one data set: the D.data / D.names pair (prepared by
varnel-prepare from ARFF or CSV, or copied), the settings its jobs read, and
one split by varnel itself, whose record gives the sizes of the halves and
shows at once whether the target attribute and value fit the data.

    study_data.py --entry ENTRY_JSON --data-base BASE --settings SETTINGS_JSON
                  --split-folder FOLDER   (varnel's record: FOLDER/D.experiment.json)
"""
import argparse
import os
import shutil
import sys

from study_config import DEFAULT_SHARE
from study_programs import (JobError, failure, fresh_folder, link_data, main_of, program,
                            read_json, run_program, varnel_outputs, write_json)

# A minimum support no pattern reaches: the split check mines nothing.
NO_RULES_MIN_SUP = 2**31 - 1


def prepare(entry, data_base):
    """The data set as data_base.data and .names; returns the class value its
    experiments name (varnel-prepare writes the class of interest as 1)."""
    os.makedirs(os.path.dirname(data_base) or ".", exist_ok=True)
    if "prepared" in entry:
        for suffix in (".data", ".names"):
            shutil.copyfile(entry["prepared"] + suffix, data_base + suffix)
        return str(entry["positive"])
    command = [program(entry, "varnel-prepare"), "--target", entry["target"],
               "--positive", str(entry["positive"])]
    if entry.get("drop_numeric"):
        command.append("--drop-numeric")
    elif "bins" in entry:
        command += ["--bins", str(entry["bins"])]
    command += [os.path.abspath(entry["file"]), os.path.abspath(data_base)]
    status, errors = run_program(command, os.path.dirname(os.path.abspath(data_base)))
    if status != 0:
        raise failure(f"varnel-prepare {entry['file']}", status, errors)
    return "1"


def check_split(settings, data_base, folder, mining_share=DEFAULT_SHARE):
    """One split of the data set by varnel in folder at the mining share,
    mining nothing; keeps its record, which it returns, and removes the rest."""
    name = settings["dataset"]
    record_path = varnel_outputs(folder, name)[0]
    fresh_folder(folder)
    link_data(data_base, name, folder)
    command = [program(settings, "varnel"), "--seed", "0", "--mining-share", repr(mining_share),
               name, settings["target"], settings["value"], str(NO_RULES_MIN_SUP), "1", name]
    status, errors = run_program(command, folder)
    if status not in (0, 1) or not os.path.isfile(record_path):
        raise failure("varnel (the split check)", status, errors)
    record = read_json(record_path)
    if record.get("status") != "ok":
        raise JobError(f"the data set {settings['dataset']} cannot be split with target "
                       f"{settings['target']} = {settings['value']}: "
                       + "; ".join(record.get("errors") or errors or ["see the job's log"]))
    for entry in os.scandir(folder):
        if entry.path != record_path:
            os.remove(entry.path)
    return record


def run(args):
    entry = read_json(args.entry)
    value = prepare(entry, args.data_base)
    settings = {"dataset": entry["name"], "target": entry["target"], "value": value,
                "bin_dir": entry["bin_dir"]}
    check_split(settings, args.data_base, args.split_folder)
    write_json(settings, args.settings)


def argument_parser():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--entry", required=True, help="the data set's entry of the config")
    parser.add_argument("--data-base", required=True)
    parser.add_argument("--settings", required=True)
    parser.add_argument("--split-folder", required=True)
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
