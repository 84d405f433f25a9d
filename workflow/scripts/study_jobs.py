"""The study's jobs: preparing a data set, one holdout experiment, and the
miner alone on the whole data set for direct adjustment. Programs are started
without a shell, so no text of the config is ever read by one."""
import json
import os
import shutil
import subprocess
import sys
import time

import study_setup

class JobError(RuntimeError):
    """A program failed in a way that is no experiment result (bad call,
    crash): the job fails and Snakemake says so."""


def _program(bin_dir, name):
    return os.path.abspath(os.path.join(bin_dir, name))


def _error_lines(log_path, limit=20):
    try:
        with open(log_path, errors="replace") as log:
            lines = [line.rstrip("\n") for line in log if line.startswith("Error: ")]
    except OSError:
        return []
    return lines[:limit]


def _run_logged(command, folder, log_path):
    with open(log_path, "w") as log:
        return subprocess.run(command, cwd=folder, stdout=log, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, check=False).returncode


def _fresh_folder(folder):
    """A job that is run again starts clean: varnel appends to its summary file."""
    os.makedirs(folder, exist_ok=True)
    for entry in os.scandir(folder):
        if not entry.is_dir(follow_symlinks=False):
            os.remove(entry.path)


def _link_data(data_base, dataset, folder):
    # varnel writes its split files next to the data, so the data must be
    # in the job's own folder; a relative link keeps the study movable.
    for suffix in (".data", ".names"):
        target = os.path.relpath(os.path.abspath(data_base + suffix), os.path.abspath(folder))
        os.symlink(target, os.path.join(folder, dataset + suffix))


def _failure(what, status, log_path):
    errors = _error_lines(log_path)
    detail = "; ".join(errors) if errors else f"see {log_path}"
    reason = f"killed by signal {-status}" if status < 0 else f"exited with status {status}"
    return JobError(f"{what} {reason}: {detail}")


def prepare_dataset(bin_dir, name, dataset, out_base):
    """The study's copy of a data set as D.data / D.names at out_base, and
    beside it the settings its experiments read (out_base.settings.json), so
    that no text of the config reaches a job's command line."""
    os.makedirs(os.path.dirname(out_base) or ".", exist_ok=True)
    if "prepared" in dataset:
        for suffix in (".data", ".names"):
            shutil.copyfile(dataset["prepared"] + suffix, out_base + suffix)
        value = str(dataset["positive"])
    else:
        command = [_program(bin_dir, "varnel-prepare"), "--target", dataset["target"],
                   "--positive", str(dataset["positive"])]
        if dataset.get("drop_numeric"):
            command.append("--drop-numeric")
        elif "bins" in dataset:
            command += ["--bins", str(dataset["bins"])]
        command += [os.path.abspath(dataset["file"]), os.path.abspath(out_base)]
        log_path = out_base + ".prepare.log"
        status = _run_logged(command, os.path.dirname(os.path.abspath(out_base)), log_path)
        if status != 0:
            raise _failure(f"varnel-prepare {dataset['file']}", status, log_path)
        value = "1"  # varnel-prepare writes the class of interest as 1
    ones, others = study_setup.count_strata(out_base + ".data")
    settings = {"dataset": name, "data": out_base, "target": dataset["target"],
                "value": value, "bin_dir": os.path.abspath(bin_dir),
                "ones": ones, "others": others}
    with open(out_base + ".settings.json", "w") as handle:
        json.dump(settings, handle, indent=1)


def min_sups(settings, minsup):
    """(mining half, whole data set) minimum supports in records."""
    mining = study_setup.mining_part_size(settings["ones"], settings["others"])
    return (study_setup.mining_min_sup(minsup, mining),
            study_setup.direct_min_sup(minsup, mining, settings["ones"] + settings["others"]))


