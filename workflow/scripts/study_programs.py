"""Running the study's programs from its job scripts: in a folder of their
own, without a shell (no text of the config is ever read by one), their
console output copied to the job's log (the script's standard output)."""
import gzip
import json
import os
import shutil
import subprocess
import sys


class JobError(RuntimeError):
    """A program failed in a way that is no result (bad call, crash, missing
    output): the job fails and Snakemake says so."""


def read_json(path):
    with open(path) as handle:
        return json.load(handle)


def write_json(value, path):
    """Written whole or not at all: a job killed half-way leaves no record
    that a later run would take for a result."""
    partial = path + ".partial"
    with open(partial, "w") as handle:
        json.dump(value, handle, indent=1)
    os.replace(partial, path)


def varnel_outputs(folder, name):
    """The record and the rule table varnel writes for output name `name`."""
    base = os.path.join(folder, name)
    return base + ".experiment.json", base + ".rules.csv"


def program(settings, name):
    return os.path.join(settings["bin_dir"], name)


def run_program(command, folder, environment=None):
    """Runs command in folder; returns (exit status, its error lines). Its
    output goes to the log as it comes."""
    sys.stdout.flush()
    env = dict(os.environ, **(environment or {}))
    completed = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                               check=False)
    text = completed.stdout.decode(errors="replace")
    sys.stdout.write(text)
    sys.stdout.flush()
    return completed.returncode, [line for line in text.splitlines() if line.startswith("Error: ")]


def failure(what, status, errors):
    detail = "; ".join(errors[:20]) if errors else "see the job's log"
    reason = f"killed by signal {-status}" if status < 0 else f"exited with status {status}"
    return JobError(f"{what} {reason}: {detail}")


def failure_of_the_system(what, errors):
    """A run that failed on the system, not on its data (a write that failed,
    a full disk, a signal): no result, so the job fails and is run again."""
    detail = "; ".join(errors[:20]) if errors else "see the job's log"
    return JobError(f"{what} failed on the system, not on its data (a rerun may succeed): "
                    f"{detail}")


def fresh_folder(folder):
    """A job that is run again starts clean: varnel appends to its summary file."""
    os.makedirs(folder, exist_ok=True)
    for entry in os.scandir(folder):
        if not entry.is_dir(follow_symlinks=False):
            os.remove(entry.path)


def link_data(data_base, name, folder):
    """The data set as folder/name.data and .names. varnel writes its split
    files next to the data, so the data must be in the job's own folder; a
    relative link keeps the study movable."""
    for suffix in (".data", ".names"):
        target = os.path.relpath(os.path.abspath(data_base + suffix), os.path.abspath(folder))
        os.symlink(target, os.path.join(folder, name + suffix))


def compress(path):
    """path as path.gz, the same bytes for the same file (no name or time in
    its header), written whole or not at all; returns the new path."""
    target = path + ".gz"
    with open(path, "rb") as source, open(target + ".partial", "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0) as packed:
            shutil.copyfileobj(source, packed, 1 << 20)
    os.replace(target + ".partial", target)
    return target


def keep_only(folder, paths):
    """Removes every file of folder but paths: the bulky files a run leaves
    (split halves, the miner's files, tid lists) are read by nobody after
    its record and rule table are written."""
    for entry in os.scandir(folder):
        if entry.path not in paths:
            if entry.is_dir(follow_symlinks=False):
                shutil.rmtree(entry.path)
            else:
                os.remove(entry.path)


def main_of(run, parser, argv=None):
    """The body of a job script's main: its arguments, the job, and a failure
    as one "Error: " line and exit status 1."""
    args = parser.parse_args(argv)
    try:
        run(args)
    except (JobError, OSError, ValueError) as error:
        print(f"Error: {error}", file=sys.stderr)
        return 1
    return 0
