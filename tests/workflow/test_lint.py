"""Snakemake's lint of the workflow, with the example config and the truth
study's: it finds nothing but the missing conda environments and containers,
which the workflow does without (workflow/Snakefile says why)."""
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))
NO_SOFTWARE = "Specify a conda environment or container for each rule."


def lint(folder, config):
    """Snakemake's lint as (what, title) pairs, read from its text: its JSON
    output fails on a finding in a snakefile."""
    command = [sys.executable, "-m", "snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"),
               "--configfile", config, "--config", f"bin_dir={BIN_DIR}", "--lint"]
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=300,
                            stdin=subprocess.DEVNULL)
    findings, what = [], None
    for line in result.stderr.splitlines():
        if line.startswith("Lints for "):
            what = line[len("Lints for "):].rstrip(":")
        elif line.startswith("    * "):
            findings.append((what, line[len("    * "):].rstrip(":")))
    assert findings, result.stderr[-3000:]
    return findings


@pytest.mark.parametrize("config", ["config/config.yaml", "examples/truth-study.yaml",
                                    "examples/design-study.yaml"])
def test_lint_finds_nothing_but_the_missing_conda_environments(tmp_path, config):
    # The configs' paths are relative to the folder Snakemake runs in.
    for part in ("config", "examples", "tests"):
        os.symlink(os.path.join(ROOT, part), tmp_path / part)
    findings = lint(tmp_path, config)
    assert [finding for finding in findings if finding[1] != NO_SOFTWARE] == []
    # The lint went through the rules that run jobs, so it saw them all.
    linted = {what.split()[1] for what, _ in findings if what.startswith("rule ")}
    assert {"data", "experiment", "direct", "tables", "plot_methods", "report"} <= linted
