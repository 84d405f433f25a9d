"""truth.png: each procedure against the truth of the generated data sets,
drawn from the database's truth_summary (truth_tables). For a few generated
settings x minimum supports x levels, a dot plot per one of them, procedures
as rows: power, family-wise error rate with its 95% Wilson interval and the
level dashed (a hollow marker where counting direction errors too raises
it), and the mean number of redundant rules kept; the procedures of highest
power among those whose rate stays within the level are marked, ties all of
them. For more, heat maps of power and error rate, one row per setting x
minimum support x level, so the figure stays within two screens.

    truth_plot.py DATABASE PLOT_PNG
"""
import sqlite3
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.colors import Normalize, TwoSlopeNorm  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Patch, Rectangle  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import study_plots  # noqa: E402
from study_config import design_of_key  # noqa: E402

# Up to this many settings x minimum supports x levels, one dot plot each.
DOT_PLOTS = 3
ROW = 0.2  # inches per procedure in a dot plot
BEST = "#fde68a"
BEST_EDGE = "#f59e0b"


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
            shade[procedure] = cmap(0.55 + 0.45 * index / max(1, len(family) - 1))
    return shade


def best_procedures(rows, level):
    """The procedures of highest power among those whose family-wise error
    rate stays within the level; every one of a tie; none without power."""
    valid = rows[(rows["fwer"] <= level + 1e-12) & rows["power"].notna()]
    if valid.empty:
        return []
    top = valid["power"].max()
    return list(valid.loc[np.isclose(valid["power"], top), "procedure"])


def cell_title(keys, rows):
    dataset, minsup, level = keys
    return (f"{dataset}, {design_of_key(minsup).describe()}, level {level:g} "
            f"({int(rows['n'].max())} data sets)")


def draw_cell(panels, rows, shade, level):
    """Power, error rate and redundant rules of one setting x minimum support
    x level, one row per procedure, the best ones on a band."""
    power, errors, redundant = panels
    y = np.arange(len(rows))
    colour = [shade[p] for p in rows["procedure"]]
    best = best_procedures(rows, level)
    for index in (i for i, procedure in enumerate(rows["procedure"]) if procedure in best):
        for axes in panels:
            axes.axhspan(index - 0.5, index + 0.5, color=BEST, zorder=0)
    if rows["power"].notna().any():
        power.scatter(rows["power"], y, c=colour, s=22, zorder=3)
    else:
        power.text(0.5, len(rows) / 2, "null setting:\nnothing to recover", ha="center",
                   va="center", fontsize=8)
    power.set_xlim(-0.04, 1.04)
    power.set_xlabel("power", fontsize=8)
    errors.hlines(y, rows["fwer_low"], rows["fwer_high"], colors=colour, linewidth=1.5,
                  zorder=2)
    errors.scatter(rows["fwer"], y, c=colour, s=22, zorder=3)
    for at, row in zip(y, rows.itertuples()):
        if row.fwer_directional > row.fwer:
            errors.scatter(row.fwer_directional, at, facecolors="none",
                           edgecolors=[shade[row.procedure]], s=26, zorder=3)
    errors.axvline(level, color="black", linestyle="--", linewidth=1)
    errors.set_xlim(-0.02, max(0.25, float(rows["fwer_high"].max()) + 0.03,
                               float(rows["fwer_directional"].max()) + 0.03))
    errors.set_xlabel("family-wise error rate (95% interval)", fontsize=8)
    redundant.barh(y, rows["redundant_mean"], color=colour, height=0.6, zorder=2)
    redundant.set_xlim(0, max(1.0, float(rows["redundant_mean"].max()) * 1.05))
    redundant.set_xlabel("redundant rules kept", fontsize=8)
    for axes in panels:
        axes.set_ylim(len(rows) - 0.5, -0.5)
        axes.grid(alpha=0.3, axis="x")
        axes.tick_params(axis="both", labelsize=7)