def run_experiment(settings, minsup, level, seed, folder):
    """One holdout experiment in its own folder. A failed experiment (status 1)
    is a result and leaves its record; anything else fails the job."""
    dataset = settings["dataset"]
    _fresh_folder(folder)
    _link_data(settings["data"], dataset, folder)
    command = [_program(settings["bin_dir"], "varnel"), "--seed", str(seed), dataset,
               settings["target"], settings["value"], str(min_sups(settings, minsup)[0]),
               repr(float(level)), dataset]
    log_path = os.path.join(folder, "varnel.log")
    status = _run_logged(command, folder, log_path)
    record = os.path.join(folder, dataset + ".experiment.json")
    if status not in (0, 1) or not os.path.isfile(record):
        raise _failure("varnel", status, log_path)
    with open(record) as handle:
        json.load(handle)  # a record cut short fails here, not in the tables


def _numbers(path, count):
    try:
        with open(path) as handle:
            values = [float(word) for word in handle.read().split()]
    except (OSError, ValueError):
        return None
    return values if len(values) >= count else None


def read_direct_counts(folder, dataset):
    """The miner's counts on the whole data set, or None when its files are
    missing or cut short."""
    counts = _numbers(os.path.join(folder, dataset + ".sorted.rulenum.txt"), 8)
    stat = _numbers(os.path.join(folder, dataset + ".cfptree.stat"), 14)
    if counts is None or stat is None:
        return None
    patterns = int(counts[0])
    return {"records": int(stat[0]), "patterns_tested": patterns,
            "corrected_level": counts[1] / patterns if patterns else None,
            "sig_at_level": int(counts[5]), "sig_at_corrected": int(counts[6]),
            "sig_at_fdr": int(counts[7])}


def run_direct(settings, minsup, level, out_path):
    """The miner alone on the whole data set, in the folder direct/ beside
    out_path: how many rules are significant at level / patterns tested, the
    direct-adjustment count."""
    dataset = settings["dataset"]
    min_sup = min_sups(settings, minsup)[1]
    folder = os.path.join(os.path.dirname(out_path), "direct")
    _fresh_folder(folder)
    _link_data(settings["data"], dataset, folder)
    brimel = _program(settings["bin_dir"], "Brimel")
    log_path = os.path.join(folder, "Brimel.log")
    # The miner writes its own parameter file, with the fixed settings varnel
    # hands it, so that direct adjustment and the experiments share them.
    status = _run_logged([brimel, "--write-parameters", "orsk.para", dataset, settings["target"],
                          settings["value"], str(min_sup), repr(float(level)), dataset,
                          "--no-tid-lists"], folder, log_path)
    if status != 0:
        raise _failure("Brimel --write-parameters", status, log_path)
    started = time.monotonic()
    status = _run_logged([brimel, "orsk.para"], folder, log_path)
    if status < 0:
        raise _failure("Brimel", status, log_path)
    counts = read_direct_counts(folder, dataset)
    record = {"dataset": dataset, "min_sup": min_sup, "level": float(level),
              "status": "ok" if status == 0 and counts else "failed",
              "errors": _error_lines(log_path),
              "seconds": round(time.monotonic() - started, 3)}
    record.update(counts or {})
    if record["status"] == "failed" and not record["errors"]:
        record["errors"] = [f"Brimel exited with status {status} and wrote no counts"]
    with open(out_path, "w") as handle:
        json.dump(record, handle, indent=1)


def main(argv):
    """experiment SETTINGS MINSUP LEVEL SEED RECORD | direct SETTINGS MINSUP LEVEL RECORD"""
    usage = f"usage: {os.path.basename(sys.argv[0])} {main.__doc__}"
    if len(argv) < 1 or argv[0] not in ("experiment", "direct") or \
            len(argv) != (6 if argv[0] == "experiment" else 5):
        print(usage, file=sys.stderr)
        return 2
    with open(argv[1]) as handle:
        settings = json.load(handle)
    minsup = study_setup.parse_value(argv[2])
    level = float(argv[3])
    try:
        if argv[0] == "experiment":
            run_experiment(settings, minsup, level, int(argv[4]), os.path.dirname(argv[5]))
        else:
            run_direct(settings, minsup, level, argv[4])
    except JobError as error:
        print(f"Error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
