# The report: Snakemake's own, made once everything it shows is there, by
# Snakemake run again with the study's config (written to a file first).

localrules:
    all,
    report,


rule study_config:
    input:
        JSON_TEMPLATE,
    output:
        STUDY_CONFIG,
    log:
        "logs/study_config.log",
    params:
        content=lambda wildcards: config,
    template_engine:
        "jinja2"


rule report:
    input:
        RESULTS,
        config=STUDY_CONFIG,
    output:
        "results/report.html",
    log:
        "logs/report.log",
    params:
        script=script_command("study_report.py"),
        snakefile=workflow.main_snakefile,
        stylesheet=os.path.join(workflow.basedir, "report", "style.css"),
    shell:
        "{params.script:q} --snakefile {params.snakefile:q}"
        " --configfile {input.config} --report-stylesheet {params.stylesheet:q} --nolock"
        " --report {output} > {log} 2>&1"
