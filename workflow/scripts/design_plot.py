"""design.png: per generated setting and level, the holdout at the Bonferroni
level (level / rules re-tested: the rules mined, or K under top-k) with
each design, against the mining share (one line per minimum support or k)
and, when the study mines the top k rules, against k (one line per share):
its power, the mean share of the planted effects recovered, and its
family-wise error rate with the 95% Wilson interval. The best direct
procedure of the setting and level (the family-wise one of the highest
power, of the fewest errors among equals) is the horizontal reference line;
a null setting, which has no power, takes the one of the first setting that
has. Drawn from the database's truth_summary (truth_tables).

    design_plot.py DATABASE PLOT_PNG
"""
import sqlite3
import sys

import matplotlib
matplotlib.use("Agg")
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
import pandas as pd  # noqa: E402

from study_config import Design, design_of_key  # noqa: E402

HOLDOUT = "holdout_bonferroni"


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


def plot_design(summary, path):
    summary = with_designs(summary)
    groups = list(summary.groupby(["dataset", "level"], sort=False))
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
    fallback = {}
    for (dataset, level), rows in groups:
        if level not in fallback and best_direct(rows) is not None:
            fallback[level] = best_direct(rows)
    plots = [("share", "mining", "power"), ("share", "mining", "fwer")]
    if top_k:
        plots += [("top_k", "share", "power"), ("top_k", "share", "fwer")]
    for ((dataset, level), rows), axes in zip(groups, grid):
        reference = reference_of(rows, fallback.get(level))
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


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(argv[0])
    summary = pd.read_sql_query("SELECT * FROM truth_summary", connection)
    connection.close()
    plot_design(summary, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
