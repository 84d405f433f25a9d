"""The study's plots, drawn from its database (study_db); what they need of
the rules is counted in the database or read a block of rows at a time. The
Agg canvas writes PNG files without a display.

Each study-wide plot has one row per data set and minimum support and one
panel per level, and shrinks its rows as they grow in number, so that no
figure is taller than MAX_HEIGHT pixels: survivors.png and methods.png on log
count scales, test_pvalues.png and rule_stability.png as heat maps of shares.
`datasets` draws one page per data set with its spreads and lines.

    study_plots.py survivors|test_pvalues|rule_stability|methods DATABASE PLOT_PNG
    study_plots.py datasets DATABASE FOLDER      (FOLDER/DATASET.png)
"""
import math
import os
import sqlite3
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.colors import Normalize, SymLogNorm  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.ticker import MaxNLocator  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

from study_config import design_of_key  # noqa: E402

DPI = 100
# Two screens; the rows get what the title, axes and legend leave.
MAX_HEIGHT = 2000
ROWS_HEIGHT = 15.5  # inches
FRAME_HEIGHT = 3.2  # inches: title, legend or colour bar, axis labels
# Above this many rows a heat map's cells carry no numbers: too small to read.
ANNOTATED_ROWS = 30

SERIES = [("mined", "mined on the mining half", "tab:gray", "o"),
          ("kept", "significant at the level", "tab:blue", "s"),
          ("fdr", "under the FDR step", "tab:green", "D"),
          ("bonferroni", "at the Bonferroni level", "tab:red", "^")]
DIRECT_SERIES = ("direct_bonferroni", "direct adjustment: at level / patterns tested", "black",
                 "x")


def row_size(count):
    """Height in inches of one row, and its label's font size."""
    row = min(0.3, ROWS_HEIGHT / max(1, count))
    return row, max(3.0, min(9.0, row * 72 * 0.7))


def _label_rows(axes, keys, font):
    """Each row's data set and minimum support; where rows are too thin to
    read, each data set's name once, at the middle of its rows."""
    if font >= 5.0:
        axes.set_yticks(range(len(keys)), [f"{dataset}, {minsup}"
                                           for dataset, minsup in keys])
        return
    groups = {}
    for row, (dataset, _) in enumerate(keys):
        groups.setdefault(dataset, []).append(row)
    rows = list(groups.values())
    font = max(3.0, min(9.0, font * len(rows[0]))) if rows else font
    axes.set_yticks([sum(group) / len(group) for group in rows], list(groups), fontsize=font)


