"""truth.png: per generated setting, minimum support and level, each
procedure's power against its family-wise error rate (with its 95% Wilson
interval and the level marked), and beside it the mean number of redundant
rules it keeps. A null setting has no power: its left panel shows the error
rates alone. Drawn from the database's truth_summary (truth_tables).

    truth_plot.py DATABASE PLOT_PNG
"""
import sqlite3
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

MARKERS = "osD^v<>pPX*h"


def colours(procedures):
    """Holdout in shades of blue, direct adjustment in shades of red."""
    blues = matplotlib.colormaps["Blues"]
    reds = matplotlib.colormaps["Oranges"]
    holdout = [p for p in procedures if p.startswith("holdout")]
    direct = [p for p in procedures if not p.startswith("holdout")]
    shade = {}
    for family, cmap in ((holdout, blues), (direct, reds)):
        for index, procedure in enumerate(family):
            shade[procedure] = cmap(0.45 + 0.55 * index / max(1, len(family) - 1))
    return shade


def draw_errors(axes, rows, shade, level):
    """Power against family-wise error, or the error rates alone without power."""
    spread = np.array([rows["fwer"] - rows["fwer_low"], rows["fwer_high"] - rows["fwer"]])
    if rows["power"].notna().any():
        spread = spread.T
        for index, row in enumerate(rows.itertuples()):
            axes.errorbar(row.fwer, row.power, xerr=spread[index].reshape(2, 1),
                          fmt=MARKERS[index % len(MARKERS)], color=shade[row.procedure],
                          label=row.procedure, capsize=2, markersize=6)
        axes.set_ylabel("power (mean share of planted rules recovered)")
        axes.set_ylim(-0.03, 1.03)
    else:
        y = np.arange(len(rows))
        axes.barh(y, rows["fwer"], xerr=spread, color=[shade[p] for p in rows["procedure"]],
                  capsize=2)
        axes.set_yticks(y, rows["procedure"])
        axes.invert_yaxis()
        axes.text(0.98, 0.02, "null setting: nothing to recover", ha="right", va="bottom",
                  transform=axes.transAxes, fontsize=8)
    axes.axvline(level, color="black", linestyle="--", linewidth=1, label=f"level {level:g}")
    axes.set_xlabel("family-wise error rate (95% Wilson interval)")
    axes.set_xlim(-0.02, max(0.25, float(rows["fwer_high"].max()) + 0.05))


def draw_redundant(axes, rows, shade):
    y = np.arange(len(rows))
    axes.barh(y, rows["redundant_mean"], color=[shade[p] for p in rows["procedure"]])
    axes.set_yticks(y, rows["procedure"])
    axes.invert_yaxis()
    axes.set_xlabel("mean redundant rules kept")
    if not rows["redundant_mean"].any():
        axes.text(0.5, 0.5, "no redundant rule kept", ha="center", va="center",
                  transform=axes.transAxes)
    axes.set_xlim(0, max(1.0, float(rows["redundant_mean"].max()) * 1.05))


def plot_truth(summary, path):
    groups = list(summary.groupby(["dataset", "minsup", "level"], sort=False))
    figure = Figure(figsize=(13, 4.2 * max(1, len(groups)) + 0.8), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle("Each procedure against the truth of the generated data sets\n"
                    "(left: power against family-wise error, dashed: the level; "
                    "right: mean redundant rules kept)")
    grid = figure.subplots(max(1, len(groups)), 2, squeeze=False,
                           gridspec_kw={"width_ratios": [1.4, 1]})
    shade = colours(list(dict.fromkeys(summary["procedure"])))
    if not groups:
        grid[0][0].text(0.5, 0.5, "no judged run", ha="center", va="center")
    for (keys, rows), (left, right) in zip(groups, grid):
        dataset, minsup, level = keys
        rows = rows.reset_index(drop=True)
        draw_errors(left, rows, shade, level)
        left.set_title(f"{dataset}, minimum support {minsup}, level {level:g} "
                       f"({int(rows['n'].max())} data sets)")
        if rows["power"].notna().any():
            left.legend(fontsize=7, loc="lower right", ncol=2)
        draw_redundant(right, rows, shade)
    figure.savefig(path, dpi=100)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(argv[0])
    summary = pd.read_sql_query("SELECT * FROM truth_summary", connection)
    connection.close()
    plot_truth(summary, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
