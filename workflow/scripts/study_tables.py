"""The study's tables, from the experiments' records and rule tables and the
direct-adjustment records. Only experiments whose status is "ok" enter a
mean, a count of rules or the rule stability; failed ones are counted apart.

A job is a dict: dataset, minsup (its label), level, the path of its record
and for an experiment its repetition and the path of its rule table, as the
study's plan (written by the workflow) lists them.

    study_tables.py --plan PLAN_JSON --out-dir DIR
"""
import argparse
import json
import os
import sys

import pandas as pd

KEYS = ["dataset", "minsup", "level"]

# summary name -> field of the experiment record
MEASURES = {
    "mined": "miner.rules_mined",
    "kept": "holdout.sig_at_level",
    "bonferroni": "holdout.sig_at_corrected",
    "fdr": "holdout.sig_at_fdr",
    "reversed": "holdout.reversed",
}

FLOAT_FORMAT = "%.10g"


def _read_record(path):
    try:
        with open(path) as handle:
            record = json.load(handle)
    except (OSError, ValueError) as error:
        return {"status": "failed", "errors": [f"cannot read the record {path}: {error}"]}
    return record if isinstance(record, dict) else {"status": "failed",
                                                    "errors": [f"{path} holds no object"]}


def _job_keys(job):
    return {key: job[key] for key in KEYS + ["repetition"] if key in job}


def experiments_table(jobs):
    """One row per experiment: the job's keys, status, then every field of
    its record (nested fields joined with dots, lists of text with '; ')."""
    rows = []
    for job in jobs:
        record = _read_record(job["record"])
        flat = pd.json_normalize(record, sep=".").iloc[0].to_dict() if record else {}
        row = _job_keys(job)
        row["min_sup"] = flat.pop("arguments.mine_min_sup", None)
        row["status"] = flat.pop("status", "failed") or "failed"
        for key, value in flat.items():
            row[key] = "; ".join(map(str, value)) if isinstance(value, list) else value
        rows.append(row)
    return pd.DataFrame(rows)


def direct_table(jobs):
    rows = []
    for job in jobs:
        record = _read_record(job["record"])
        rows.append({**{key: job[key] for key in KEYS},
                     "direct_min_sup": record.get("min_sup", job.get("min_sup")),
                     "direct_status": record.get("status", "failed"),
                     "direct_patterns_tested": record.get("patterns_tested"),
                     "direct_at_level": record.get("sig_at_level"),
                     "direct_bonferroni": record.get("sig_at_corrected")})
    return pd.DataFrame(rows, columns=KEYS + ["direct_min_sup", "direct_status",
                                              "direct_patterns_tested", "direct_at_level",
                                              "direct_bonferroni"])


def summary_table(experiments, direct):
    """Per data set x minimum support x level: n ok, failed, then mean, sd,
    min and max of each measure over the ok experiments, and the direct count."""
    ok = experiments["status"] == "ok"
    rows = []
    for keys, group in experiments.groupby(KEYS, sort=False):
        good = group[ok.loc[group.index]]
        row = dict(zip(KEYS, keys))
        row["min_sup"] = group["min_sup"].dropna().iloc[0] if group["min_sup"].notna().any() \
            else None
        row["n"] = len(good)
        row["failed"] = len(group) - len(good)
        for name, field in MEASURES.items():
            values = pd.to_numeric(good[field], errors="coerce") if field in good \
                else pd.Series(dtype=float)
            row[f"{name}_mean"] = values.mean()
            row[f"{name}_sd"] = values.std()
            row[f"{name}_min"] = values.min()
            row[f"{name}_max"] = values.max()
        rows.append(row)
    summary = pd.DataFrame(rows)
    return summary.merge(direct, on=KEYS, how="left")


def canonical_rule(text):
    """The items of a rule in a fixed order: the miner numbers items per
    split, so one rule may be written in another order in another split."""
    return " & ".join(sorted(str(text).split(" & ")))


