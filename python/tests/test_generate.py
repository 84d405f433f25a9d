"""varnel.generate draws the records varnel-generate draws: the same data
file, byte for byte, the same attribute values in the same order, and the
same truth, for the same settings and seed; unsound settings raise the
command's line."""
import json

import pytest

import varnel
from varnel import _varnel
from conftest import run

SETTINGS = {
    "records": 2000,
    "base_rate": 0.3,
    "class": "outcome",
    "causal": [{"name": "c", "count": 3, "values": 3, "skew": "random"}],
    "noise": [{"name": "n", "count": 4, "values": ["lo", "mid", "hi"], "adherence": 0.7}],
    "profiles": [0.5, 0.3, 0.2],
    "planted": [{"items": ["c1=v1", "c2=v2"], "rate": 0.8}],
}


@pytest.mark.parametrize("seed", [0, 17, 2**64 - 1])
def test_the_same_records_and_truth_as_the_command(tmp_path, seed):
    (tmp_path / "settings.json").write_text(json.dumps(SETTINGS))
    run(tmp_path, "varnel-generate", "--seed", str(seed), "settings.json", "g")
    files = _varnel.file_names(str(tmp_path / "g"))
    frame, truth = varnel.generate(SETTINGS, seed)

    data = frame.to_csv(header=False, index=False, lineterminator="\n")
    with open(files["data"]) as file:
        assert data == file.read()
    names = "".join(
        f"{column}: {','.join(['1', '0'] if i == 0 else frame[column].cat.categories)}.\n"
        for i, column in enumerate(frame.columns)
    )
    with open(files["names"]) as file:
        assert names == file.read()
    with open(str(tmp_path / "g") + ".truth.json") as file:
        assert truth == json.load(file)
    assert frame["outcome"].dtype == "int64"


def test_a_generated_frame_runs_as_the_generated_files_do(tmp_path):
    frame, _ = varnel.generate(SETTINGS, 4)
    (tmp_path / "settings.json").write_text(json.dumps(SETTINGS))
    run(tmp_path, "varnel-generate", "--seed", "4", "settings.json", "g")
    from_files = varnel.direct(str(tmp_path / "g"), "outcome", 1, 40, permutations=100)
    from_frame = varnel.direct(frame, "outcome", 1, 40, permutations=100)
    assert from_frame.record == from_files.record
    assert from_frame.rules.equals(from_files.rules)


@pytest.mark.parametrize(
    "settings,message",
    [
        ({**SETTINGS, "records": 0}, "settings: "),
        ({**SETTINGS, "colour": 1}, "colour"),
        ({**SETTINGS, "base_rate": float("nan")}, "settings: Out of range float"),
        ({"base_rate": 0.3}, "records"),
    ],
)
def test_unsound_settings_raise_the_commands_line(settings, message):
    with pytest.raises(varnel.Error, match=message):
        varnel.generate(settings, 1)


def test_the_seed_is_checked_as_the_command_checks_it():
    with pytest.raises(varnel.Error, match="the seed must be a whole number"):
        varnel.generate(SETTINGS, -1)
