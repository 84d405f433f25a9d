"""The study's plots, drawn from its database (study_db), one panel per data
set and level; what they need of the rules is counted in the database or read
a block of rows at a time. The Agg canvas writes PNG files without a display.

    study_plots.py survivors|test_pvalues|rule_stability|methods DATABASE PLOT_PNG
"""
import math
import sqlite3
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


def pvalue_histograms(connection):
    """Per data set, level and minimum support: bin edges and counts of the
    log10 test p-values of its rules (the bins shared by a panel's lines)."""
    cells = pd.read_sql_query(
        "SELECT c.id, c.dataset, c.minsup, c.level, min(h.pvalue) AS low FROM cells c "
        "LEFT JOIN experiments e ON e.cell = c.id LEFT JOIN rule_figures f "
        "ON f.experiment = e.id LEFT JOIN half_figures h ON h.id = f.test_half "
        "GROUP BY c.id ORDER BY c.ordinal", connection)
    rows = []
    for (dataset, level), panel in cells.groupby(["dataset", "level"], sort=False):
        lows = panel["low"].dropna()
        low = math.log10(max(lows.min(), 1e-300)) if len(lows) else math.log10(level)
        edges = np.linspace(min(low, math.log10(level)) - 0.5, 0.0, 31)
        for cell, minsup in zip(panel["id"], panel["minsup"]):
            counts = np.zeros(len(edges) - 1, dtype=np.int64)
            # Each distinct p-value once, with the number of rules that have it.
            cursor = connection.execute(
                "SELECT h.pvalue, count(*) FROM experiments e JOIN rule_figures f "
                "ON f.experiment = e.id JOIN half_figures h ON h.id = f.test_half "
                "WHERE e.cell = ? AND h.pvalue IS NOT NULL GROUP BY f.test_half", (int(cell),))
            while block := cursor.fetchmany(50000):
                values = np.array(block, dtype=float)
                # A p-value a rounding error puts above 1 is 1.
                counts += np.histogram(np.log10(np.clip(values[:, 0], 1e-300, 1.0)), bins=edges,
                                       weights=values[:, 1])[0].astype(np.int64)
            rows.append({"dataset": dataset, "level": level, "minsup": minsup, "edges": edges,
                         "counts": counts})
    return pd.DataFrame(rows, columns=["dataset", "level", "minsup", "edges", "counts"])


def plot_pvalues(histograms, path):
    """Where the mined rules' test p-values lie, per minimum support."""
    figure, panels = _panels(histograms, "Test p-values of the mined rules on the test half "
                             "(all splits together)")
    for dataset, level, axes in panels:
        rows = _select(histograms, dataset, level)
        if rows.empty or sum(counts.sum() for counts in rows["counts"]) == 0:
            _no_data(axes)
        else:
            for row in rows.itertuples():
                axes.hist(row.edges[:-1], bins=row.edges, weights=row.counts, histtype="step",
                          linewidth=1.5, label=f"minimum support {row.minsup}")
            axes.axvline(math.log10(level), color="black", linestyle="--",
                         label=f"level {level}")
            axes.legend(fontsize="x-small")
        axes.set_title(f"{dataset}, level {level}")
        axes.set_xlabel("test p-value (log10; left of the dashed line: significant)")
        axes.set_ylabel("rules, all splits")
        axes.yaxis.set_major_locator(MaxNLocator(integer=True))
        axes.grid(alpha=0.3)
    figure.savefig(path, dpi=100)


def stability_counts(connection):
    """Per data set, minimum support and level: how many distinct rules were
    kept in k of the R splits, k = 0 (mined, never kept) to R."""
    counted = pd.read_sql_query(
        "SELECT dataset, minsup, level, max(repetitions) AS repetitions, kept, "
        "count(*) AS rules FROM rule_stability GROUP BY cell_ordinal, kept "
        "ORDER BY cell_ordinal, kept", connection)
    rows = []
    for (dataset, minsup, level), group in counted.groupby(["dataset", "minsup", "level"],
                                                           sort=False):
        repetitions = int(group["repetitions"].max())
        counts = dict(zip(group["kept"].astype(int), group["rules"].astype(int)))
        for k in range(repetitions + 1):
            rows.append({"dataset": dataset, "minsup": minsup, "level": level,
                         "repetitions": repetitions, "k": k, "rules": counts.get(k, 0)})
    return pd.DataFrame(rows, columns=["dataset", "minsup", "level", "repetitions", "k",
                                       "rules"])