def rules_table(jobs, experiments):
    """Every rule of every ok experiment, with the experiment's keys."""
    ok = set(experiments.index[experiments["status"] == "ok"])
    frames = []
    for index, job in enumerate(jobs):
        path = job["rules"]
        if index not in ok or not os.path.isfile(path):
            continue
        rules = pd.read_csv(path, dtype={"rule": str, "class": str},
                            keep_default_na=False, na_values=[""])
        keys = {**_job_keys(job), "min_sup": experiments.at[index, "min_sup"]}
        for key, value in reversed(list(keys.items())):
            rules.insert(0, key, value)
        rules["rule"] = rules["rule"].map(canonical_rule)
        frames.append(rules)
    if not frames:
        return pd.DataFrame(columns=KEYS + ["repetition", "min_sup", "rule", "test_pvalue",
                                            "significant", "significant_corrected",
                                            "significant_fdr"])
    return pd.concat(frames, ignore_index=True)


def stability_table(rules, experiments):
    """Per data set x minimum support x level and rule: in how many of the
    ok repetitions it was mined, kept, kept under Bonferroni, under FDR."""
    columns = KEYS + ["rule", "repetitions", "mined", "kept", "kept_bonferroni",
                      "kept_fdr"]
    if rules.empty:
        return pd.DataFrame(columns=columns)
    done = experiments[experiments["status"] == "ok"].groupby(KEYS, sort=False).size()
    flags = rules.assign(
        kept=pd.to_numeric(rules["significant"], errors="coerce").fillna(0).astype(int),
        kept_bonferroni=pd.to_numeric(rules["significant_corrected"],
                                      errors="coerce").fillna(0).astype(int),
        kept_fdr=pd.to_numeric(rules["significant_fdr"], errors="coerce").fillna(0).astype(int))
    # A rule is counted once per repetition, even if written twice.
    per_rep = flags.groupby(KEYS + ["rule", "repetition"], sort=False)[
        ["kept", "kept_bonferroni", "kept_fdr"]].max().reset_index()
    table = per_rep.groupby(KEYS + ["rule"], sort=False).agg(
        mined=("repetition", "nunique"), kept=("kept", "sum"),
        kept_bonferroni=("kept_bonferroni", "sum"), kept_fdr=("kept_fdr", "sum")).reset_index()
    table["repetitions"] = [done.get(tuple(keys), 0) for keys in table[KEYS].itertuples(index=False)]
    order = {keys: i for i, keys in enumerate(dict.fromkeys(map(tuple, table[KEYS].values)))}
    table["_group"] = [order[tuple(keys)] for keys in table[KEYS].values]
    table = table.sort_values(["_group", "kept", "mined", "rule"],
                              ascending=[True, False, False, True], kind="stable")
    return table[columns].reset_index(drop=True)


PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>body{{font-family:sans-serif;font-size:13px}} table{{border-collapse:collapse}}
th,td{{border:1px solid #bbb;padding:2px 6px;text-align:right}} th{{background:#eee}}
tr:nth-child(even) td{{background:#f7f7f7}}</style></head>
<body><h1>{title}</h1><p>{rows} rows; the same table as {name}.csv.</p>{table}</body></html>
"""


def write_page(table, path, title):
    """A table as a web page, for reading it in the report."""
    with open(path, "w") as page:
        page.write(PAGE.format(title=title, rows=len(table), name=os.path.basename(path)[:-5],
                               table=table.to_html(index=False, na_rep="",
                                                   float_format=lambda x: f"{x:.4g}")))


TITLES = {"experiments": "Experiments: one row per split", "summary":
          "Summary per data set, minimum support and level", "rule_stability":
          "Rule stability: in how many splits each rule was mined and kept"}


def write_tables(experiment_jobs, direct_jobs, out_dir):
    """experiments.csv, summary.csv, rules.csv and rule_stability.csv, and
    web pages of all but the rules in out_dir/pages."""
    os.makedirs(os.path.join(out_dir, "pages"), exist_ok=True)
    experiments = experiments_table(experiment_jobs)
    summary = summary_table(experiments, direct_table(direct_jobs))
    rules = rules_table(experiment_jobs, experiments)
    stability = stability_table(rules, experiments)
    for name, table in (("experiments", experiments), ("summary", summary),
                        ("rules", rules), ("rule_stability", stability)):
        table.to_csv(os.path.join(out_dir, name + ".csv"), index=False,
                     float_format=FLOAT_FORMAT)
        if name in TITLES:
            write_page(table, os.path.join(out_dir, "pages", name + ".html"), TITLES[name])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--plan", required=True,
                        help="the study's plan: its experiments and direct runs")
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args(argv)
    with open(args.plan) as handle:
        plan = json.load(handle)
    write_tables(plan["experiments"], plan["direct"], args.out_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
