# Tables and plots: the study's plan (every experiment and direct run with its
# keys and files) as a file, the tables made from it, and the plots made from
# the tables.

TABLES = ["experiments", "summary", "rule_stability", "rules"]
PAGES = ["summary", "rule_stability", "experiments"]
PLOTS = ["survivors", "test_pvalues", "rule_stability"]
RESULTS = (expand("results/{table}.csv", table=TABLES) +
           expand("results/pages/{page}.html", page=PAGES) +
           expand("results/{plot}.png", plot=PLOTS))


def study_plan():
    """What the tables read: each job's keys and the paths of its files."""
    experiments = [dict(dataset=cell["dataset"], minsup=cell["minsup"],
                        level=float(cell["level"]), repetition=rep,
                        record=EXPERIMENT_RECORD.format(rep=rep, **cell),
                        rules=EXPERIMENT_RULES.format(rep=rep, **cell))
                   for cell in cells() for rep in REPS]
    direct = [dict(dataset=cell["dataset"], minsup=cell["minsup"], level=float(cell["level"]),
                   record=DIRECT_RECORD.format(**cell)) for cell in cells()]
    return {"experiments": experiments, "direct": direct}


rule study_plan:
    input:
        JSON_TEMPLATE,
    output:
        STUDY_PLAN,
    params:
        content=lambda wildcards: study_plan(),
    template_engine:
        "jinja2"


def table_file(name, kind):
    """A table for the report: its web page to read, its CSV file to download."""
    path = f"results/pages/{name}.html" if kind == "page" else f"results/{name}.csv"
    category = "Tables" if kind == "page" else "Table files (CSV)"
    return report(path, caption=f"../report/{name}.rst", category=category)


rule tables:
    input:
        plan=STUDY_PLAN,
        experiments=EXPERIMENTS,
        direct=DIRECT,
    output:
        [table_file(name, kind) for kind in ("page", "csv") for name in PAGES],
        "results/rules.csv",
    log:
        "logs/tables.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 2000,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_tables.py --plan {input.plan} --out-dir results > {log} 2>&1"


def plot_rule_output(plot):
    return report(f"results/{plot}.png", caption=f"../report/{plot}_plot.rst", category="Plots")


rule plot_survivors:
    input:
        "results/summary.csv",
    output:
        plot_rule_output("survivors"),
    log:
        "logs/plot_survivors.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 1000,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py survivors {input} {output} > {log} 2>&1"


rule plot_test_pvalues:
    input:
        "results/rules.csv",
    output:
        plot_rule_output("test_pvalues"),
    log:
        "logs/plot_test_pvalues.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 2000,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py test_pvalues {input} {output} > {log} 2>&1"


rule plot_rule_stability:
    input:
        "results/rule_stability.csv",
    output:
        plot_rule_output("rule_stability"),
    log:
        "logs/plot_rule_stability.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 1000,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py rule_stability {input} {output} > {log} 2>&1"