def plot_stability(counts, path):
    """Bars: distinct rules kept in exactly k of the R splits."""
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


# The procedures of methods.png: (summary column, label); the holdout's are
# means over the splits with a standard deviation, the direct ones one count.
HOLDOUT_METHODS = [("kept", "raw level"), ("bonferroni", "Bonferroni"), ("holm", "Holm"),
                   ("fdr", "FDR")]
DIRECT_METHODS = [("direct_bonferroni", "Bonferroni over patterns tested"),
                  ("direct_space", "search space"), ("direct_layered", "layered"),
                  ("direct_tarone", "Tarone"), ("direct_tarone_lowered", "Tarone, lowered support"),
                  ("direct_westfall_young", "Westfall-Young"), ("direct_fdr", "FDR")]


def method_bars(summary):
    """(label, colour, column of the means, column of the spreads or None) of
    each procedure the summary has: blues for holdout, oranges for direct."""
    holdout = [method for method in HOLDOUT_METHODS if f"{method[0]}_mean" in summary]
    direct = [method for method in DIRECT_METHODS if method[0] in summary]
    blues = matplotlib.colormaps["Blues"](np.linspace(0.9, 0.4, max(1, len(holdout))))
    oranges = matplotlib.colormaps["Oranges"](np.linspace(0.95, 0.3, max(1, len(direct))))
    return ([(f"holdout: {label}", colour, f"{name}_mean", f"{name}_sd")
             for (name, label), colour in zip(holdout, blues)] +
            [(f"direct: {label}", colour, name, None)
             for (name, label), colour in zip(direct, oranges)])


def plot_methods(summary, path):
    """Per minimum support, the rules each procedure keeps, side by side."""
    figure, panels = _panels(summary, "Rules each procedure keeps, by minimum support\n"
                             "(holdout, blue: mean ± 1 standard deviation over the splits;\n"
                             "direct adjustment on the whole data set, orange: one run)",
                             wide=9.0, high=4.0)
    bars = method_bars(summary)
    width = 0.85 / len(bars)
    for dataset, level, axes in panels:
        rows = _select(summary, dataset, level).sort_values("min_sup")
        if rows.empty or rows["n"].sum() == 0:
            _no_data(axes)
        x = np.arange(len(rows))
        for i, (label, colour, mean, spread) in enumerate(bars):
            axes.bar(x + (i - (len(bars) - 1) / 2) * width, rows[mean].astype(float).fillna(0),
                     width=width, color=colour, label=label,
                     yerr=rows[spread].astype(float).fillna(0) if spread else None,
                     error_kw={"capsize": 2, "elinewidth": 0.8})
        axes.set_xticks(x, [f"{minsup} ({min_sup:.0f} records)" for minsup, min_sup
                            in zip(rows["minsup"], rows["min_sup"].astype(float))])
        axes.set_title(f"{dataset}, level {level}")
        axes.set_xlabel("minimum support (records of the mining half)")
        axes.set_ylabel("number of rules kept")
        axes.grid(alpha=0.3, axis="y")
        # Beside the panel, so that no bar is hidden.
        axes.legend(fontsize="x-small", loc="upper left", bbox_to_anchor=(1.01, 1.0))
    figure.savefig(path, dpi=100)


def read_summary(connection):
    return pd.read_sql_query("SELECT * FROM summary", connection)


# plot name -> (what it reads from the database, how it draws it)
PLOTS = {"survivors": (read_summary, plot_survivors),
         "test_pvalues": (pvalue_histograms, plot_pvalues),
         "rule_stability": (stability_counts, plot_stability),
         "methods": (read_summary, plot_methods)}


def main(argv):
    if len(argv) != 3 or argv[0] not in PLOTS:
        print("usage:" + __doc__.split("\n\n")[1].rstrip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(f"file:{argv[1]}?mode=ro", uri=True)
    read, draw = PLOTS[argv[0]]
    draw(read(connection), argv[2])
    connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
