"""Snakemake's report, made where there may be no network.

Snakemake 7 builds its report page from JavaScript libraries and licence
texts it downloads while writing the page. This runs `snakemake` with the same
arguments, but takes each of those from the Debian package that ships it when
it is installed, downloads the rest with a short time limit, and when that
fails too puts in a stand-in: the page then still shows every result, only
without the styling or the charts that need the missing library.

    study_report.py SNAKEMAKE_ARGUMENTS...   (e.g. -s workflow/Snakefile
        --configfile examples/study.yaml --report results/report.html)
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
    GITHUB + "vega/vega/main/LICENSE": "/usr/share/doc/libjs-vega/copyright",
}

# Without vega-embed the rule graph and run-time charts cannot be drawn; the
# stand-in says so where they would be and lets the page go on.
VEGA_EMBED_STAND_IN = """
function vegaEmbed(selector, spec) {
  var element = document.querySelector(selector);
  if (element) element.textContent =
    "(This chart needs the vega-embed library, which was not available when the report was made.)";
  return Promise.resolve({view: {addEventListener: function () {}}});
}
"""

# Without Tailwind's script the page keeps its own style sheet; a few rules
# keep the menu, the result lists and the images readable.
TAILWIND_STAND_IN = """
(function () {
  var style = document.createElement("style");
  style.textContent = "body{font-family:sans-serif;margin:0}" +
    "nav,.fixed{background:#f3f4f6;padding:.5em}" +
    "table{border-collapse:collapse;font-size:small}td,th{border:1px solid #ccc;padding:2px 6px}" +
    "img{max-width:100%}a{color:#1d4ed8;cursor:pointer}" +
    ".hidden{display:none}.flex{display:flex}.grid{display:grid}";
  document.head.appendChild(style);
})();
"""


def stand_in(url):
    if "vega-embed" in url:
        return VEGA_EMBED_STAND_IN
    if "tailwindcss.com" in url:
        return TAILWIND_STAND_IN
    if url.endswith(".js") or "/ajax/libs/" in url:
        return f"/* {url} was not available when the report was made */"
    return f"The licence text was not available when the report was made; see {url}"


def fetch(url, original):
    """The text for a URL: a Debian package's copy, a download, or a stand-in."""
    local = DEBIAN_FILES.get(url)
    if local and os.path.isfile(local):
        with open(local, errors="replace") as handle:
            return handle.read()
    try:
        import requests
        response = requests.get(url, timeout=5)
        if response.status_code == requests.codes.ok:
            return response.text
    except Exception:  # noqa: BLE001 - any failure to download means: not here
        pass
    print(f"Warning: {url} is not available; the report uses a stand-in", file=sys.stderr)
    return stand_in(url)


def install_fetcher():
    import snakemake.report as report
    import snakemake.report.data.common as common
    import snakemake.report.data.packages as packages
    original = common.get_resource_as_string

    def get_resource_as_string(path_or_uri):
        if "://" not in str(path_or_uri):
            return original(path_or_uri)  # the report's own template files
        return fetch(path_or_uri, original)

    for module in (common, packages, report):
        if hasattr(module, "get_resource_as_string"):
            module.get_resource_as_string = get_resource_as_string


def main(argv):
    install_fetcher()
    import snakemake
    return snakemake.main(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
