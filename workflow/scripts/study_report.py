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
import json
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

# Without Tailwind's script (which makes the page's style from its class
# names) the page gets these rules for the classes it uses.
TAILWIND_SUBSET = r"""
*,::before,::after{box-sizing:border-box}
body{font-family:system-ui,sans-serif;margin:0;background:#f3f4f6;color:#111}
svg{width:1rem;height:1rem;flex:none} img.h-4{height:1rem}
a{color:inherit;text-decoration:none;cursor:pointer} ul,ol{list-style:none;margin:0;padding:0}
table{border-collapse:collapse} iframe{border:0;background:#fff} .prose{line-height:1.5}
.fixed{position:fixed;top:0;left:0} .sticky{position:sticky} .top-0{top:0}
.relative{position:relative} .z-50{z-index:50} .z-0{z-index:0}
.flex{display:flex} .inline-flex{display:inline-flex} .block{display:block}
.items-center{align-items:center} .items-start{align-items:flex-start}
.justify-center{justify-content:center} .grow{flex-grow:1}
.gap-1{gap:.25rem} .gap-2{gap:.5rem} .gap-3{gap:.75rem}
.p-1{padding:.25rem} .p-2{padding:.5rem} .p-3{padding:.75rem} .pr-2{padding-right:.5rem}
.px-3{padding-left:.75rem;padding-right:.75rem} .py-1{padding-top:.25rem;padding-bottom:.25rem}
.m-2{margin:.5rem} .mx-1{margin:0 .25rem} .mr-5{margin-right:1.25rem} .mb-1{margin-bottom:.25rem}
.w-1\/5{width:20%} .flex>.w-1\/5{flex:none;width:calc(20% + 2.5rem)} .w-1\/4{width:25%} .w-1\/2{width:50%} .w-3\/4{width:75%}
.w-full{width:100%} .w-screen{width:100vw} .w-fit{width:fit-content}
.min-w-fit{min-width:fit-content} .h-3{height:.75rem} .h-screen{height:100vh}
.max-h-screen{max-height:100vh} .min-h-screen{min-height:100vh} .max-w-lg{max-width:32rem}
.overflow-auto{overflow:auto} .text-white{color:#fff} .text-slate-700{color:#334155}
.text-emerald-500,.hover\:text-emerald-500:hover{color:#10b981}
.text-xs{font-size:.75rem} .text-sm{font-size:.875rem} .text-l{font-size:1.1rem}
.text-left{text-align:left} .text-right{text-align:right} .uppercase{text-transform:uppercase}
.font-bold{font-weight:700} .whitespace-nowrap{white-space:nowrap}
.whitespace-pre-line{white-space:pre-line} .rounded{border-radius:.25rem} .border-0{border:0}
.bg-transparent{background:transparent} .bg-slate-800,.hover\:bg-slate-800:hover{background:#1e293b}
.bg-slate-900\/70{background:rgba(15,23,42,.92)} .bg-white\/80{background:rgba(255,255,255,.8)}
.bg-white\/70{background:rgba(255,255,255,.7)} .-translate-x-full{transform:translateX(-100%)}
"""
TAILWIND_STAND_IN = ("(function () { var style = document.createElement('style'); "
                     f"style.textContent = {json.dumps(TAILWIND_SUBSET)}; "
                     "document.head.appendChild(style); })();")


def stand_in(url):
    if "vega-embed" in url:
        return VEGA_EMBED_STAND_IN
    if "tailwindcss.com" in url:
        return TAILWIND_STAND_IN
    if url.endswith(".js") or "/ajax/libs/" in url:
        return f"/* {url} was not available when the report was made */"
    return f"The licence text was not available when the report was made; see {url}"


def fetch(url):
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
        return fetch(path_or_uri)

    for module in (common, packages, report):
        if hasattr(module, "get_resource_as_string"):
            module.get_resource_as_string = get_resource_as_string


def main(argv):
    install_fetcher()
    import snakemake
    return snakemake.main(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
