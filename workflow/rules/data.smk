# Data: each data set's entry of the config as a file, and from it the study's
# copy of the data set, the settings its jobs read, and one split by varnel
# whose record gives the sizes of the halves.

# A data set is prepared once, in seconds, and every job on it waits for it:
# on a cluster it runs where Snakemake runs, so the study does not spend a
# round trip through the queue before its first experiment is submitted.
localrules:
    data,


rule data_entry:
    input:
        JSON_TEMPLATE,
    output:
        DATA_ENTRY,
    log:
        "logs/data_entry/{dataset}.log",
    params:
        content=lambda wildcards: {**DATASETS[wildcards.dataset], "name": wildcards.dataset,
                                   "bin_dir": BIN_DIR},
    template_engine:
        "jinja2"


rule data:
    input:
        entry=DATA_ENTRY,
        sources=lambda wildcards: study_config.source_files(DATASETS[wildcards.dataset]),
    output:
        data=f"{DATA}.data",
        names=f"{DATA}.names",
        settings=DATA_SETTINGS,
        split=SPLIT_RECORD,
    log:
        "logs/data/{dataset}.log",
    params:
        script=script_command("study_data.py"),
        data_base=DATA,
        split_folder=SPLIT_FOLDER,
    resources:
        mem_mb=data_memory,
    shell:
        "{params.script:q} --entry {input.entry} --data-base {params.data_base}"
        " --settings {output.settings} --split-folder {params.split_folder} > {log} 2>&1"
