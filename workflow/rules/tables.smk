# Tables and plots: the study's plan (every experiment and direct run with its
# keys and files) as a file; the database filled from it run by run, with the
# tables written from the database; the plots drawn from the database, a page
# of plots per data set, and the answer the report's first page shows.

TABLES = ["results/experiments.csv", "results/summary.csv", "results/rule_stability.csv",
          "results/rules.csv.gz"] + TRUTH_TABLES
PAGES = ["summary", "rule_stability_top"] + TRUTH_PAGES
PLOTS = ["survivors", "test_pvalues", "rule_stability", "methods"]
DATASET_PLOTS = "results/datasets"
FRONT_PAGE = "results/front.html"
RESULTS = ([DATABASE] + TABLES + expand("results/pages/{page}.html", page=PAGES) +
           expand("results/{plot}.png", plot=PLOTS) + TRUTH_PLOTS + [DATASET_PLOTS, FRONT_PAGE])


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
        reader=os.path.join(BIN_DIR, "varnel-read-runs"),
    # The reader program reads the runs while the job enters them; two
    # processes write rules.csv.gz side by side.
    threads: 2
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{params.script:q} --plan {input.plan} --reader {params.reader:q} --cache {params.cache}"
        " --database {output.database} --out-dir results --processes {threads} > {log} 2>&1"


# The tables job reads the runs' files and writes the database in bounded
# memory, and the plots are small and read the database in blocks: they run
# where Snakemake runs, without a round trip through the cluster's queue at
# the end of a study.
localrules:
    tables,
    plot_survivors,
    plot_test_pvalues,
    plot_rule_stability,
    plot_methods,
    plot_datasets,
    front_page,


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


# One page per data set in the report: its own plots, with the spreads over
# the splits that the study-wide plots leave out.
rule plot_datasets:
    input:
        database=DATABASE,
    output:
        plots=report(directory(DATASET_PLOTS), patterns=["{name}.png"],
                     caption="../report/dataset_plot.rst", category="Data sets"),
    log:
        "logs/plot_datasets.log",
    params:
        script=script_command("study_plots.py"),
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{params.script:q} datasets {input.database} {output.plots} > {log} 2>&1"


# The tables and main figures at the top of the report's first page
# (report/workflow.rst).
rule front_page:
    input:
        database=DATABASE,
        figures=TRUTH_PLOTS + ["results/methods.png", "results/survivors.png"],
    output:
        FRONT_PAGE,
    log:
        "logs/front_page.log",
    params:
        script=script_command("study_front.py"),
    shell:
        "{params.script:q} {input.database} {output} {input.figures} > {log} 2>&1"
