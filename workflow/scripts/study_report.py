"""Snakemake's report, made without the network.

Snakemake 7.21 builds its report page from JavaScript libraries and licence
texts it downloads while writing the page, and offers no option to give them
otherwise (its --report-stylesheet, which the workflow uses for the page's
look, only adds a style sheet). This runs `snakemake` with the arguments
given, but takes each of those texts from the Debian package that ships it,
and puts a stand-in where there is none. Where the page would draw a vega
chart, the stand-in shows the rule graph as drawn by Graphviz's `dot` (left
out when `dot` is missing) and the run times as tables.

    study_report.py SNAKEMAKE_ARGUMENTS...   (e.g. --snakefile workflow/Snakefile
        --configfile CONFIG --report-stylesheet STYLE_CSS --report results/report.html)
"""
import base64
import json
import os
import shutil
import subprocess
import sys

CDN = "https://cdnjs.cloudflare.com/ajax/libs/"
GITHUB = "https://raw.githubusercontent.com/"

# URL -> file of a Debian package holding the same text
DEBIAN_FILES = {
    CDN + "react/18.2.0/umd/react.production.min.js":
        "/usr/share/nodejs/react/umd/react.production.min.js",
    CDN + "react-dom/18.2.0/umd/react-dom.production.min.js":
        "/usr/share/nodejs/react-dom/umd/react-dom.production.min.js",
    GITHUB + "snakemake/snakemake/main/LICENSE.md": "/usr/share/doc/snakemake/copyright",
    GITHUB + "pygments/pygments/master/LICENSE": "/usr/share/doc/python3-pygments/copyright",
    GITHUB + "facebook/react/main/LICENSE": "/usr/share/doc/node-react/copyright",
}

# Stands in for vega-embed: the rule graph as an image (RULE_GRAPH, a data URI,
# or none); the charts of the jobs' run times and timeline as tables with a row
# per rule (a study has thousands of jobs); anything else hidden.
VEGA_EMBED_STAND_IN = """
var RULE_GRAPH = %s;
function perRule(values) {
  var rules = {};
  values.forEach(function (job) {
    var rule = rules[job.rule] = rules[job.rule] ||
        {rule: job.rule, jobs: 0, seconds: 0, longest: 0, first: job.starttime, last: job.endtime};
    rule.jobs += 1;
    if ("runtime" in job) {
      rule.seconds += job.runtime;
      rule.longest = Math.max(rule.longest, job.runtime);
    } else {
      if (job.starttime < rule.first) rule.first = job.starttime;
      if (job.endtime > rule.last) rule.last = job.endtime;
    }
  });
  var timed = "runtime" in values[0];
  var names = timed ? ["rule", "jobs", "seconds", "longest"] : ["rule", "jobs", "first", "last"];
  var heads = timed ? ["rule", "jobs", "seconds in all", "longest job (s)"]
                    : ["rule", "jobs", "first started", "last ended"];
  return [heads].concat(Object.values(rules).map(function (rule) {
    return names.map(function (name) { return rule[name]; });
  }));
}
function vegaEmbed(selector, spec) {
  var element = document.querySelector(selector);
  var values = spec && spec.data && spec.data.values;
  if (element && selector === "#rulegraph" && RULE_GRAPH) {
    var image = document.createElement("img");
    image.src = RULE_GRAPH;
    image.alt = "the workflow's rules";
    element.appendChild(image);
  } else if (element && Array.isArray(values) && values.length) {
    var table = document.createElement("table");
    table.className = "runtime-table";
    table.createCaption().textContent = spec.description || "";
    perRule(values).forEach(function (cells, index) {
      var line = table.insertRow();
      cells.forEach(function (text) {
        var cell = document.createElement(index ? "td" : "th");
        cell.textContent = typeof text === "number" && !Number.isInteger(text)
            ? text.toFixed(1) : String(text);
        line.appendChild(cell);
      });
    });
    element.appendChild(table);
  } else if (element) {
    element.style.display = "none";
  }
  return Promise.resolve({view: {addEventListener: function () {}}});
}
"""

# The rule graph, drawn by dot while Snakemake makes the report (data URI).
rule_graph = {"image": None}


def draw_rule_graph(dag):
    """The workflow's rules as an SVG data URI, drawn by Graphviz's dot from
    Snakemake's own rule graph; None without dot."""
    dot = shutil.which("dot")
    if dot is None:
        return None
    drawn = subprocess.run([dot, "-Tsvg"], input=dag.rule_dot(), capture_output=True, text=True)
    if drawn.returncode != 0:
        return None
    return "data:image/svg+xml;base64," + base64.b64encode(drawn.stdout.encode()).decode()


def resource_text(url):
    """The text for a URL: a Debian package's copy, or a stand-in."""
    local = DEBIAN_FILES.get(url)
    if local and os.path.isfile(local):
        with open(local, errors="replace") as handle:
            return handle.read()
    if "vega-embed" in url:
        return VEGA_EMBED_STAND_IN % json.dumps(rule_graph["image"])
    if url.endswith(".js") or "/ajax/libs/" in url or "tailwindcss.com" in url:
        return f"/* {url}: not used by this report */"
    return f"The licence text is not included in this report; see {url}"


def install_resource_texts():
    """Snakemake's report reads every URL through one function; the report's
    own template files still come from Snakemake."""
    import snakemake.report as report
    import snakemake.report.data.common as common
    import snakemake.report.data.packages as packages
    original = common.get_resource_as_string

    def get_resource_as_string(path_or_uri):
        if "://" not in str(path_or_uri):
            return original(path_or_uri)
        return resource_text(path_or_uri)

    for module in (common, packages, report):
        if hasattr(module, "get_resource_as_string"):
            module.get_resource_as_string = get_resource_as_string

    # The report asks for the rule graph's chart before its page's texts.
    original_spec = report.rulegraph_spec

    def rulegraph_spec(dag):
        rule_graph["image"] = draw_rule_graph(dag)
        return original_spec(dag)

    report.rulegraph_spec = rulegraph_spec


def main(argv):
    install_resource_texts()
    import snakemake
    return snakemake.main(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
