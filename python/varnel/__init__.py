"""varnel from Python: holdout experiments, direct adjustment and data with
a known truth, from and to pandas DataFrames.

    import varnel
    result = varnel.holdout(frame, "Class", "republican", min_sup=20, seed=3)
    result.rules, result.counts, result.record

holdout   one holdout experiment, run by the varnel program in a temporary
          folder (its results are the command's)
direct    direct adjustment with every correction, in this process
generate  a data set drawn from a model with a known truth, in this process
prepare   varnel-prepare's preparation of a data frame, in this process

Failures raise varnel.Error with the line the command would print; its
warning lines become varnel.VarnelWarning warnings. Long runs stop at Ctrl-C
and leave nothing behind; calls from several threads at once are safe.
"""
from ._errors import Error, VarnelWarning
from ._varnel import VERSION as __version__
from ._direct import DirectResult, direct
from ._generate import generate, prepare
from ._holdout import HoldoutResult, holdout

__all__ = [
    "__version__",
    "DirectResult",
    "Error",
    "HoldoutResult",
    "VarnelWarning",
    "direct",
    "generate",
    "holdout",
    "prepare",
]