def _rows_figure(table, title, panel_width, legend_height=0.0):
    """A figure with one row per data set and minimum support of the table
    and one panel per level: (figure, row keys, [(level, axes)], the axes of
    the legend row or None). The rows shrink as they grow in number, so the
    figure stays within MAX_HEIGHT."""
    keys = list(dict.fromkeys(zip(table["dataset"], table["minsup"]))) or [("(none)", "")]
    levels = list(dict.fromkeys(table["level"])) or [0.05]
    row, font = row_size(len(keys))
    height = min(MAX_HEIGHT / DPI, len(keys) * row + FRAME_HEIGHT + legend_height)
    figure = Figure(figsize=(max(8.0, 2.6 + panel_width * len(levels)), height),
                    layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle(title)
    heights = [legend_height, height - legend_height] if legend_height else [1]
    layout = figure.add_gridspec(len(heights), len(levels), height_ratios=heights)
    legend = None
    if legend_height:
        legend = figure.add_subplot(layout[0, :])
        legend.axis("off")
    panels = []
    for column, level in enumerate(levels):
        axes = figure.add_subplot(layout[-1, column], sharey=panels[0][1] if panels else None)
        axes.set_title(f"level {level:g}", fontsize=9)
        axes.set_ylim(len(keys) - 0.5, -0.5)
        axes.tick_params(axis="y", labelsize=font, length=0)
        if column == 0:
            _label_rows(axes, keys, font)
            axes.set_ylabel("data set, minimum support")
        else:
            axes.tick_params(labelleft=False)
        panels.append((level, axes))
    return figure, keys, panels, legend


def _rows_of(table, keys, level):
    """The table's rows at a level, one per data set and minimum support, in order."""
    rows = table[table["level"] == level]
    return rows.set_index(["dataset", "minsup"]).reindex(keys)


def _numbers(rows, column):
    """A column as numbers, all missing where the table lacks it."""
    if column not in rows:
        return pd.Series(np.nan, index=rows.index)
    return pd.to_numeric(rows[column], errors="coerce")


def _count_text(value):
    if pd.isna(value):
        return ""
    if value >= 10000:
        return f"{value / 1000:.0f}k"
    return f"{value:.0f}" if value >= 10 or float(value).is_integer() else f"{value:.1f}"


def heat_map(axes, matrix, norm, cmap, annotate, extent=None):
    """A heat map with missing values grey; with ANNOTATE, each cell's number."""
    cmap = matplotlib.colormaps[cmap].copy()
    cmap.set_bad("#e5e5e5")
    image = axes.imshow(np.ma.masked_invalid(matrix.astype(float)), aspect="auto", norm=norm,
                        cmap=cmap, interpolation="nearest", extent=extent)
    if annotate is not None:
        for (row, column), value in np.ndenumerate(matrix):
            if not pd.isna(value):
                dark = norm(value) > 0.6
                axes.text(column, row, annotate(value), ha="center", va="center", fontsize=7,
                          color="white" if dark else "black")
    return image


def _count_norm(values):
    """A log scale for counts from 0 to the largest (0 and 1 apart)."""
    values = np.asarray(values, dtype=float)
    top = np.nanmax(values) if np.isfinite(values).any() else 1.0
    return SymLogNorm(linthresh=1.0, vmin=0.0, vmax=max(10.0, top), base=10)


def plot_survivors(summary, path):
    """Per data set: the mean rules mined and those that hold on the test half
    at the level, under the FDR step and at the Bonferroni level, beside
    direct adjustment, on a log scale; series that coincide sit one above
    the other within the row."""
    figure, keys, panels, legend = _rows_figure(
        summary, "Rules found on one half and rules that hold on the other half\n"
        "(holdout: mean over the splits; direct adjustment: one run on the whole data set)",
        panel_width=4.5, legend_height=0.7)
    series = SERIES + [DIRECT_SERIES]
    offsets = np.linspace(-0.3, 0.3, len(series))
    top = 10.0
    for level, axes in panels:
        rows = _rows_of(summary, keys, level)
        y = np.arange(len(keys))
        for (name, label, colour, marker), offset in zip(series, offsets):
            values = _numbers(rows, name if name.startswith("direct") else f"{name}_mean")
            axes.plot(values, y + offset, linestyle="none", marker=marker, color=colour,
                      markersize=4)
            top = max(top, float(np.nanmax(values)) if values.notna().any() else 0.0)
        axes.grid(alpha=0.3)
        axes.set_xlabel("rules (log scale)", fontsize=8)
    for _, axes in panels:
        axes.set_xscale("symlog", linthresh=1.0)
        axes.set_xlim(-0.2, top * 1.5)
    legend.legend(handles=[Line2D([], [], linestyle="none", marker=marker, color=colour,
                                  label=label if name.startswith("direct") else
                                  f"holdout: {label}")
                           for name, label, colour, marker in series],
                  loc="center", ncol=2, fontsize=8, frameon=False)
    figure.savefig(path, dpi=DPI)


def pvalue_histograms(connection):
    """Per data set, minimum support and level: bin edges and counts of the
    log10 test p-values of its rules; the bins are shared by every data set
    at a level, so that a heat map's columns line up."""
    cells = pd.read_sql_query(
        "SELECT c.id, c.dataset, c.minsup, c.level, min(h.pvalue) AS low FROM cells c "
        "LEFT JOIN experiments e ON e.cell = c.id LEFT JOIN rule_figures f "
        "ON f.experiment = e.id LEFT JOIN half_figures h ON h.id = f.test_half "
        "GROUP BY c.id ORDER BY c.ordinal", connection)
    rows = []
    for level, panel in cells.groupby("level", sort=False):
        lows = panel["low"].dropna()
        low = math.log10(max(lows.min(), 1e-300)) if len(lows) else math.log10(level)
        edges = np.linspace(min(low, math.log10(level)) - 0.5, 0.0, 31)
        for cell, dataset, minsup in zip(panel["id"], panel["dataset"], panel["minsup"]):
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


def _shares(counts):
    total = counts.sum()
    return counts / total if total else np.full(len(counts), np.nan)


def plot_pvalues(histograms, path):
    """Per data set and minimum support, the share of its mined rules in each
    bin of log10 test p-value."""
    figure, keys, panels, _ = _rows_figure(
        histograms, "Test p-values of the mined rules on the test half, all splits\n"
        "together (share of the row's rules per bin; left of the dashed line: significant)",
        panel_width=4.5)
    image = None
    for level, axes in panels:
        rows = _rows_of(histograms, keys, level)
        known = rows["edges"].dropna()
        if known.empty:
            continue
        edges = known.iloc[0]
        matrix = np.array([_shares(counts) if isinstance(counts, np.ndarray)
                           else np.full(len(edges) - 1, np.nan) for counts in rows["counts"]])
        image = heat_map(axes, matrix, Normalize(0.0, 1.0), "Purples", None,
                      extent=(edges[0], edges[-1], len(keys) - 0.5, -0.5))
        axes.axvline(math.log10(level), color="black", linestyle="--", linewidth=1)
        axes.set_xlabel("log10 test p-value", fontsize=8)
    _colour_bar(figure, image, panels, "share of the row's rules")
    figure.savefig(path, dpi=DPI)


def _colour_bar(figure, image, panels, label):
    if image is not None:
        figure.colorbar(image, ax=[axes for _, axes in panels], location="top", shrink=0.5,
                        aspect=40, label=label)


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
    """Per data set and minimum support, the share of its distinct rules kept
    in exactly k of the R splits."""
    figure, keys, panels, _ = _rows_figure(
        counts, "Rule stability: in how many of the R splits a rule stays\nsignificant at "
        "the level (share of the row's distinct rules; k = 0: mined, never kept)",
        panel_width=4.5)
    image = None
    for level, axes in panels:
        rows = counts[counts["level"] == level]
        if rows.empty:
            continue
        repetitions = int(rows["repetitions"].max())
        table = rows.pivot_table(index=["dataset", "minsup"], columns="k", values="rules",
                                 aggfunc="sum")
        table = table.reindex(index=pd.MultiIndex.from_tuples(keys),
                              columns=range(repetitions + 1))
        matrix = np.array([_shares(np.nan_to_num(row)) if np.isfinite(row).any()
                           else row for row in table.to_numpy(dtype=float)])
        image = heat_map(axes, matrix, Normalize(0.0, 1.0), "Greens", None)
        axes.xaxis.set_major_locator(MaxNLocator(integer=True))
        axes.set_xlabel(f"k (of R = {repetitions} splits)", fontsize=8)
    _colour_bar(figure, image, panels, "share of the row's distinct rules")
    figure.savefig(path, dpi=DPI)


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
    """A heat map of the rules each procedure keeps, per data set and minimum
    support (rows) and procedure (columns), on a log colour scale; with few
    rows each cell carries its number. Grey: not computed (direct adjustment
    of a generated data set is judged per repetition, in truth.png)."""
    bars = method_bars(summary)
    figure, keys, panels, _ = _rows_figure(
        summary, "Rules each procedure keeps\n(holdout: mean over the splits; direct "
        "adjustment: one run on the whole data set)", panel_width=0.36 * len(bars) + 0.4)
    annotate = _count_text if len(keys) <= ANNOTATED_ROWS else None
    norm = _count_norm([_numbers(summary, mean) for _, _, mean, _ in bars])
    image = None
    holdout = sum(1 for bar in bars if bar[3])
    for level, axes in panels:
        rows = _rows_of(summary, keys, level)
        matrix = np.column_stack([_numbers(rows, mean) for _, _, mean, _ in bars])
        image = heat_map(axes, matrix, norm, "viridis", annotate)
        axes.set_xticks(range(len(bars)), [label for label, _, _, _ in bars], rotation=90,
                        fontsize=7)
        axes.axvline(holdout - 0.5, color="white", linewidth=3)
    _colour_bar(figure, image, panels, "rules kept (log scale)")
    figure.savefig(path, dpi=DPI)


def _draw_survivor_lines(axes, rows):
    x = rows["min_sup"].astype(float)
    # Series that coincide stay visible side by side.
    step = 0.008 * ((x.max() - x.min()) or 1.0)
    for i, (name, label, colour, marker) in enumerate(SERIES):
        axes.errorbar(x + (i - 1.5) * step, rows[f"{name}_mean"],
                      yerr=rows[f"{name}_sd"].fillna(0), marker=marker, capsize=4,
                      color=colour, label=f"holdout: {label}")
    name, label, colour, marker = DIRECT_SERIES
    axes.plot(x, _numbers(rows, name), linestyle="--", marker=marker, color=colour, label=label)
    axes.set_xlabel("minimum support or top k (records of the mining part)")
    axes.set_ylabel("rules (log scale)")


def _draw_method_bars(axes, rows, bars):
    x = np.arange(len(rows))
    width = 0.85 / len(bars)
    for i, (label, colour, mean, spread) in enumerate(bars):
        axes.bar(x + (i - (len(bars) - 1) / 2) * width, _numbers(rows, mean).fillna(0),
                 width=width, color=colour, label=label,
                 yerr=_numbers(rows, spread).fillna(0) if spread else None,
                 error_kw={"capsize": 2, "elinewidth": 0.8})
    axes.set_xticks(x, [f"{minsup} ({min_sup:.0f} records)"
                        for minsup, min_sup in zip(rows["minsup"], rows["min_sup"].astype(float))])
    axes.set_xlabel("minimum support (records of the mining half)")
    axes.set_ylabel("rules kept (log scale)")


def _draw_pvalue_lines(axes, rows, level):
    for row in rows.itertuples():
        axes.hist(row.edges[:-1], bins=row.edges, weights=row.counts, histtype="step",
                  linewidth=1.5, label=design_of_key(row.minsup).describe())
    axes.axvline(math.log10(level), color="black", linestyle="--", label="the level")
    axes.set_xlabel("test p-value (log10; left of the dashed line: significant)")
    axes.set_ylabel("rules, all splits")


def _draw_stability_bars(axes, rows):
    minsups = list(dict.fromkeys(rows["minsup"]))
    width = 0.8 / max(1, len(minsups))
    for i, minsup in enumerate(minsups):
        bars = rows[rows["minsup"] == minsup]
        axes.bar(bars["k"] + (i - (len(minsups) - 1) / 2) * width, bars["rules"],
                 width=width, label=design_of_key(minsup).describe())
    if not rows.empty:
        repetitions = int(rows["repetitions"].max())
        axes.set_xticks(range(repetitions + 1))
        axes.set_xlabel(f"k = splits (of R = {repetitions}) in which the rule is kept")
    axes.set_ylabel("distinct rules")


def plot_dataset(dataset, summary, histograms, counts, path):
    """One data set's page: per level, the survivors' lines and the
    procedures' bars (means with ±1 standard deviation over the splits, log
    scales), the test p-values and the rule stability; one legend per row."""
    levels = list(dict.fromkeys(summary["level"])) or [0.05]
    figure = Figure(figsize=(1.5 + 6.0 * len(levels), 15.0), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle(f"{dataset}: holdout (mean ± 1 standard deviation over the splits) and "
                    "direct adjustment (one run on the whole data set)")
    grid = figure.subplots(4, len(levels) + 1, squeeze=False,
                           gridspec_kw={"width_ratios": [6.0] * len(levels) + [2.2]})
    bars = method_bars(summary)
    for column, level in enumerate(levels):
        def rows_of(table):
            return table[table["level"] == level]
        survivors = rows_of(summary).sort_values("min_sup")
        _draw_survivor_lines(grid[0][column], survivors)
        _draw_method_bars(grid[1][column], survivors, bars)
        _draw_pvalue_lines(grid[2][column], rows_of(histograms), level)
        _draw_stability_bars(grid[3][column], rows_of(counts))
        for row in range(4):
            grid[row][column].set_title(f"level {level:g}", fontsize=9)
            grid[row][column].grid(alpha=0.3)
        for row in (0, 1):
            axes = grid[row][column]
            axes.set_yscale("symlog", linthresh=1.0)
            axes.set_ylim(0, max(10.0, axes.dataLim.y1) * 2)
        for row in (2, 3):
            grid[row][column].yaxis.set_major_locator(MaxNLocator(integer=True))
    for row in range(4):
        grid[row][-1].axis("off")
        handles, labels = grid[row][0].get_legend_handles_labels()
        grid[row][-1].legend(handles, labels, loc="center left", fontsize=8, frameon=False)
    figure.savefig(path, dpi=DPI)


def plot_datasets(connection, folder):
    """FOLDER/DATASET.png for every data set of the study."""
    summary, histograms, counts = (read_summary(connection), pvalue_histograms(connection),
                                   stability_counts(connection))
    os.makedirs(folder, exist_ok=True)
    for dataset in dict.fromkeys(summary["dataset"]):
        def of(table):
            return table[table["dataset"] == dataset]
        plot_dataset(dataset, of(summary), of(histograms), of(counts),
                     os.path.join(folder, f"{dataset}.png"))


def read_summary(connection):
    return pd.read_sql_query("SELECT * FROM summary", connection)


# plot name -> (what it reads from the database, how it draws it)
PLOTS = {"survivors": (read_summary, plot_survivors),
         "test_pvalues": (pvalue_histograms, plot_pvalues),
         "rule_stability": (stability_counts, plot_stability),
         "methods": (read_summary, plot_methods),
         "datasets": (lambda connection: connection, plot_datasets)}


def main(argv):
    if len(argv) != 3 or argv[0] not in PLOTS:
        print("usage:" + __doc__.split("\n\n")[-1].rstrip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(f"file:{argv[1]}?mode=ro", uri=True)
    read, draw = PLOTS[argv[0]]
    draw(read(connection), argv[2])
    connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
