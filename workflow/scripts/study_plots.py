"""The study's plots, drawn from its tables, one panel per data set and level.
The Agg canvas writes PNG files without a display."""
import math
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.ticker import MaxNLocator  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

SERIES = [("mined", "mined on the mining half", "tab:gray"),
          ("kept", "significant at the level", "tab:blue"),
          ("fdr", "under the FDR step", "tab:green"),
          ("bonferroni", "at the Bonferroni level", "tab:red")]


def _panels(table, title, wide=5.2, high=3.8):
    """A figure with one axes per (data set, level) in the table."""
    datasets = list(dict.fromkeys(table["dataset"])) or ["(none)"]
    levels = list(dict.fromkeys(table["level"])) or [None]
    figure = Figure(figsize=(max(7.5, wide * len(levels)), high * len(datasets) + 1.0),
                    layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle(title)
    grid = figure.subplots(len(datasets), len(levels), squeeze=False)
    return figure, [(dataset, level, grid[row][column])
                    for row, dataset in enumerate(datasets)
                    for column, level in enumerate(levels)]


def _select(table, dataset, level):
    return table[(table["dataset"] == dataset) & (table["level"] == level)]


def _no_data(axes):
    axes.text(0.5, 0.5, "no successful experiment", ha="center", va="center",
              transform=axes.transAxes)


def plot_survivors(summary, path):
    """Rules against minimum support: holdout means with +-1 sd bars, and the
    direct-adjustment count on the whole data set."""
    figure, panels = _panels(summary, "Rules found on one half and rules that hold on the "
                             "other half, by minimum support\n(holdout: mean ± 1 standard "
                             "deviation over the splits; dashed: direct adjustment,\nthe miner "
                             "alone on the whole data set at the same share of records)")
    for dataset, level, axes in panels:
        rows = _select(summary, dataset, level).sort_values("min_sup")
        if rows.empty or rows["n"].sum() == 0:
            _no_data(axes)
        x = rows["min_sup"].astype(float)
        # Series that coincide stay visible side by side.
        step = 0.008 * ((x.max() - x.min()) or 1.0)
        for i, (name, label, colour) in enumerate(SERIES):
            axes.errorbar(x + (i - 1.5) * step, rows[f"{name}_mean"],
                          yerr=rows[f"{name}_sd"].fillna(0), marker="o", capsize=4,
                          color=colour, label=f"holdout: {label}")
        axes.plot(x, rows["direct_bonferroni"].astype(float), linestyle="--", marker="s",
                  color="black", label="direct adjustment: at level / patterns tested")
        axes.set_title(f"{dataset}, level {level}")
        axes.set_xlabel("minimum support (records of the mining half)")
        axes.set_ylabel("number of rules")
        axes.set_ylim(bottom=0)
        axes.grid(alpha=0.3)
        axes.legend(fontsize="x-small")
    figure.savefig(path, dpi=100)


def plot_pvalues(rules, path):
    """Where the mined rules' test p-values lie, per minimum support."""
    figure, panels = _panels(rules, "Test p-values of the mined rules on the test half "
                             "(all splits together)")
    for dataset, level, axes in panels:
        rows = _select(rules, dataset, level)
        pvalues = pd.to_numeric(rows.get("test_pvalue"), errors="coerce")
        if rows.empty or pvalues.isna().all():
            _no_data(axes)
        else:
            logs = np.log10(pvalues.clip(lower=1e-300).dropna())
            bins = np.linspace(min(logs.min(), math.log10(level)) - 0.5, 0.0, 31)
            for minsup, group in rows.groupby("minsup", sort=False):
                values = np.log10(pd.to_numeric(group["test_pvalue"], errors="coerce")
                                  .clip(lower=1e-300).dropna())
                axes.hist(values, bins=bins, histtype="step", linewidth=1.5,
                          label=f"minimum support {minsup}")
            axes.axvline(math.log10(level), color="black", linestyle="--",
                         label=f"level {level}")
            axes.legend(fontsize="x-small")
        axes.set_title(f"{dataset}, level {level}")
        axes.set_xlabel("test p-value (log10; left of the dashed line: significant)")
        axes.set_ylabel("rules, all splits")
        axes.yaxis.set_major_locator(MaxNLocator(integer=True))
        axes.grid(alpha=0.3)
    figure.savefig(path, dpi=100)


def stability_counts(stability):
    """Per data set, minimum support and level: how many distinct rules were
    kept in k of the R splits, k = 0 (mined, never kept) to R."""
    rows = []
    for (dataset, minsup, level), group in stability.groupby(
            ["dataset", "minsup", "level"], sort=False):
        repetitions = int(group["repetitions"].max())
        counts = group["kept"].astype(int).value_counts()
        for k in range(repetitions + 1):
            rows.append({"dataset": dataset, "minsup": minsup, "level": level,
                         "repetitions": repetitions, "k": k, "rules": int(counts.get(k, 0))})
    return pd.DataFrame(rows, columns=["dataset", "minsup", "level", "repetitions", "k",
                                       "rules"])


def plot_stability(stability, path):
    """Bars: distinct rules kept in exactly k of the R splits."""
    counts = stability_counts(stability)
    figure, panels = _panels(counts, "Rule stability: in how many of the R splits a rule\n"
                             "stays significant at the level on the test half")
    for dataset, level, axes in panels:
        rows = _select(counts, dataset, level)
        if rows.empty:
            _no_data(axes)
        minsups = list(dict.fromkeys(rows["minsup"]))
        width = 0.8 / max(1, len(minsups))
        for i, minsup in enumerate(minsups):
            bars = rows[rows["minsup"] == minsup]
            axes.bar(bars["k"] + (i - (len(minsups) - 1) / 2) * width, bars["rules"],
                     width=width, label=f"minimum support {minsup}")
        if not rows.empty:
            repetitions = int(rows["repetitions"].max())
            axes.set_xticks(range(repetitions + 1))
            axes.legend(fontsize="x-small")
            axes.set_xlabel(f"k = splits (of R = {repetitions}) in which the rule is "
                            "kept; 0 = mined but never kept")
        axes.set_title(f"{dataset}, level {level}")
        axes.set_ylabel("distinct rules")
        axes.yaxis.set_major_locator(MaxNLocator(integer=True))
        axes.grid(alpha=0.3, axis="y")
    figure.savefig(path, dpi=100)


def main(argv):
    """survivors|test_pvalues|rule_stability TABLE_CSV PLOT_PNG"""
    plots = {"survivors": plot_survivors, "test_pvalues": plot_pvalues,
             "rule_stability": plot_stability}
    if len(argv) != 3 or argv[0] not in plots:
        print(f"usage: {sys.argv[0]} {main.__doc__}", file=sys.stderr)
        return 2
    # Rule texts are read as written: a value such as NA is no missing value.
    table = pd.read_csv(argv[1], keep_default_na=False, na_values=[""],
                        dtype={"minsup": str, "rule": str})
    plots[argv[0]](table, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
