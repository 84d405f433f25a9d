"""One repetition's data set of a generated setting: varnel-generate with the
repetition's seed writes BASE.data, .names and .truth.json; then one split
by varnel, mining nothing, as for a data set from a file (study_data), and
the settings the repetition's jobs read.

    truth_data.py --entry ENTRY_JSON --seed N --data-base BASE --settings SETTINGS_JSON
                  --split-folder FOLDER
"""
import argparse
import os
import sys

from study_data import check_split
from study_programs import failure, main_of, program, read_json, run_program, write_json


def generate(entry, seed, data_base):
    """The data set and its truth; returns the truth file's content."""
    folder = os.path.dirname(os.path.abspath(data_base))
    os.makedirs(folder, exist_ok=True)
    settings = entry["generate"]
    if isinstance(settings, str):
        settings_path = os.path.abspath(settings)
    else:
        settings_path = os.path.abspath(data_base + ".generator.json")
        write_json(settings, settings_path)
    command = [program(entry, "varnel-generate"), "--seed", str(seed), settings_path,
               os.path.abspath(data_base)]
    status, errors = run_program(command, folder)
    if status != 0:
        raise failure(f"varnel-generate (data set {entry['name']})", status, errors)
    return read_json(data_base + ".truth.json")


def run(args):
    entry = read_json(args.entry)
    truth = generate(entry, args.seed, args.data_base)
    settings = {"dataset": entry["name"], "target": truth["class"]["name"],
                "value": truth["class"]["positive"], "bin_dir": entry["bin_dir"],
                "generation_seed": args.seed}
    check_split(settings, args.data_base, args.split_folder)
    write_json(settings, args.settings)


def argument_parser():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--entry", "--data-base", "--settings", "--split-folder"):
        parser.add_argument(option, required=True)
    parser.add_argument("--seed", required=True, type=int)
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
