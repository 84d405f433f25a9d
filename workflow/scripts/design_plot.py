"""design.png: per generated setting and level, the holdout at the Bonferroni
level (level / rules re-tested: the rules mined, or K under top-k) with
each design, against the mining share (one line per minimum support or k)
and, when the study mines the top k rules, against k (one line per share):
its power, the mean share of the planted effects recovered, and its
family-wise error rate with the 95% Wilson interval. The best direct
procedure of the setting and level (the family-wise one of the highest
power, of the fewest errors among equals) is the horizontal reference line;
a null setting, which has no power, takes the one of the first setting that
has. For more settings x levels than LINE_PLOTS, two heat maps instead (power;
family-wise error rate), one row per setting x level and one column per
design, the reference last, so the figure stays within two screens. Drawn
from the database's truth_summary (truth_tables).

    design_plot.py DATABASE PLOT_PNG
"""
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

from study_config import Design, design_of_key  # noqa: E402
import study_plots  # noqa: E402
import truth_plot  # noqa: E402

HOLDOUT = "holdout_bonferroni"
# Up to this many settings x levels, line plots of 4 inches a row each.
LINE_PLOTS = 4


def with_designs(summary):
    """The truth summary with each cell's design as columns: mining (its
    words), top_k and share."""
    designs = [design_of_key(key) for key in summary["minsup"]]
    return summary.assign(mining=[Design(d.minsup, d.top_k).describe() for d in designs],
                          top_k=[d.top_k for d in designs], share=[d.share for d in designs])


def is_direct_family_wise(procedure):
    return procedure.startswith("direct_") and procedure != "direct_fdr"


def best_direct(rows):
    """The direct family-wise procedure and mining of the highest power (the
    lowest error among equals), or None when nothing has power."""
    direct = rows[rows["procedure"].map(is_direct_family_wise) & rows["power"].notna()]
    if direct.empty:
        return None
    best = direct.sort_values(["power", "fwer"], ascending=[False, True], kind="stable").iloc[0]
    return best["procedure"], best["mining"]


def reference_of(rows, fallback):
    """The best direct procedure's row for these rows: their own best, or the
    fallback (procedure, mining) for a null setting."""
    choice = best_direct(rows) or fallback
    if choice is None:
        return None, None
    procedure, mining = choice
    match = rows[(rows["procedure"] == procedure) & (rows["mining"] == mining)]
    return choice, (None if match.empty else match.iloc[0])


def draw_against(axes, rows, x, lines, measure, reference, level):
    """`measure` (power or fwer) of the holdout against column `x`, a line per
    value of `lines`; the reference as a horizontal line."""
    holdout = rows[rows["procedure"] == HOLDOUT]
    for label, line in holdout.groupby(lines, sort=False):
        line = line.sort_values(x)
        if measure == "fwer":
            spread = [line["fwer"] - line["fwer_low"], line["fwer_high"] - line["fwer"]]
            axes.errorbar(line[x], line["fwer"], yerr=spread, marker="o", capsize=3,
                          label=label if lines == "mining" else f"share {label:g}")
        else:
            axes.plot(line[x], line["power"], marker="o",
                      label=label if lines == "mining" else f"share {label:g}")
    choice, row = reference
    if row is not None and pd.notna(row[measure]):
        axes.axhline(row[measure], color="darkorange", linestyle="-.", linewidth=1.5,
                     label=f"{choice[0]} ({choice[1]})")
    if measure == "fwer":
        axes.axhline(level, color="black", linestyle="--", linewidth=1, label=f"level {level:g}")
        axes.set_ylabel("family-wise error rate (95% Wilson interval)")
        axes.set_ylim(-0.02, max(0.25, float(holdout["fwer_high"].max()) + 0.05))
    else:
        axes.set_ylabel("power (mean share of planted effects recovered)")
        axes.set_ylim(-0.03, 1.03)
    if x == "top_k":
        axes.set_xscale("log")
        axes.set_xlabel("k, the rules mined and re-tested")
    else:
        axes.set_xlabel("mining share (of each stratum)")
    axes.legend(fontsize=7)


