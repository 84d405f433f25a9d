"""Data frames as input: string, categorical, boolean and integer columns
are values, missing values are missing, real-valued columns are binned as
varnel-prepare bins them or refused by name; a target value that is absent,
an empty frame and other unusable input each raise one clear varnel.Error;
values the record format cannot carry are rewritten with a warning."""
import numpy as np
import pandas as pd
import pytest

import varnel


def mixed_frame(records=200):
    """Every kind of column, with missing values, and a class tied to one of
    them."""
    rng = np.random.default_rng(5)
    colour = rng.choice(["red", "green", "blue"], size=records)
    frame = pd.DataFrame(
        {
            "colour": colour,
            "size": pd.Categorical(rng.choice(["S", "M", "L"], size=records),
                                   categories=["S", "M", "L", "XL"]),
            "member": rng.random(records) < 0.4,
            "visits": rng.integers(0, 4, size=records),
            "note": pd.array(rng.choice(["a", "b", None], size=records), dtype="string"),
            "bought": np.where((colour == "red") | (rng.random(records) < 0.2), "yes", "no"),
        }
    )
    frame.loc[::7, "colour"] = None
    return frame


def test_each_kind_of_column_becomes_values_as_a_file_would_hold_them():
    frame = mixed_frame()
    prepared = varnel.prepare(frame, target="bought", positive="yes")
    assert list(prepared.columns) == ["bought", "colour", "size", "member", "visits", "note"]
    assert list(prepared["bought"].cat.categories) == ["1", "0"]
    assert (prepared["bought"] == "1").sum() == (frame["bought"] == "yes").sum()
    # A category declared but never used is still listed, in declared order.
    assert list(prepared["size"].cat.categories) == ["S", "M", "L", "XL"]
    assert set(prepared["member"].cat.categories) == {"True", "False"}
    assert set(prepared["visits"].cat.categories) == {"0", "1", "2", "3"}
    # Missing stays missing, whatever the column's kind of missing value.
    assert prepared["colour"].isna().sum() == frame["colour"].isna().sum() > 0
    assert prepared["note"].isna().sum() == frame["note"].isna().sum() > 0


def test_a_mixed_frame_runs_through_holdout_and_direct():
    frame = mixed_frame(400)
    found = varnel.direct(frame, "bought", "yes", 20, permutations=100)
    assert any(rule == "colour=red" for rule in found.rules["rule"])
    result = varnel.holdout(frame, "bought", "yes", 10, seed=2)
    assert result.counts["tested"] > 0


def test_a_real_valued_column_is_binned_when_asked_and_refused_by_name_otherwise():
    frame = mixed_frame()
    frame["weight"] = np.linspace(50.0, 90.0, len(frame))
    with pytest.raises(varnel.Error, match="column 'weight' holds real numbers"):
        varnel.direct(frame, "bought", "yes", 20)
    binned = varnel.prepare(frame, target="bought", positive="yes", bins=3)
    assert binned["weight"].value_counts().tolist() == [67, 67, 66]
    assert list(binned["weight"].cat.categories)[0].startswith("[50..")
    dropped = varnel.prepare(frame, target="bought", positive="yes", drop_numeric=True)
    assert "weight" not in dropped.columns
    frame.loc[3, "weight"] = np.inf
    with pytest.raises(varnel.Error, match="column 'weight' holds an infinite value"):
        varnel.prepare(frame, target="bought", positive="yes")


@pytest.mark.parametrize(
    "frame,target,positive,message",
    [
        (mixed_frame(), "bought", "maybe",
         "data: value 'maybe' never occurs in attribute 'bought'"),
        (mixed_frame(), "price", "yes", "data: no attribute named 'price'"),
        (pd.DataFrame(), "bought", "yes", "data: no attributes"),
        (pd.DataFrame({"bought": [], "colour": []}), "bought", "yes",
         "data: no record has a value of attribute 'bought'"),
        (mixed_frame().rename(columns={"note": "colour"}), "bought", "yes",
         "two attributes are named 'colour'"),
        (mixed_frame().rename(columns={"note": "a:b"}), "bought", "yes", "a:b"),
    ],
)
def test_unusable_input_raises_one_clear_error(frame, target, positive, message):
    for call in (varnel.direct, varnel.holdout):
        with pytest.raises(varnel.Error) as failure:
            call(frame, target, positive, 10)
        assert message in str(failure.value)


def test_values_the_format_cannot_carry_are_rewritten_with_a_warning():
    frame = pd.DataFrame({"c": ["1", "0"] * 20, "a": ["x,y", " z"] * 20})
    with pytest.warns(varnel.VarnelWarning, match="attribute 'a': "):
        prepared = varnel.prepare(frame, target="c", positive="1")
    assert list(prepared["a"].cat.categories) == ["x;y", "_z"]


def test_a_path_of_another_kind_and_an_object_that_is_no_data_are_refused(tmp_path):
    with pytest.raises(TypeError, match="a pandas DataFrame"):
        varnel.direct([1, 2], "c", "1", 10)
    with pytest.raises(varnel.Error, match="cannot open file"):
        varnel.direct(str(tmp_path / "nothing.csv"), "c", "1", 10)
    with pytest.raises(varnel.Error, match="name 'a/b'"):
        varnel.holdout(mixed_frame(), "bought", "yes", 10, name="a/b")
