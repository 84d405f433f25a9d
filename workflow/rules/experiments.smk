# Experiments: one varnel experiment per data set x design (minimum support
# or top-k, and mining share) x level x repetition, in its own folder. On a
# cluster the experiments are grouped (group "experiments"; the profile sets
# how many go into one cluster job).

EXPERIMENTS = [EXPERIMENT_RECORD.format(rep=rep, **cell) for cell in cells() for rep in REPS]


rule experiment:
    input:
        data=f"{DATA}.data",
        names=f"{DATA}.names",
        settings=DATA_SETTINGS,
        split=SPLIT_RECORD,
    output:
        EXPERIMENT_RECORD,
    log:
        "logs/experiments/{dataset}/{design}_p{level}/rep{rep}.log",
    params:
        script=script_command("study_experiment.py"),
        data_base=input_data_base,
        folder=EXPERIMENT_FOLDER,
        keep=KEEP,
        seed=lambda wildcards: study_config.split_seed(config["seed"], wildcards.dataset,
                                                       int(wildcards.rep)),
        mining=lambda wildcards: DESIGNS[wildcards.design].mining_options(),
        share=lambda wildcards: DESIGNS[wildcards.design].share,
    # A run that failed on the system (a full disk, a signal) fails its job:
    # tried again, it gives the result an undisturbed run gives.
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
        " --folder {params.folder} --keep {params.keep} > {log} 2>&1"
