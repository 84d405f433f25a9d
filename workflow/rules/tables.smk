# Tables and plots: the study's plan (every experiment and direct run with its
# keys and files) as a file; the database filled from it run by run, with the
# tables written from the database; and the plots drawn from the database.

TABLES = ["results/experiments.csv", "results/summary.csv", "results/rule_stability.csv",
          "results/rules.csv.gz"] + TRUTH_TABLES
PAGES = ["summary", "rule_stability_top"] + TRUTH_PAGES
PLOTS = ["survivors", "test_pvalues", "rule_stability", "methods"]
RESULTS = ([DATABASE] + TABLES + expand("results/pages/{page}.html", page=PAGES) +
           expand("results/{plot}.png", plot=PLOTS) + TRUTH_PLOTS)


rule study_plan:
    input:
        JSON_TEMPLATE,
    output:
        STUDY_PLAN,
    params:
        content=lambda wildcards: study_plan(),
    template_engine:
        "jinja2"


def page(name):
    """A table's web page, shown in the report."""
    return report(f"results/pages/{name}.html", caption=f"../report/{name}.rst",
                  category="Tables")


rule tables:
    input:
        plan=STUDY_PLAN,
        experiments=EXPERIMENTS,
        direct=DIRECT,
        truth=TRUTH_JUDGED_FILES,
    output:
        DATABASE,
        TABLES,
        [page(name) for name in PAGES],
    log:
        "logs/tables.log",
    params:
        cache=DATABASE_CACHE,
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_tables.py --plan {input.plan} --cache {params.cache}"
        " --database {output[0]} --out-dir results > {log} 2>&1"


# The plots are small and read the database in blocks: they are drawn where
# Snakemake runs, without a round trip through the cluster.
localrules:
    plot_survivors,
    plot_test_pvalues,
    plot_rule_stability,
    plot_methods,


def plot_rule_output(plot):
    return report(f"results/{plot}.png", caption=f"../report/{plot}_plot.rst", category="Plots")


rule plot_survivors:
    input:
        DATABASE,
    output:
        plot_rule_output("survivors"),
    log:
        "logs/plot_survivors.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py survivors {input} {output} > {log} 2>&1"


rule plot_test_pvalues:
    input:
        DATABASE,
    output:
        plot_rule_output("test_pvalues"),
    log:
        "logs/plot_test_pvalues.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py test_pvalues {input} {output} > {log} 2>&1"


rule plot_rule_stability:
    input:
        DATABASE,
    output:
        plot_rule_output("rule_stability"),
    log:
        "logs/plot_rule_stability.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py rule_stability {input} {output} > {log} 2>&1"


rule plot_methods:
    input:
        DATABASE,
    output:
        plot_rule_output("methods"),
    log:
        "logs/plot_methods.log",
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{PYTHON:q} {SCRIPTS:q}/study_plots.py methods {input} {output} > {log} 2>&1"
