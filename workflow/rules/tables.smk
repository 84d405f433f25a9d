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
    log:
        "logs/study_plan.log",
    params:
        content=lambda wildcards: study_plan(),
    template_engine:
        "jinja2"


rule tables:
    input:
        plan=STUDY_PLAN,
        experiments=EXPERIMENTS,
        direct=DIRECT,
        truth=TRUTH_JUDGED_FILES,
    output:
        database=DATABASE,
        tables=TABLES,
        pages=[report(f"results/pages/{name}.html", caption=f"../report/{name}.rst",
                      category="Tables") for name in PAGES],
    log:
        "logs/tables.log",
    params:
        script=script_command("study_tables.py"),
        cache=DATABASE_CACHE,
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{params.script:q} --plan {input.plan} --cache {params.cache}"
        " --database {output.database} --out-dir results > {log} 2>&1"


# The plots are small and read the database in blocks: they are drawn where
# Snakemake runs, without a round trip through the cluster.
localrules:
    plot_survivors,
    plot_test_pvalues,
    plot_rule_stability,
    plot_methods,


# One rule per plot, made in a loop: each plot has its own caption in the
# report, and a report caption is a fixed file, which no wildcard can choose.
for plot in PLOTS:

    rule:
        name:
            f"plot_{plot}"
        input:
            database=DATABASE,
        output:
            plot=report(f"results/{plot}.png", caption=f"../report/{plot}_plot.rst",
                        category="Plots"),
        log:
            f"logs/plot_{plot}.log",
        params:
            script=script_command("study_plots.py"),
            plot=plot,
        resources:
            mem_mb=lambda wildcards, attempt: attempt * 500,
        shell:
            "{params.script:q} {params.plot} {input.database} {output.plot} > {log} 2>&1"
