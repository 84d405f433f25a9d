# Truth studies: a generated data set (config key `generate`) draws a fresh
# data set per repetition with varnel-generate, and each repetition runs the
# holdout experiment of each design and the direct run with every method of
# each mining on it; the rules each procedure keeps are judged against that
# data set's truth. Error rates are so over data sets, not over splits of one
# data set.

TRUTH_JUDGED_FILES = [TRUTH_JUDGED.format(**run) for run in truth_runs()]
TRUTH_DIRECT_RECORDS = [TRUTH_DIRECT_RECORD.format(**run) for run in truth_direct_runs()]
TRUTH_TABLES = ["results/truth.csv"] if GENERATED else []
TRUTH_PAGES = ["truth"] if GENERATED else []
TRUTH_PLOTS = ["results/truth.png", "results/design.png"] if GENERATED else []


rule generated_entry:
    input:
        JSON_TEMPLATE,
    output:
        GENERATED_ENTRY,
    log:
        "logs/generated_entry/{generated}.log",
    params:
        content=lambda wildcards: {"name": wildcards.generated, "bin_dir": BIN_DIR,
                                   "generate": GENERATED[wildcards.generated]["generate"]},
    template_engine:
        "jinja2"


rule generated_data:
    input:
        entry=GENERATED_ENTRY,
        sources=lambda wildcards: study_config.source_files(GENERATED[wildcards.generated]),
    output:
        data=f"{GENERATED_DATA}.data",
        names=f"{GENERATED_DATA}.names",
        truth=f"{GENERATED_DATA}.truth.json",
        settings=GENERATED_SETTINGS,
        split=GENERATED_SPLIT,
    log:
        "logs/data/{generated}/rep{rep}.log",
    params:
        script=script_command("truth_data.py"),
        data_base=GENERATED_DATA,
        split_folder=GENERATED_SPLIT_FOLDER,
        seed=lambda wildcards: study_config.generation_seed(config["seed"], wildcards.generated,
                                                            int(wildcards.rep)),
    group:
        "experiments"
    shell:
        "{params.script:q} --entry {input.entry} --seed {params.seed}"
        " --data-base {params.data_base} --settings {output.settings}"
        " --split-folder {params.split_folder} > {log} 2>&1"


rule truth_direct:
    input:
        data=f"{GENERATED_DATA}.data",
        names=f"{GENERATED_DATA}.names",
        settings=GENERATED_SETTINGS,
        split=GENERATED_SPLIT,
    output:
        TRUTH_DIRECT_RECORD,
    log:
        "logs/direct/{generated}/{mining}_p{level}/rep{rep}.log",
    params:
        script=script_command("study_direct.py"),
        data_base=input_data_base,
        folder=TRUTH_DIRECT_FOLDER,
        keep=KEEP,
        permutations=DIRECT_SETTINGS["permutations"],
        seed=DIRECT_SETTINGS["seed"],
        tarone_lowered="--tarone-lowered" if DIRECT_SETTINGS["tarone_lowered"] else "",
        mining=lambda wildcards: MININGS[wildcards.mining].mining_options(),
    retries: 2
    threads: 1
    resources:
        mem_mb=data_memory,
    group:
        "experiments"
    shell:
        "{params.script:q} --settings {input.settings}"
        " --split-record {input.split} --data-base {params.data_base} {params.mining}"
        " --level {wildcards.level} --threads {threads} --folder {params.folder}"
        " --record {output} --keep {params.keep} --permutations {params.permutations}"
        " --permutation-seed {params.seed} {params.tarone_lowered} > {log} 2>&1"


rule truth_run:
    input:
        data=f"{GENERATED_DATA}.data",
        names=f"{GENERATED_DATA}.names",
        truth=f"{GENERATED_DATA}.truth.json",
        settings=GENERATED_SETTINGS,
        split=GENERATED_SPLIT,
        direct=truth_direct_record,
    output:
        record=TRUTH_RECORD,
        judged=TRUTH_JUDGED,
    log:
        "logs/experiments/{generated}/{design}_p{level}/rep{rep}.log",
    params:
        script=script_command("truth_run.py"),
        data_base=input_data_base,
        folder=TRUTH_FOLDER,
        direct_folder=lambda wildcards, input: os.path.splitext(input.direct)[0],
        keep=KEEP,
        seed=lambda wildcards: study_config.split_seed(config["seed"], wildcards.generated,
                                                       int(wildcards.rep)),
        mining=lambda wildcards: DESIGNS[wildcards.design].mining_options(),
        share=lambda wildcards: DESIGNS[wildcards.design].share,
    # As the experiments': a run that failed on the system fails its job and is
    # tried again.
    retries: 2
    threads: 1
    resources:
        mem_mb=data_memory,
    group:
        "experiments"
    shell:
        "{params.script:q} --settings {input.settings}"
        " --split-record {input.split} --data-base {params.data_base} {params.mining}"
        " --mining-share {params.share}"
        " --level {wildcards.level} --seed {params.seed} --threads {threads}"
        " --folder {params.folder} --keep {params.keep} --judged {output.judged}"
        " --direct-record {input.direct} --direct-folder {params.direct_folder} > {log} 2>&1"


localrules:
    plot_truth,
    plot_design,


rule plot_truth:
    input:
        database=DATABASE,
    output:
        plot=report("results/truth.png", caption="../report/truth_plot.rst", category="Plots"),
    log:
        "logs/plot_truth.log",
    params:
        script=script_command("truth_plot.py"),
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{params.script:q} {input.database} {output.plot} > {log} 2>&1"


rule plot_design:
    input:
        database=DATABASE,
    output:
        plot=report("results/design.png", caption="../report/design_plot.rst", category="Plots"),
    log:
        "logs/plot_design.log",
    params:
        script=script_command("design_plot.py"),
    resources:
        mem_mb=lambda wildcards, attempt: attempt * 500,
    shell:
        "{params.script:q} {input.database} {output.plot} > {log} 2>&1"
