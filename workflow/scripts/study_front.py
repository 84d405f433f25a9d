"""The answer at the top of the report: an HTML fragment that the report's
first page takes in (workflow/report/workflow.rst) above its figures. Per data
set, minimum support and level, the rules each procedure keeps; for the
generated data sets, each procedure's power and family-wise error rate with
its interval, the most powerful of those within the level marked; then the
main figures, taken into the page, each under the question it answers.

    study_front.py DATABASE OUT_HTML FIGURE_PNG...
"""
import base64
import html
import os
import sqlite3
import sys

import pandas as pd

import study_plots
from study_config import design_of_key
from truth_plot import DOT_PLOTS, best_procedures

BEST_MARK = "\u2605"
# The question each main figure answers, by its file name.
QUESTIONS = {
    "truth.png": "Which procedure recovers the planted rules while its family-wise error rate "
                 "stays within the level, and how many redundant rules does it keep?",
    "methods.png": "How many rules does each procedure keep, per data set and minimum support?",
    "survivors.png": "How many of the rules mined on one half hold on the other, beside direct "
                     "adjustment?",
}


def number(value, digits=1):
    """A count or mean as the table shows it; empty when there is none."""
    if pd.isna(value):
        return ""
    value = float(value)
    return f"{value:,.0f}" if value.is_integer() or value >= 1000 else f"{value:,.{digits}f}"


def share(value):
    return "" if pd.isna(value) else f"{float(value):.2f}"


def cell(text, header=False, css=None, span=1, rows=1):
    tag = "th" if header else "td"
    attributes = ((f' class="{css}"' if css else "") +
                  (f' colspan="{span}"' if span > 1 else "") +
                  (f' rowspan="{rows}"' if rows > 1 else ""))
    return f"<{tag}{attributes}>{html.escape(str(text))}</{tag}>"


def table(head_rows, body_rows, caption):
    """A scrolling table: HEAD_ROWS and BODY_ROWS are lists of cells' HTML."""
    head = "".join(f"<tr>{''.join(row)}</tr>" for row in head_rows)
    body = "".join(f"<tr>{''.join(row)}</tr>" for row in body_rows)
    return (f'<div class="varnel-table"><table><caption>{html.escape(caption)}</caption>'
            f"<thead>{head}</thead><tbody>{body}</tbody></table></div>")


def summary_table(summary):
    """Per data set x minimum support x level, the rules each procedure keeps."""
    bars = study_plots.method_bars(summary)
    holdout = [bar for bar in bars if bar[3]]
    direct = [bar for bar in bars if not bar[3]]
    head = [[cell(name, True, rows=2)
             for name in ("data set", "minimum support or top k", "level", "splits",
                          "mined")] + [
             cell("holdout: mean over the splits", True, "holdout", len(holdout))] +
            ([cell("direct adjustment: one run on the whole data set", True, "direct",
                   len(direct))] if direct else []),
            [cell(label.split(": ", 1)[1], True) for label, *_ in bars]]
    body = []
    for row in summary.itertuples(index=False):
        row = row._asdict()
        body.append([cell(row["dataset"]), cell(row["minsup"]), cell(f"{row['level']:g}"),
                     cell(number(row["n"])), cell(number(row["mined_mean"]))] +
                    [cell(number(row.get(column))) for _, _, column, _ in bars])
    return table(head, body, "Rules each procedure keeps")


def truth_table(truth):
    """Procedures as rows, each generated setting x minimum support x level's
    power and family-wise error rate as columns; for more of them than the
    truth plot draws as dot plots, one row each with its best procedures."""
    groups = list(truth.groupby(["dataset", "minsup", "level"], sort=False))
    caption = (f"Against the truth of the generated data sets ({BEST_MARK}: most power with "
               "the family-wise error rate within the level)")
    if len(groups) > DOT_PLOTS:
        head = [[cell(name, True) for name in ("setting", "minimum support or top k", "level",
                                               "data sets", "most powerful within the level",
                                               "power", "family-wise error rate (95%)")]]
        body = []
        for (dataset, minsup, level), rows in groups:
            best = rows[rows["procedure"].isin(best_procedures(rows, level))]
            first = best.iloc[0] if len(best) else None
            body.append([cell(dataset), cell(minsup), cell(f"{level:g}"),
                         cell(number(rows["n"].max())),
                         cell(", ".join(best["procedure"]) or "none"),
                         cell(share(first["power"]) if first is not None else ""),
                         cell(rate(first) if first is not None else "")])
        return table(head, body, caption)
    procedures = list(dict.fromkeys(truth["procedure"]))
    head = [[cell("procedure", True, rows=2)] +
            [cell(f"{dataset}, {design_of_key(minsup).describe()}, level {level:g} "
                  f"({int(rows['n'].max())} data sets)", True, span=2)
             for (dataset, minsup, level), rows in groups],
            [cell(name, True) for _ in groups
                                for name in ("power", "family-wise error rate (95%)")]]
    body = []
    for procedure in procedures:
        line = [cell(procedure)]
        for (_, _, level), rows in groups:
            found = rows[rows["procedure"] == procedure]
            if found.empty:
                line += [cell(""), cell("")]
                continue
            row = found.iloc[0]
            best = procedure in best_procedures(rows, level)
            power = share(row["power"])
            line += [cell(f"{BEST_MARK} {power}" if best else power, css="best" if best else None),
                     cell(rate(row), css="over" if row["fwer"] > level + 1e-12 else None)]
        body.append(line)
    return table(head, body, caption)


def rate(row):
    return f"{row['fwer']:.2f} ({row['fwer_low']:.2f}\u2013{row['fwer_high']:.2f})"


def figure(path):
    """A figure taken into the page, under its question."""
    name = os.path.basename(path)
    with open(path, "rb") as handle:
        data = base64.b64encode(handle.read()).decode()
    question = QUESTIONS.get(name, "")
    return (f'<figure class="varnel-figure"><figcaption>{html.escape(question)} '
            f"({html.escape(name)})</figcaption>"
            f'<img src="data:image/png;base64,{data}" alt="{html.escape(name)}"></figure>')


def front_page(summary, truth, figures):
    parts = []
    if truth is not None and not truth.empty:
        parts.append(truth_table(truth))
    parts.append(summary_table(summary))
    parts += [figure(path) for path in figures]
    return '<div class="varnel-front">' + "".join(parts) + "</div>\n"


def main(argv):
    if len(argv) < 2:
        print("usage:" + __doc__.split("\n\n")[-1].rstrip(), file=sys.stderr)
        return 2
    connection = sqlite3.connect(f"file:{argv[0]}?mode=ro", uri=True)
    summary = pd.read_sql_query("SELECT * FROM summary", connection)
    # Only a study of generated data sets has the truth.
    judged = connection.execute("SELECT 1 FROM sqlite_master WHERE name = 'truth_summary'")
    truth = pd.read_sql_query("SELECT * FROM truth_summary", connection) \
        if judged.fetchone() else None
    connection.close()
    with open(argv[1], "w", encoding="utf-8") as handle:
        handle.write(front_page(summary, truth, argv[2:]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
