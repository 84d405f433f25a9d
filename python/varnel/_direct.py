"""varnel.direct: direct adjustment in process, from and to memory: the
miner's rules on the whole data set judged by every correction at once."""
import json
import numbers

import pandas as pd

from . import _inputs, _varnel
from ._errors import Error, checked

_MAX_SEED = 2**64 - 1
_MAX_MIN_SUP = 2**31 - 1


class DirectResult:
    """A direct run's results.

    rules   the rule table O.direct.rules.csv as a DataFrame: every rule the
            miner reports, by ascending p-value, with one 0/1 column per
            method
    levels  each method's corrected level (NaN where it has no single level,
            as the layered one, or was not computed)
    counts  the rules each method keeps
    record  O.direct.json as a dict"""

    def __init__(self, rules, levels, counts, record):
        self.rules = rules
        self.levels = levels
        self.counts = counts
        self.record = record

    def __repr__(self):
        counts = ", ".join(f"{key} {value}" for key, value in self.counts.items())
        return f"<DirectResult {len(self.rules)} rules: {counts}>"


def _whole(value, low, high):
    return (
        not isinstance(value, bool)
        and isinstance(value, numbers.Integral)
        and low <= int(value) <= high
    )


def _check_settings(min_sup, level, permutations, seed, top_k):
    if min_sup is None or not 1 <= min_sup <= _MAX_MIN_SUP:
        raise Error(
            "min_sup: a whole number of records from 1 to 2147483647, or a share of the "
            "records between 0 and 1, expected"
        )
    if isinstance(level, bool) or not isinstance(level, numbers.Real) or not 0 < level <= 1:
        raise Error(f"level {level!r}: a number above 0 and at most 1 expected")
    if not _whole(permutations, 0, _varnel.MAX_PERMUTATIONS):
        raise Error(
            f"permutations {permutations!r}: an integer from 0 to "
            f"{_varnel.MAX_PERMUTATIONS} expected"
        )
    if not _whole(seed, 0, _MAX_SEED):
        raise Error(f"seed {seed!r}: an integer from 0 to {_MAX_SEED} expected")
    if top_k is not None and not _whole(top_k, 1, _MAX_MIN_SUP):
        raise Error(f"top_k {top_k!r}: an integer from 1 to {_MAX_MIN_SUP} expected")


def direct(
    data,
    target,
    positive,
    min_sup,
    level=0.05,
    permutations=1000,
    seed=1,
    *,
    tarone_lowered=False,
    top_k=None,
    bins=None,
    drop_numeric=False,
    name=None,
):
    """Direct adjustment on the whole data set, as `Brimel` with `--direct`
    does it, in this process: no file is written.

    data, target, positive, bins, drop_numeric, name  as for varnel.holdout
    min_sup         records of the whole data set, or a share of them between
                    0 and 1 (rounded up)
    level           the family-wise (and FDR) level
    permutations    Westfall-Young's permutations (0 for none)
    seed            the permutations' seed
    tarone_lowered  Tarone's level over a lowered support as well (it can
                    cost far more than the mining)
    top_k           keep the top_k rules of smallest p-value, min_sup only a
                    floor; the family-wise levels stay valid, the FDR step
                    is left out (its level NaN)

    Returns a DirectResult. Raises varnel.Error with the one-line message of
    the failure and warns with the run's warning lines; Ctrl-C stops the run
    within about a second."""
    source = _inputs.resolve(data, target, positive, bins, drop_numeric, name, stacklevel=3)
    count = _inputs.records_min_sup(min_sup, source.dataset.records)
    _check_settings(count, level, permutations, seed, top_k)
    columns, methods, record = checked(
        _varnel.direct(
            source.dataset,
            source.target,
            source.value,
            count,
            float(level),
            int(permutations),
            int(seed),
            bool(tarone_lowered),
            0 if top_k is None else int(top_k),
        )
    )
    rules = pd.DataFrame({column: values for column, values in columns})
    levels = {method: method_level for method, method_level, _ in methods}
    counts = {method: kept for method, _, kept in methods}
    return DirectResult(rules, levels, counts, json.loads(record))
