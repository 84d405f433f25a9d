"""One repetition of a generated setting at one design and level: the
holdout experiment (study_experiment) on the generated data set, then the
rules each procedure keeps judged against the data set's truth (truth.py):
the holdout's, and those of the direct-adjustment run with every method on
the same data set (study_direct, run by a job of its own, shared by the
designs of every mining share).

The experiment's folder keeps its record and rule table; JUDGED_JSON holds
the planted rules and those that are effects of their own, and per
procedure the discoveries, false discoveries, direction errors, redundant
and associated rules and the planted rules recovered. A procedure whose run
failed, or whose columns its rule table lacks, is left out of it (and so out
of every mean).

    truth_run.py --settings SETTINGS_JSON --split-record RECORD --data-base BASE
                 (--minsup LABEL | --top-k K) [--mining-share F] --level LEVEL
                 --seed SEED --threads N --folder FOLDER --judged JUDGED_JSON
                 --direct-record DIRECT_JSON --direct-folder FOLDER [--keep all|results]
"""
import csv
import gzip
import os
import sys

import study_experiment
import truth
from study_programs import JobError, main_of, read_json, varnel_outputs, write_json

# Holdout procedure -> the rule-table columns that must all be 1 for a kept rule.
HOLDOUT = {"holdout_raw": ["significant"], "holdout_bonferroni": ["significant_corrected"],
           "holdout_holm": ["significant_holm"], "holdout_fdr": ["significant_fdr"],
           "holdout_bh": ["significant_bh"],
           "holdout_productive": ["significant_corrected", "productive"],
           "holdout_productive_corrected": ["productive_corrected"]}
# Direct family-wise procedure -> its method in D.direct.json (and its column
# of D.direct.rules.csv); each also has a procedure NAME_productive that keeps
# the rules of the column METHOD_productive.
FAMILY_WISE = {"direct_bonferroni": "bonferroni_tested",
               "direct_bonferroni_closed": "bonferroni_closed",
               "direct_search_space": "search_space", "direct_layered": "layered",
               "direct_tarone": "tarone", "direct_tarone_closed": "tarone_closed",
               "direct_tarone_lowered": "tarone_lowered",
               "direct_westfall_young": "westfall_young"}
# Direct procedure -> (its column of D.direct.rules.csv, its method in D.direct.json).
DIRECT = {**{procedure: (method, method) for procedure, method in FAMILY_WISE.items()},
          "direct_fdr": ("fdr", "fdr"),
          **{procedure + "_productive": (method + "_productive", method)
             for procedure, method in FAMILY_WISE.items()}}
PROCEDURES = list(HOLDOUT) + list(DIRECT)
# The column of a rule table whose lift says which side of the overall rate a
# rule claims (the holdout table's is that of the mining half, where the rule
# was found); a table without one holds the miner's rules, which all claim above.
CLAIM_COLUMNS = ("mined_lift", "lift")


def claim_of(lift):
    """The side of the overall rate a rule of this lift claims (truth.ABOVE
    for an empty field: the miner's own rules all claim above)."""
    if lift == "":
        return truth.ABOVE
    lift = float(lift)
    return truth.ABOVE if lift > 1 else truth.BELOW if lift < 1 else truth.NO_CLAIM


def kept_rules(path, procedures):
    """The rules of a rule table (gzipped or not) each procedure keeps, as
    (rule, claim) pairs; procedures is name -> columns that must all be 1. A
    procedure whose column the table lacks is left out."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", newline="", encoding="utf-8") as handle:
        rows = csv.reader(handle)
        header = next(rows, [])
        rule = header.index("rule")
        lift = next((header.index(column) for column in CLAIM_COLUMNS if column in header), None)
        wanted = {name: [header.index(column) for column in needed]
                  for name, needed in procedures.items() if set(needed) <= set(header)}
        kept = {name: [] for name in wanted}
        for row in rows:
            if len(row) != len(header):
                raise ValueError(f"{path} line {rows.line_num}: {len(row)} fields, "
                                 f"not {len(header)}")
            try:
                claim = truth.ABOVE if lift is None else claim_of(row[lift])
            except ValueError:
                raise ValueError(f"{path} line {rows.line_num}: the lift {row[lift]!r} is no "
                                 "number") from None
            for name, at in wanted.items():
                if all(row[index] == "1" for index in at):
                    kept[name].append((row[rule], claim))
    return kept


def holdout_kept(folder, name):
    record_path, rules_path = varnel_outputs(folder, name)
    record = read_json(record_path)
    if record.get("status") != "ok":
        return {}
    if not os.path.isfile(rules_path + ".gz"):
        raise JobError(f"no rule table {rules_path}.gz beside the successful record")
    return kept_rules(rules_path + ".gz", HOLDOUT)


def computed(method):
    """Whether a direct method's verdicts mean anything: the lowered Tarone
    level only when asked for, Westfall-Young only with a level (none with
    too few permutations). Layered has a level per length instead of one."""
    return (isinstance(method, dict) and method.get("computed", True) is not False
            and ("level" not in method or method["level"] is not None))


def direct_kept(folder, name):
    """The rules each direct procedure keeps whose method's level was computed."""
    figures = read_json(os.path.join(folder, name + ".direct.json"))
    methods = figures.get("methods", {})
    wanted = {procedure: [column] for procedure, (column, method) in DIRECT.items()
              if computed(methods.get(method))}
    return kept_rules(os.path.join(folder, name + ".direct.rules.csv.gz"), wanted)


def judge(model, kept):
    """Per procedure: its counts of truth.judge_rules, the planted rules
    recovered as a count."""
    judged = {}
    for procedure in PROCEDURES:
        if procedure in kept:
            counts = truth.judge_rules(model, [rule for rule, _ in kept[procedure]],
                                       [claim for _, claim in kept[procedure]])
            counts["recovered"] = len(counts["recovered"])
            judged[procedure] = counts
    return judged


def run(args):
    settings = read_json(args.settings)
    name = settings["dataset"]
    study_experiment.run(args)  # keeps only its own files in args.folder
    kept = holdout_kept(args.folder, name)
    if read_json(args.direct_record).get("status") == "ok":
        kept.update(direct_kept(args.direct_folder, name))
    model = truth.load_truth(args.data_base + ".truth.json")
    write_json({"dataset": name, "generation_seed": settings.get("generation_seed"),
                "planted": len(model.planted), "effective": len(truth.effective_planted(model)),
                "procedures": judge(model, kept)}, args.judged)


def argument_parser():
    parser = study_experiment.argument_parser()
    parser.description = __doc__.split("\n\n")[0]
    for option in ("--judged", "--direct-record", "--direct-folder"):
        parser.add_argument(option, required=True)
    return parser


def main():
    return main_of(run, argument_parser())


if __name__ == "__main__":
    sys.exit(main())
