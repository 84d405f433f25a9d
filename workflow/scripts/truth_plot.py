"""truth.png: per generated setting, design and level, each
procedure's power against its family-wise error rate (with its 95% Wilson
interval and the level marked; a hollow marker where counting direction
errors too raises it), and beside it the mean number of redundant rules it
keeps. A null setting has no power: its left panel shows the error rates
alone. One legend below for every row. Drawn from the database's
truth_summary (truth_tables).

    truth_plot.py DATABASE PLOT_PNG
"""
import sqlite3
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

from study_config import design_of_key  # noqa: E402

MARKERS = "osD^v<>pPX*h"


def colours(procedures):
    """Holdout in shades of blue, direct adjustment in shades of orange, its
    productive procedures in shades of purple."""
    families = {"Blues": [p for p in procedures if p.startswith("holdout")],
                "Purples": [p for p in procedures
                            if not p.startswith("holdout") and p.endswith("_productive")]}
    families["Oranges"] = [p for p in procedures
                           if p not in families["Blues"] + families["Purples"]]
    shade = {}
    for name, family in families.items():
        cmap = matplotlib.colormaps[name]
        for index, procedure in enumerate(family):
            shade[procedure] = cmap(0.45 + 0.55 * index / max(1, len(family) - 1))
    return shade


def draw_errors(axes, rows, style, level):
    """Power against family-wise error, or the error rates alone without
    power; a hollow marker at the rate that counts direction errors too,
    where it is higher."""
    spread = np.array([rows["fwer"] - rows["fwer_low"], rows["fwer_high"] - rows["fwer"]])
    has_power = rows["power"].notna().any()
    if has_power:
        spread = spread.T
        for index, row in enumerate(rows.itertuples()):
            colour, marker = style[row.procedure]
            axes.errorbar(row.fwer, row.power, xerr=spread[index].reshape(2, 1), fmt=marker,
                          color=colour, capsize=2, markersize=6)
        y = rows["power"]
        axes.set_ylabel("power (mean share of planted effects recovered)")
        axes.set_ylim(-0.03, 1.03)
    else:
        y = np.arange(len(rows))
        axes.barh(y, rows["fwer"], xerr=spread, color=[style[p][0] for p in rows["procedure"]],
                  capsize=2)
        axes.set_yticks(y, rows["procedure"], fontsize=7)
        axes.invert_yaxis()
        axes.text(0.98, 0.02, "null setting: nothing to recover", ha="right", va="bottom",
                  transform=axes.transAxes, fontsize=8)
    for row, at in zip(rows.itertuples(), y):
        if row.fwer_directional > row.fwer:
            colour, marker = style[row.procedure]
            axes.plot([row.fwer, row.fwer_directional], [at, at], ":", color=colour,
                      linewidth=1)
            axes.plot(row.fwer_directional, at, marker, color=colour, markerfacecolor="none",
                      markersize=7)
    axes.axvline(level, color="black", linestyle="--", linewidth=1)
    axes.set_xlabel("family-wise error rate (95% Wilson interval; hollow: with direction "
                    "errors)")
    highest = max(float(rows["fwer_high"].max()), float(rows["fwer_directional"].max()))
    axes.set_xlim(-0.02, max(0.25, highest + 0.05))


def draw_redundant(axes, rows, style):
    y = np.arange(len(rows))
    axes.barh(y, rows["redundant_mean"], color=[style[p][0] for p in rows["procedure"]])
    axes.set_yticks(y, rows["procedure"], fontsize=7)
    axes.invert_yaxis()
    axes.set_xlabel("mean redundant rules kept")
    if not rows["redundant_mean"].any():
        axes.text(0.5, 0.5, "no redundant rule kept", ha="center", va="center",
                  transform=axes.transAxes)
    axes.set_xlim(0, max(1.0, float(rows["redundant_mean"].max()) * 1.05))


def draw_legend(axes, style, level):
    """Every procedure's marker and colour, and the level, in a row of their own."""
    axes.axis("off")
    handles = [Line2D([], [], linestyle="none", marker=marker, color=colour, label=procedure)
               for procedure, (colour, marker) in style.items()]
    handles.append(Line2D([], [], color="black", linestyle="--", linewidth=1,
                          label=f"level {level}"))
    axes.legend(handles=handles, loc="center", ncol=4, fontsize=8, frameon=False)


def plot_truth(summary, path):
    groups = list(summary.groupby(["dataset", "minsup", "level"], sort=False))
    procedures = list(dict.fromkeys(summary["procedure"]))
    legend_rows = (len(procedures) + 1 + 3) // 4
    heights = [4.2] * max(1, len(groups)) + [0.25 * legend_rows + 0.3]
    figure = Figure(figsize=(13, sum(heights) + 0.8), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle("Each procedure against the truth of the generated data sets\n"
                    "(left: power against family-wise error, dashed: the level; "
                    "right: mean redundant rules kept)")
    layout = figure.add_gridspec(len(heights), 2, width_ratios=[1.4, 1], height_ratios=heights)
    grid = [(figure.add_subplot(layout[row, 0]), figure.add_subplot(layout[row, 1]))
            for row in range(len(heights) - 1)]
    shade = colours(procedures)
    style = {procedure: (shade[procedure], MARKERS[index % len(MARKERS)])
             for index, procedure in enumerate(procedures)}
    if not groups:
        grid[0][0].text(0.5, 0.5, "no judged run", ha="center", va="center")
        grid[0][1].axis("off")
    for (keys, rows), (left, right) in zip(groups, grid):
        dataset, minsup, level = keys
        rows = rows.reset_index(drop=True)
        draw_errors(left, rows, style, level)
        left.set_title(f"{dataset}, {design_of_key(minsup).describe()}, level {level:g} "
                       f"({int(rows['n'].max())} data sets)")
        draw_redundant(right, rows, style)
    levels = ", ".join(f"{level:g}" for level in sorted(set(summary["level"])))
    draw_legend(figure.add_subplot(layout[-1, :]), style, levels)
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