def plot_dots(groups, procedures, path):
    shade = colours(procedures)
    height = len(procedures) * ROW + 1.0
    heights = [0.45] + [height] * len(groups)
    figure = Figure(figsize=(11, sum(heights) + 0.7), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle("Each procedure against the truth of the generated data sets")
    layout = figure.add_gridspec(len(heights), 3, width_ratios=[1, 1.2, 0.8],
                                 height_ratios=heights)
    legend = figure.add_subplot(layout[0, :])
    legend.axis("off")
    for index, (keys, rows) in enumerate(groups):
        rows = rows.set_index("procedure").reindex(procedures).reset_index()
        panels = [figure.add_subplot(layout[index + 1, column]) for column in range(3)]
        draw_cell(panels, rows, shade, keys[2])
        panels[0].set_yticks(range(len(procedures)), procedures)
        for axes in panels[1:]:
            axes.set_yticks(range(len(procedures)), [])
        panels[1].set_title(cell_title(keys, rows), fontsize=9)
    handles = [Patch(color=matplotlib.colormaps[name](0.8), label=label) for name, label in
               [("Blues", "holdout"), ("Oranges", "direct adjustment"),
                ("Purples", "direct, productive")]]
    handles += [Patch(color=BEST, label="most power with the error rate within the level"),
                Line2D([], [], color="black", linestyle="--", linewidth=1, label="the level"),
                Line2D([], [], linestyle="none", marker="o", markerfacecolor="none",
                       color="gray", label="rate with direction errors")]
    legend.legend(handles=handles, loc="center", ncol=3, fontsize=8, frameon=False)
    figure.savefig(path, dpi=study_plots.DPI)


def power_and_error_maps(figure, power, fwer, columns, level, annotate):
    """Two heat maps side by side, power and family-wise error rate (white at
    the level), one column each of COLUMNS; returns their axes."""
    power_axes, error_axes = figure.subplots(1, 2, sharey=True)
    images = [study_plots.heat_map(power_axes, power, Normalize(0, 1), "Greens", annotate),
              # Rates a few times the level are already plainly red.
              study_plots.heat_map(error_axes, fwer,
                                   TwoSlopeNorm(level, 0.0, min(1.0, max(0.25, 5 * level))),
                                   "RdBu_r", annotate)]
    for axes, image, label, extend in [
            (power_axes, images[0], "power", "neither"),
            (error_axes, images[1], f"family-wise error rate ({level:g}: white)", "max")]:
        axes.set_xticks(range(len(columns)), columns, rotation=90, fontsize=7)
        figure.colorbar(image, ax=axes, location="top", shrink=0.6, label=label, extend=extend)
    return power_axes, error_axes


def plot_heat(groups, procedures, path):
    labels = [f"{dataset}, {minsup}, {level:g}" for (dataset, minsup, level), _ in groups]
    row, font = study_plots.row_size(len(groups))
    height = min(study_plots.MAX_HEIGHT / study_plots.DPI,
                 len(groups) * row + study_plots.FRAME_HEIGHT + 1.5)
    figure = Figure(figsize=(max(9.0, 2.5 + 0.5 * len(procedures)), height),
                    layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle("Each procedure against the truth of the generated data sets\n"
                    "(rows: setting, minimum support, level; outlined in orange: most power "
                    "with the error rate within the level)")
    power = np.array([rows.set_index("procedure").reindex(procedures)["power"]
                      for _, rows in groups], dtype=float)
    fwer = np.array([rows.set_index("procedure").reindex(procedures)["fwer"]
                     for _, rows in groups], dtype=float)
    power_axes, _ = power_and_error_maps(figure, power, fwer, procedures,
                                         float(min(keys[2] for keys, _ in groups)), None)
    power_axes.set_yticks(range(len(groups)), labels, fontsize=font)
    for index, (keys, rows) in enumerate(groups):
        for name in best_procedures(rows, keys[2]):
            column = procedures.index(name)
            power_axes.add_patch(Rectangle(
                (column - 0.5, index - 0.5), 1, 1, fill=False, edgecolor=BEST_EDGE, linewidth=1.5))
    figure.savefig(path, dpi=study_plots.DPI)


def plot_truth(summary, path):
    groups = list(summary.groupby(["dataset", "minsup", "level"], sort=False))
    procedures = list(dict.fromkeys(summary["procedure"]))
    if not groups:
        figure = Figure(figsize=(6, 2))
        FigureCanvasAgg(figure)
        figure.text(0.5, 0.5, "no judged run", ha="center", va="center")
        figure.savefig(path, dpi=study_plots.DPI)
    elif len(groups) <= DOT_PLOTS:
        plot_dots(groups, procedures, path)
    else:
        plot_heat(groups, procedures, path)


def plot_from_database(argv, plot, usage):
    """The command of a truth figure: DATABASE PLOT_PNG, the figure PLOT drawn
    from the database's truth_summary; USAGE's last line when misused."""
    if len(argv) != 2:
        print(usage.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(argv[0])
    summary = pd.read_sql_query("SELECT * FROM truth_summary", connection)
    connection.close()
    plot(summary, argv[1])
    return 0


def main(argv=None):
    return plot_from_database(sys.argv[1:] if argv is None else argv, plot_truth, __doc__)


if __name__ == "__main__":
    sys.exit(main())
