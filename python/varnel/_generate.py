"""varnel.generate and varnel.prepare: data sets made in memory, as
varnel-generate and varnel-prepare make their files."""
import json

import numpy as np
import pandas as pd

from . import _inputs, _varnel
from ._errors import Error, checked

_MAX_SEED = 2**64 - 1


def generate(settings, seed=0):
    """A data set drawn from the model `settings` describes (a dict of the
    JSON varnel-generate reads), with the seed `seed`: the same records as
    `varnel-generate --seed SEED` draws from that JSON.

    Returns (frame, truth): a DataFrame with the class first (1 or 0) and
    every attribute as a categorical column whose categories are its values
    in the model's order, and the truth as D.truth.json gives it (a dict).
    Unsound settings raise varnel.Error with the command's line, with
    "settings" in place of the file's name."""
    if not isinstance(settings, dict):
        raise TypeError(f"settings: a dict expected, not {type(settings).__name__}")
    try:
        text = json.dumps(settings, allow_nan=False)
    except (TypeError, ValueError) as failure:
        raise Error(f"settings: {failure}") from None
    if isinstance(seed, bool) or not isinstance(seed, int) or not 0 <= seed <= _MAX_SEED:
        raise Error(f"the seed must be a whole number from 0 to {_MAX_SEED}, not '{seed}'")
    class_name, classes, columns, truth = checked(_varnel.generate(text, seed))
    frame = {class_name: classes.astype(np.int64)}
    for name, values, codes in columns:
        frame[name] = pd.Categorical.from_codes(codes, categories=values)
    return pd.DataFrame(frame), json.loads(truth)


def prepare(data, target=None, positive=None, bins=None, drop_numeric=False):
    """varnel-prepare's preparation of a data frame (or an ARFF or CSV file),
    returned as a data frame: the class of interest coded "1" (else "0") and
    put first when `positive` is given, real-valued columns cut into `bins`
    bins (default 4) or left out with `drop_numeric`, values the record
    format cannot carry rewritten (each kind with a warning). Every column is
    categorical, its categories the values as the .names file lists them;
    a missing value is NaN."""
    if bins is None and not drop_numeric:
        bins = 4
    source = _inputs.resolve(data, target, positive, bins, drop_numeric, stacklevel=3)
    if source.files is not None:
        raise Error(
            "prepare: a data frame, an ARFF or a CSV file expected, not a prepared data set"
        )
    frame = {}
    for name, values, codes in source.dataset.frame_columns():
        frame[name] = pd.Categorical.from_codes(codes, categories=values)
    return pd.DataFrame(frame)
