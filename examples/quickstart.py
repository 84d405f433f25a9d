"""The vote data from a pandas DataFrame through a holdout experiment and
direct adjustment to a plot of the rules each keeps.

    make python                      # once: installs the package varnel
    python3 examples/quickstart.py   # prints the counts, writes quickstart.png

An optional argument names the plot's file instead of quickstart.png."""
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402

import varnel  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def vote_frame():
    """The 435 members of the House of 1984: party and 16 votes (y, n, or
    missing), read into a data frame as any table would be."""
    with open(os.path.join(HERE, "vote.names")) as file:
        names = [line.split(":", 1)[0] for line in file if line.strip()]
    frame = pd.read_csv(os.path.join(HERE, "vote.data"), header=None, names=names, na_values="?")
    frame["Class"] = frame["Class"].map({1: "republican", 0: "democrat"})
    return frame


def minus_log10(pvalues):
    """-log10 p, with p = 0 (beyond a double's range) drawn at 320."""
    return [320 if p == 0 else -math.log10(p) for p in pvalues]


def plot(holdout, direct, path):
    """Left: the mined rules by their test p-value against their confidence
    on the test half, those kept at the Bonferroni level in colour. Right: the
    rules of the whole data set, those kept by Westfall-Young in colour."""
    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5), sharey=True)
    rules = holdout.rules
    kept = rules["significant_corrected"] == 1
    for axis, frame, confidence, pvalue, mask, title in (
        (left, rules, "test_confidence", "test_pvalue", kept,
         f"holdout: {kept.sum()} of {len(rules)} mined rules kept (Bonferroni)"),
        (right, direct.rules, "confidence", "pvalue", direct.rules["westfall_young"] == 1,
         f"direct: {direct.counts['westfall_young']} of {len(direct.rules)} rules kept "
         "(Westfall-Young)"),
    ):
        axis.scatter(frame.loc[~mask, confidence], minus_log10(frame.loc[~mask, pvalue]),
                     s=12, color="lightgrey", label="not kept")
        axis.scatter(frame.loc[mask, confidence], minus_log10(frame.loc[mask, pvalue]),
                     s=12, color="tab:blue" if axis is left else "tab:orange", label="kept")
        axis.set_title(title, fontsize=10)
        axis.set_xlabel("confidence (share of republicans)")
        axis.legend(loc="upper left")
    left.set_ylabel("-log10 p-value")
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "quickstart.png"
    frame = vote_frame()
    # Mine on one half with patterns of at least 10% of its records, re-test
    # on the other half; the seed repeats the split.
    holdout = varnel.holdout(frame, "Class", "republican", min_sup=0.1, seed=3)
    record = holdout.record
    print(f"holdout (seed {record['seed']}, min_sup {record['arguments']['mine_min_sup']} of "
          f"{record['records']['mining_part']} records):")
    print("  " + ", ".join(f"{name} {count}" for name, count in holdout.counts.items()))
    # Every direct correction on the whole data, at the same share of records.
    direct = varnel.direct(frame, "Class", "republican", min_sup=0.1, permutations=1000, seed=1)
    print(f"direct adjustment (min_sup {direct.record['min_sup']} of "
          f"{direct.record['transactions']} records, {direct.record['patterns_tested']} patterns "
          "tested):")
    print("  " + ", ".join(f"{name} {count}" for name, count in direct.counts.items()))
    plot(holdout, direct, path)
    print(f"plot: {path}")


if __name__ == "__main__":
    main()
