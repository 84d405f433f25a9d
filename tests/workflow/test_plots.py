"""The study's figures at 3 and at 100 data sets, drawn from made-up tables of
the database's shapes: none taller than two screens, whatever the study's
size; and the report's first page: the best procedures at the level marked,
ties all of them, a rate above the level marked as such."""
import os
import sys

import matplotlib.image
import numpy as np
import pandas as pd
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "workflow", "scripts"))
import design_plot  # noqa: E402
import study_front  # noqa: E402
import study_plots  # noqa: E402
import truth_plot  # noqa: E402

MINSUPS = ["0.05", "0.1", "0.2"]
LEVELS = [0.05, 0.01]
PROCEDURES = ["holdout_raw", "holdout_bonferroni", "direct_bonferroni", "direct_tarone",
              "direct_fdr", "direct_bonferroni_productive"]


def study(datasets):
    """summary, p-value histograms and stability counts of DATASETS data sets
    whose counts span five orders of magnitude."""
    random = np.random.default_rng(7)
    summary, histograms, counts = [], [], []
    edges = np.linspace(-40, 0, 31)
    for index in range(datasets):
        for minsup in MINSUPS:
            for level in LEVELS:
                mined = 10.0 ** random.uniform(0, 5)
                row = {"dataset": f"set{index}", "minsup": minsup, "level": level,
                       "min_sup": 20.0, "n": 10, "failed": 0}
                for name in ("mined", "kept", "bonferroni", "fdr", "holm"):
                    row[f"{name}_mean"] = mined * random.uniform(0.5, 1)
                    row[f"{name}_sd"] = mined * 0.1
                for name, _ in study_plots.DIRECT_METHODS:
                    row[name] = round(mined * random.uniform(0.5, 2))
                summary.append(row)
                histograms.append({"dataset": f"set{index}", "level": level, "minsup": minsup,
                                   "edges": edges, "counts": random.integers(0, 50, 30)})
                counts += [{"dataset": f"set{index}", "minsup": minsup, "level": level,
                            "repetitions": 10, "k": k, "rules": int(random.integers(0, 99))}
                           for k in range(11)]
    return pd.DataFrame(summary), pd.DataFrame(histograms), pd.DataFrame(counts)


def truth_summary(settings):
    rows = []
    for index in range(settings):
        for position, procedure in enumerate(PROCEDURES):
            fwer = {"holdout_raw": 0.6, "direct_fdr": 0.3}.get(procedure, 0.02 * (position % 2))
            rows.append({"dataset": f"setting{index}", "minsup": "30", "level": 0.05,
                         "procedure": procedure, "n": 50, "fwer": fwer,
                         "fwer_low": max(0.0, fwer - 0.05), "fwer_high": fwer + 0.07,
                         "fwer_directional": fwer + 0.1 * (procedure == "holdout_raw"),
                         "power": None if index == 0 else [1.0, 0.5, 0.75, 0.75, 0.9, 0.2][
                             position], "redundant_mean": float(position)})
    return pd.DataFrame(rows)


@pytest.mark.parametrize("datasets", [3, 100])
def test_every_figure_stays_within_two_screens(tmp_path, datasets):
    summary, histograms, counts = study(datasets)
    drawn = {"survivors": lambda path: study_plots.plot_survivors(summary, path),
             "methods": lambda path: study_plots.plot_methods(summary, path),
             "test_pvalues": lambda path: study_plots.plot_pvalues(histograms, path),
             "rule_stability": lambda path: study_plots.plot_stability(counts, path),
             "truth": lambda path: truth_plot.plot_truth(truth_summary(datasets), path),
             # Three designs: two mining shares and top-k.
             "design": lambda path: design_plot.plot_design(pd.concat(
                 truth_summary(datasets).assign(minsup=key) for key in ("30", "30@0.3", "top100")),
                 path),
             "data set page": lambda path: study_plots.plot_dataset(
                 "set0", summary[summary["dataset"] == "set0"],
                 histograms[histograms["dataset"] == "set0"], counts[counts["dataset"] == "set0"],
                 path)}
    sizes = {}
    for name, draw in drawn.items():
        path = str(tmp_path / f"{name}.png")
        draw(path)
        height, width = matplotlib.image.imread(path).shape[:2]
        sizes[name] = (width, height)
    print(datasets, sizes)
    assert all(height <= study_plots.MAX_HEIGHT for _, height in sizes.values()), sizes
    # The study-wide plots are no page per data set: three data sets fit one screen.
    if datasets == 3:
        assert all(sizes[name][1] <= 1000 for name in ("survivors", "methods", "test_pvalues",
                                                        "rule_stability")), sizes


def test_the_first_page_marks_the_best_procedures_within_the_level():
    truth = truth_summary(2)
    # direct_bonferroni and direct_tarone tie at the highest power within the
    # level; holdout_raw (power 1) and direct_fdr (0.9) err too often.
    assert truth_plot.best_procedures(truth[truth["dataset"] == "setting1"], 0.05) == [
        "direct_bonferroni", "direct_tarone"]
    # A null setting has no power: nothing is best.
    assert truth_plot.best_procedures(truth[truth["dataset"] == "setting0"], 0.05) == []
    summary, _, _ = study(2)
    page = study_front.front_page(summary, truth, [])
    assert page.count(f"{study_front.BEST_MARK} 0.75") == 2
    # Both settings' raw holdout and direct FDR rates lie above the level.
    assert page.count('class="best"') == 2 and page.count('class="over"') == 4
    # Both tables: the procedures of each setting, and every cell of the summary.
    assert page.count("<tr>") == 2 + len(PROCEDURES) + 2 + len(summary)
    # More settings than the truth plot draws as dot plots: one row each.
    many = study_front.truth_table(truth_summary(truth_plot.DOT_PLOTS + 1))
    assert "direct_bonferroni, direct_tarone" in many and "none" in many
