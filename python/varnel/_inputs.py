"""What a call's `data` is, made into a data set the library holds in
memory: a pandas DataFrame prepared as varnel-prepare prepares a file, an ARFF
or CSV file prepared by varnel-prepare's own reading, or a prepared data set
(D.data and D.names) read as the miner reads it."""
import math
import numbers
import os
import shutil

import numpy as np
import pandas as pd

from . import _varnel
from ._errors import Error, checked

_PREPARED_FORMATS = (".arff", ".csv")
# A data set prepared with a class value of interest codes that value as 1.
_CODED_POSITIVE = "1"


class Source:
    """A data set to run on: its name, the target attribute and value to give
    the programs, and either the extension's data set in memory or, for a
    prepared data set given by path, the base of its files, which are read
    only when the data set is asked for (a holdout experiment from a path
    with a count as its minimum support needs no more than the files)."""

    def __init__(self, name, target, value, dataset=None, files=None):
        self.name = name
        self.target = target
        self.value = value
        self._dataset = dataset
        self.files = files

    @property
    def dataset(self):
        if self._dataset is None:
            self._dataset = checked(_varnel.dataset_from_prepared(self.files, self.name), 3)
        return self._dataset

    def place(self, folder):
        """Puts D.data and D.names into `folder`: the files of a prepared data
        set linked (or copied where links cannot be made), a prepared table
        written."""
        base = os.path.join(folder, self.name)
        if self.files is None:
            checked(self._dataset.write(base), stacklevel=3)
            return
        given, placed = _varnel.file_names(self.files), _varnel.file_names(base)
        for kind in ("data", "names"):
            source = os.path.abspath(given[kind])
            try:
                os.symlink(source, placed[kind])
            except OSError:
                shutil.copyfile(source, placed[kind])


def check_name(name):
    """A data set's name becomes the name of files in a folder of the
    package's own: one file name, nothing more."""
    if not isinstance(name, str) or name in ("", ".", "..") or "/" in name or "\0" in name:
        raise Error(f"name {name!r}: a file name without '/' expected")
    return name


def prepare_arguments(target, positive, bins, drop_numeric):
    """varnel-prepare's options for the call's settings."""
    words = []
    if target is not None:
        words += ["--target", str(target)]
    if positive is not None:
        words += ["--positive", positive]
    if bins is not None:
        words += ["--bins", str(bins)]
    if drop_numeric:
        words.append("--drop-numeric")
    return words


def value_text(value):
    """The text of one value of a data frame, as a file would hold it."""
    if isinstance(value, (bytes, np.bytes_)):
        return bytes(value).decode("utf-8", "surrogateescape")
    if isinstance(value, (bool, np.bool_)):
        return str(bool(value))
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    return str(value)


def _same_value(a, b):
    try:
        return bool(a == b)
    except (TypeError, ValueError):
        return False


def _is_real_column(uniques, series):
    """Real numbers to bin: a float column that holds a value (an empty one,
    or one of missing values only, has nothing to bin)."""
    return pd.api.types.is_float_dtype(series.dtype) and len(uniques) > 0


def _real_values(name, series, uniques, bins, drop_numeric):
    if bins is None and not drop_numeric:
        raise Error(
            f"column '{name}' holds real numbers: give bins=K to cut it into K bins of nearly "
            "equal numbers of records, or drop_numeric=True to leave it out (a column of whole "
            "numbers with missing values reads as real numbers: convert it with "
            ".astype('Int64'))"
        )
    finite = np.isfinite(np.asarray(uniques, dtype=float))
    if not finite.all():
        raise Error(f"column '{name}' holds an infinite value, which no bin can take")
    return [repr(float(u)) for u in uniques]


def frame_columns(frame, target, positive, bins, drop_numeric):
    """The columns of `frame` as the extension takes them, (name, real,
    declared values, values, codes), and the text of `positive` among the
    target's values (None when not given). Every column is read column by
    column; a value's text is made once per distinct value."""
    columns = []
    positive_text = None if positive is None else value_text(positive)
    for label, series in frame.items():
        name = str(label)
        is_target = name == target
        real = False
        declared = []
        if isinstance(series.dtype, pd.CategoricalDtype):
            codes = series.cat.codes.to_numpy(dtype=np.int64)
            uniques = list(series.cat.categories)
            values = [value_text(u) for u in uniques]
            declared = values
        else:
            codes, uniques = pd.factorize(series)
            codes = np.asarray(codes, dtype=np.int64)
            uniques = list(uniques)
            if _is_real_column(uniques, series) and not is_target:
                real = True
                values = _real_values(name, series, uniques, bins, drop_numeric)
            else:
                values = [value_text(u) for u in uniques]
        if is_target and positive is not None:
            for value, text in zip(uniques, values):
                if _same_value(value, positive):
                    positive_text = text
                    break
        columns.append((name, real, declared, values, codes))
    return columns, positive_text


def _last_column(frame):
    return str(frame.columns[-1]) if len(frame.columns) else None


def resolve(data, target, positive, bins=None, drop_numeric=False, name=None, stacklevel=3):
    """The Source of a call's `data`. A data frame, an ARFF or a CSV file is
    prepared (with the class of interest coded 1 and put first when
    `positive` is given); a prepared data set is taken as it is, with
    `positive` as the target value (as text). `target` None means the last
    attribute, as for varnel-prepare."""
    if isinstance(data, pd.DataFrame):
        name = check_name("data" if name is None else name)
        target_name = _last_column(data) if target is None else str(target)
        columns, positive_text = frame_columns(data, target_name, positive, bins, drop_numeric)
        words = prepare_arguments(target_name, positive_text, bins, drop_numeric)
        dataset = checked(_varnel.dataset_from_frame(name, columns, words), stacklevel)
        value = _CODED_POSITIVE if positive is not None else ""
        return Source(name, target_name, value, dataset=dataset)
    if not isinstance(data, (str, os.PathLike)):
        raise TypeError(
            "data: a pandas DataFrame, or the path of a prepared data set, an ARFF or a CSV "
            f"file expected, not {type(data).__name__}"
        )
    path = os.fspath(data)
    stem, extension = os.path.splitext(path)
    name = check_name(os.path.basename(stem if extension else path) if name is None else name)
    if extension.lower() in _PREPARED_FORMATS:
        positive_text = None if positive is None else value_text(positive)
        words = prepare_arguments(target, positive_text, bins, drop_numeric)
        dataset = checked(_varnel.dataset_from_file(path, name, words), stacklevel)
        value = _CODED_POSITIVE if positive is not None else ""
        return Source(name, dataset_target(dataset, target), value, dataset=dataset)
    files = _varnel.file_names(stem)
    base = stem if path in (files["data"], files["names"]) else path
    if target is None:
        raise Error("target: the class attribute of a prepared data set must be given")
    value = "" if positive is None else value_text(positive)
    return Source(name, str(target), value, files=base)


def dataset_target(dataset, target):
    """The class attribute of a data set prepared here: as given, or the one
    the preparation took (the last attribute)."""
    return str(target) if target is not None else dataset.class_name


def records_min_sup(min_sup, records):
    """A minimum support given as a count stays; a share between 0 and 1 of
    `records` is rounded up to whole records, as a study's config does. None
    for what is neither (the caller says why)."""
    if isinstance(min_sup, bool) or not isinstance(min_sup, numbers.Real):
        return None
    if isinstance(min_sup, numbers.Integral):
        return int(min_sup)
    value = float(min_sup)
    if 0 < value < 1:
        return max(1, math.ceil(value * records - 1e-9))
    if value >= 1 and value.is_integer():
        return int(value)
    return None
