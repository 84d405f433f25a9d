# Direct adjustment: the miner's direct-adjustment run on the whole data set,
# once per data set x mining (minimum support or top-k) x level, whatever the
# mining share, grouped with the experiments on a cluster.

DIRECT = [DIRECT_RECORD.format(**cell) for cell in direct_cells()]
DIRECT_SETTINGS = {"permutations": 1000, "seed": 1, "tarone_lowered": False,
                   **config.get("direct", {})}


rule direct:
    input:
        data=f"{DATA}.data",
        names=f"{DATA}.names",
        settings=DATA_SETTINGS,
        split=SPLIT_RECORD,
    output:
        DIRECT_RECORD,
    log:
        "logs/direct/{dataset}/{mining}_p{level}.log",
    params:
        script=script_command("study_direct.py"),
        data_base=input_data_base,
        folder=DIRECT_FOLDER,
        keep=KEEP,
        permutations=DIRECT_SETTINGS["permutations"],
        seed=DIRECT_SETTINGS["seed"],
        tarone_lowered="--tarone-lowered" if DIRECT_SETTINGS["tarone_lowered"] else "",
        mining=lambda wildcards: MININGS[wildcards.mining].mining_options(),
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
        " --level {wildcards.level} --threads {threads} --folder {params.folder}"
        " --record {output} --keep {params.keep} --permutations {params.permutations}"
        " --permutation-seed {params.seed} {params.tarone_lowered} > {log} 2>&1"