def references(groups):
    """The reference of each (setting, level) group, a null setting taking the
    best direct procedure of the first setting at its level that has one."""
    fallback = {}
    for (_, level), rows in groups:
        if level not in fallback and best_direct(rows) is not None:
            fallback[level] = best_direct(rows)
    return [reference_of(rows, fallback.get(level)) for (_, level), rows in groups]


def plot_design(summary, path):
    summary = with_designs(summary)
    groups = list(summary.groupby(["dataset", "level"], sort=False))
    if len(groups) > LINE_PLOTS:
        plot_design_heat(summary, groups, path)
        return
    top_k = summary["top_k"].notna().any()
    panels = 4 if top_k else 2
    figure = Figure(figsize=(5 * panels, 4 * max(1, len(groups)) + 0.8), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle(f"The holdout design: {HOLDOUT} against the mining share"
                    + (" and k" if top_k else "")
                    + "; dash-dotted: the best direct procedure")
    grid = figure.subplots(max(1, len(groups)), panels, squeeze=False)
    if not groups:
        grid[0][0].text(0.5, 0.5, "no judged run", ha="center", va="center")
    plots = [("share", "mining", "power"), ("share", "mining", "fwer")]
    if top_k:
        plots += [("top_k", "share", "power"), ("top_k", "share", "fwer")]
    for ((dataset, level), rows), reference, axes in zip(groups, references(groups), grid):
        has_power = rows["power"].notna().any()
        n = int(rows["n"].max())
        for panel, (x, lines, measure) in zip(axes, plots):
            if measure == "power" and not has_power:
                panel.axis("off")
                panel.text(0.5, 0.5, f"{dataset}: a null setting, nothing to recover",
                           ha="center", va="center")
                continue
            draw_against(panel, rows.dropna(subset=[x]), x, lines, measure, reference, level)
            panel.set_title(f"{dataset}, level {level:g} ({n} data sets)", fontsize=10)
    figure.savefig(path, dpi=100)


def plot_design_heat(summary, groups, path):
    """Power and family-wise error rate of the holdout per setting x level
    (rows) and design (columns), the best direct procedure's last."""
    keys = list(dict.fromkeys(summary["minsup"]))
    columns = [design_of_key(key).describe() for key in keys] + ["best direct procedure"]
    power, fwer = [], []
    for ((_, _), rows), (_, reference) in zip(groups, references(groups)):
        holdout = rows[rows["procedure"] == HOLDOUT].set_index("minsup").reindex(keys)
        for matrix, measure in ((power, "power"), (fwer, "fwer")):
            matrix.append(list(holdout[measure]) +
                          [np.nan if reference is None else reference[measure]])
    power, fwer = np.array(power, dtype=float), np.array(fwer, dtype=float)
    row, font = study_plots.row_size(len(groups))
    height = min(study_plots.MAX_HEIGHT / study_plots.DPI,
                 len(groups) * row + study_plots.FRAME_HEIGHT + 1.5)
    figure = Figure(figsize=(max(9.0, 3.0 + 0.8 * len(columns)), height), layout="constrained")
    FigureCanvasAgg(figure)
    figure.suptitle(f"The holdout design: {HOLDOUT} per design (columns)\n"
                    "and generated setting x level (rows); last: the best direct procedure")
    power_axes, error_axes = truth_plot.power_and_error_maps(
        figure, power, fwer, columns, float(min(level for (_, level), _ in groups)),
        (lambda value: f"{value:.2f}") if len(groups) <= study_plots.ANNOTATED_ROWS else None)
    for axes in (power_axes, error_axes):
        axes.axvline(len(columns) - 1.5, color="white", linewidth=3)
    power_axes.set_yticks(range(len(groups)),
                          [f"{dataset}, {level:g}" for (dataset, level), _ in groups],
                          fontsize=font)
    figure.savefig(path, dpi=study_plots.DPI)


def main(argv=None):
    return truth_plot.plot_from_database(sys.argv[1:] if argv is None else argv, plot_design,
                                         __doc__)


if __name__ == "__main__":
    sys.exit(main())
