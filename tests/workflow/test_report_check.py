"""scripts/check-report's verdict on a report's first page, from what
Chromium measured: the answer must be on the first screen, and no text may
stand in for a missing library."""
import importlib.machinery
import importlib.util
import os

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
_loader = importlib.machinery.SourceFileLoader("check_report",
                                               os.path.join(ROOT, "scripts", "check-report"))
check_report = importlib.util.module_from_spec(importlib.util.spec_from_loader("check_report",
                                                                              _loader))
_loader.exec_module(check_report)

TABLE = {"top": 12, "rows": 18}
FIGURE = {"top": 440, "width": 1060, "height": 590}


def front(tables=(TABLE,), figures=(FIGURE,), text="Rules each procedure keeps"):
    return {"viewport": 1000, "tables": list(tables), "figures": list(figures), "text": text}


@pytest.mark.parametrize("page, html, problem", [
    (front(), "", None),
    (front(tables=()), "", "no summary table"),
    (front(tables=[{"top": 12, "rows": 0}]), "", "no summary table"),
    # The old first page: a centred paragraph below an empty area.
    (front(tables=[{"top": 480, "rows": 4}]), "", "below an empty area"),
    (front(figures=()), "", "no figure"),
    (front(figures=[dict(FIGURE, top=1200)]), "", "below the first screen"),
    (front(figures=[dict(FIGURE, height=40100)]), "", "40100 px high"),
    (front(text="(This chart needs the vega-embed library, which the report is made without.)"),
     "", "needs the vega-embed library"),
    (front(), "var x = 'needs the vega library';", "needs the vega library"),
])
def test_the_first_page_must_show_the_answer_on_its_first_screen(page, html, problem):
    problems = check_report.first_page_problems(page, html)
    if problem is None:
        assert problems == []
    else:
        assert len(problems) == 1 and problem in problems[0], problems


def test_a_plot_taller_than_two_screens_fails_the_check():
    caption = "a caption long enough to count as one, forty letters or more"
    shown = {"category": "Plots", "kind": "image", "width": 900, "caption": caption}
    assert check_report.problems_with(dict(shown, height=2000)) is None
    # methods.png of 100 data sets when it had one panel per data set.
    assert "above 2000" in check_report.problems_with(dict(shown, height=40100))
