"""Snakemake's report, made without the network.

Snakemake 7.21 builds its report page from JavaScript libraries and licence
texts it downloads while writing the page, and offers no option to give them
otherwise (its --report-stylesheet, which the workflow uses for the page's
look, only adds a style sheet). This runs `snakemake` with the arguments
given, but takes each of those texts from the Debian package that ships it,
and puts a stand-in where there is none: the page then shows every result and
caption, without the rule graph and run-time charts that need vega.

    study_report.py SNAKEMAKE_ARGUMENTS...   (e.g. --snakefile workflow/Snakefile
        --configfile CONFIG --report-stylesheet STYLE_CSS --report results/report.html)
"""
import os
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

# Where the page would draw a vega chart, it says why there is none.
VEGA_EMBED_STAND_IN = """
function vegaEmbed(selector, spec) {
  var element = document.querySelector(selector);
  if (element) element.textContent =
    "(This chart needs the vega-embed library, which the report is made without.)";
  return Promise.resolve({view: {addEventListener: function () {}}});
}
"""


def resource_text(url):
    """The text for a URL: a Debian package's copy, or a stand-in."""
    local = DEBIAN_FILES.get(url)
    if local and os.path.isfile(local):
        with open(local, errors="replace") as handle:
            return handle.read()
    if "vega-embed" in url:
        return VEGA_EMBED_STAND_IN
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


def main(argv):
    install_resource_texts()
    import snakemake
    return snakemake.main(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
