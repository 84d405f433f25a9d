"""Judging kept rules against hand-made truths whose rates are worked out
by hand in the comments, and against the truth file of the real generator:
the kinds of kept rules (direction errors among them), the planted rules that
are no effect of their own and power over those that are."""
import json
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "workflow", "scripts"))
import truth as judge  # noqa: E402

BIN_DIR = os.environ.get("VARNEL_BIN_DIR", os.path.join(ROOT, "build", "bin"))


def causal(name, values, probabilities):
    return {"name": name, "role": "causal", "values": values, "probabilities": probabilities}


def noise(name, preferred, background=(0.5, 0.5), adherence=0.5):
    return {"name": name, "role": "noise", "values": ["p", "q"], "probabilities": [0.5, 0.5],
            "adherence": adherence, "preferred": list(preferred), "background": list(background)}


def make_truth(planted, base=0.2, extra=()):
    return judge.read_truth({
        "class": {"name": "class"}, "base_rate": base, "overlap": "highest",
        "profiles": [0.5, 0.5], "planted": planted,
        "attributes": [causal("a", ["x", "y", "z"], [0.5, 0.3, 0.2]),
                       causal("b", ["x", "y"], [0.5, 0.5]),
                       causal("c", ["x", "y"], [0.6, 0.4]),
                       noise("n", ["p", "q"]), *extra]})


# One planted rule a=x & b=x at 0.8, base 0.2: it holds for 0.25 of the
# records, so the overall rate is 0.25 * 0.8 + 0.75 * 0.2 = 0.35.
ONE = [{"items": ["a=x", "b=x"], "rate": 0.8}]
# (rule, rate, kind, planted index)
ONE_CASES = [
    ("n=p", 0.35, "false", None),                 # noise alone
    ("c=x", 0.35, "false", None),                 # a causal attribute no rule names
    ("n=q & c=y", 0.35, "false", None),
    ("a=x & b=x", 0.8, "planted", 0),
    ("b=x & a=x", 0.8, "planted", 0),             # in another order
    ("a=x & b=x & n=p", 0.8, "redundant", None),  # planted plus noise
    ("a=x & b=x & c=y", 0.8, "redundant", None),  # planted plus an unnamed causal item
    ("a=y", 0.2, "direction", None),              # below the overall rate, claimed above
    ("a=x", 0.5, "associated", None),             # half of the planted rule: .5*.8 + .5*.2
    ("b=x & c=x", 0.5, "redundant", None),        # c changes nothing
    ("a=x & n=q", 0.5, "redundant", None),
]


@pytest.mark.parametrize("rule,rate,kind,planted", ONE_CASES)
def test_one_planted_rule(rule, rate, kind, planted):
    truth = make_truth(ONE)
    judgement = judge.judge_rule(truth, rule)
    assert judgement.rate == pytest.approx(rate, abs=1e-12)
    assert judgement.kind == kind
    assert judgement.planted == planted
    assert judgement.false_discovery == (kind == "false")
    assert judgement.direction_error == (kind == "direction")
    assert judgement.redundant == (kind == "redundant")


# Two overlapping planted rules a=x & b=x (0.8) and b=x & c=x (0.6), base
# 0.2. Overall: a=x,b=x .25 -> .8; a!=x,b=x,c=x .15 -> .6; a!=x,b=x,c=y .1
# -> .2; b=y .5 -> .2: .2 + .09 + .02 + .1 = .41.
TWO = [{"items": ["a=x", "b=x"], "rate": 0.8}, {"items": ["b=x", "c=x"], "rate": 0.6}]
TWO_CASES = [
    ("a=x & b=x & c=x", 0.8, "redundant", None),  # both hold, the highest applies: c is idle
    ("a=x & b=x", 0.8, "planted", 0),
    ("b=x & c=x", 0.7, "planted", 1),             # .5 * .8 + .5 * .6: the first rule overlaps
    ("b=x", 0.62, "associated", None),            # .5 * .8 + .5 * (.6 * .6 + .4 * .2)
    ("c=x", 0.45, "associated", None),            # .5 * (.5 * .8 + .5 * .6) + .5 * .2
    ("a=x & c=x", 0.5, "redundant", None),        # with a=x, c no longer matters
    ("a=y & b=x & c=x", 0.6, "associated", None),
    ("n=p & n=p", 0.41, "false", None),
]


@pytest.mark.parametrize("rule,rate,kind,planted", TWO_CASES)
def test_overlapping_planted_rules(rule, rate, kind, planted):
    truth = make_truth(TWO)
    assert judge.class_rate(truth) == pytest.approx(0.41, abs=1e-12)
    judgement = judge.judge_rule(truth, rule)
    assert (judgement.rate, judgement.kind, judgement.planted) == (
        pytest.approx(rate, abs=1e-12), kind, planted)


def test_null_setting_every_rule_is_false():
    truth = make_truth([], base=0.3)
    for rule in ["a=x", "a=y & b=x", "a=z & b=y & c=x & n=q"]:
        assert judge.judge_rule(truth, rule).kind == "false"
    assert judge.judge_rules(truth, ["a=x"])["power"] is None


def test_counts_and_power_over_kept_rules():
    truth = make_truth(TWO)
    kept = ["a=x & b=x", "b=x & a=x", "a=x & b=x & n=q", "n=p", "b=x", "a=x & c=x"]
    assert judge.judge_rules(truth, kept) == {
        "discoveries": 6, "false": 1, "direction": 0, "planted": 2, "redundant": 2, "associated": 1,
        "recovered": [0], "power": 0.5}
    assert judge.judge_rules(truth, [])["power"] == 0.0


# A rule on either side of the overall rate, claimed above, below or neither
# way (ONE: overall 0.35). (rule, claim, kind)
CLAIMS = [
    ("a=y", judge.ABOVE, "direction"),
    ("a=y", judge.BELOW, "associated"),
    ("a=y", judge.NO_CLAIM, "associated"),
    ("a=y & n=p", judge.ABOVE, "direction"),    # redundant, but first of all the wrong way
    ("a=x & b=x", judge.BELOW, "direction"),    # a planted rule claimed the wrong way
    ("a=x & b=x", judge.ABOVE, "planted"),
    ("n=p", judge.BELOW, "false"),              # no side at all: false either way
]


@pytest.mark.parametrize("rule,claim,kind", CLAIMS)
def test_a_rule_on_the_other_side_from_its_claim_is_a_direction_error(rule, claim, kind):
    assert judge.judge_rule(make_truth(ONE), rule, claim).kind == kind


def test_a_direction_error_recovers_nothing_and_is_counted_apart():
    truth = make_truth(ONE)
    rules = ["a=x & b=x", "a=y", "a=x"]
    assert judge.judge_rules(truth, rules, [judge.BELOW, judge.ABOVE, judge.ABOVE]) == {
        "discoveries": 3, "false": 0, "direction": 2, "planted": 0, "redundant": 0,
        "associated": 1, "recovered": [], "power": 0.0}
    with pytest.raises(ValueError, match="3 rules but 1 claims"):
        judge.judge_rules(truth, rules, [judge.ABOVE])


def test_a_planted_rule_below_the_base_rate_is_recovered_only_claimed_below():
    # a=x & b=x at 0.05, base 0.2: overall .25 * .05 + .75 * .2 = .1625.
    truth = make_truth([{"items": ["a=x", "b=x"], "rate": 0.05}])
    assert truth.effects == [None]
    assert judge.judge_rules(truth, ["a=x & b=x"], [judge.ABOVE])["power"] == 0.0
    below = judge.judge_rules(truth, ["b=x & a=x"], [judge.BELOW])
    assert (below["planted"], below["power"]) == (1, 1.0)


# Planted rules that are no effect of their own, and how a kept rule with
# exactly their items is judged: by its rate, as any rule. (planted rules,
# base rate, their effects, kept rule, its rate, its kind, power of keeping
# the rule and every effective planted rule)
NO_EFFECT = [
    # Inside a rule of a higher rate: a=x & b=x & c=x has rate 0.8, and
    # without c it keeps it: redundant.
    ([{"items": ["a=x", "b=x"], "rate": 0.8}, {"items": ["a=x", "b=x", "c=x"], "rate": 0.6}],
     0.2, [None, "shadowed"], "a=x & b=x & c=x", 0.8, "redundant"),
    # Inside one of the same rate with fewer items: the same.
    ([{"items": ["a=x", "b=x", "c=x"], "rate": 0.8}, {"items": ["a=x", "b=x"], "rate": 0.8}],
     0.2, ["shadowed", None], "a=x & b=x & c=x", 0.8, "redundant"),
    # Inside no single rule, but wherever c=x holds, b is x or y, and a rule
    # of a higher rate holds: c=x has rate 0.7 (.5 * .7 + .5 * .7), which no
    # shorter rule has. Overall: .6 * .7 + .4 * .2 = .5.
    ([{"items": ["c=x"], "rate": 0.5}, {"items": ["c=x", "b=x"], "rate": 0.7},
      {"items": ["b=y", "c=x"], "rate": 0.7}],
     0.2, ["shadowed", None, None], "c=x", 0.7, "associated"),
    # At the base rate, beside an effect: c is independent of a and b, so
    # c=x has the overall rate .25 * .8 + .75 * .2 = .35: a false discovery.
    ([{"items": ["a=x", "b=x"], "rate": 0.8}, {"items": ["c=x"], "rate": 0.2}],
     0.2, [None, "base_rate"], "c=x", 0.35, "false"),
    # At the base rate alone: the null setting in disguise.
    ([{"items": ["a=x"], "rate": 0.2}], 0.2, ["base_rate"], "a=x", 0.2, "false"),
    # At the base rate where a lower rule holds: c=x lifts a=z & c=x back to
    # the base rate, so c=x has a rate of its own, .2, above the overall
    # .2 * (.4 * .2 + .6 * .1) + .8 * .2 = .188; still no planted effect.
    ([{"items": ["a=z"], "rate": 0.1}, {"items": ["c=x"], "rate": 0.2}],
     0.2, [None, "base_rate"], "c=x", 0.2, "associated"),
]


@pytest.mark.parametrize("planted,base,effects,rule,rate,kind", NO_EFFECT)
def test_a_planted_rule_of_no_effect_is_judged_like_any_rule(planted, base, effects, rule, rate,
                                                             kind):
    truth = make_truth(planted, base=base)
    assert truth.effects == effects
    judgement = judge.judge_rule(truth, rule)
    assert (judgement.rate, judgement.kind, judgement.planted) == (
        pytest.approx(rate, abs=1e-12), kind, None)
    effective = [" & ".join(entry["items"]) for entry, why in zip(planted, effects) if why is None]
    # Each planted effect kept, claimed on its own side of the overall rate.
    sides = [judge.ABOVE if judge.class_rate(truth, other) > judge.class_rate(truth)
             else judge.BELOW for other in effective]
    counts = judge.judge_rules(truth, [rule] + effective, [judge.ABOVE] + sides)
    # Power is over the planted effects only, and keeping the rule of no
    # effect recovers nothing.
    assert counts["recovered"] == [index for index, why in enumerate(effects) if why is None]
    assert counts["power"] == (1.0 if effective else None)


def test_a_planted_rule_that_never_holds_is_no_effect():
    truth = make_truth([{"items": ["d=y"], "rate": 0.9}, {"items": ["a=x"], "rate": 0.6}],
                       extra=[causal("d", ["x", "y"], [1.0, 0.0])])
    assert truth.effects == ["never_holds", None]
    assert judge.judge_rules(truth, ["a=x"])["power"] == 1.0


def test_items_as_a_list():
    truth = make_truth(ONE)
    assert judge.judge_rule(truth, ["a=x", "b=x"]).planted == 0
    assert judge.parse_items("a=x=1 & b=") == [("a", "x=1"), ("b", "")]


# (rule, message) of rules a truth cannot judge.
BAD_RULES = [
    ("a=w", "a=w is no item"),
    ("zz=x", "zz=x is no item"),
    ("class=1", "class=1 is no item"),
    ("a=x & a=y", "two values of a"),
    ("a", "'a' is no item"),
    ("m=q", "can never hold"),     # background 0 and every profile prefers p
    ("o=p & n2=p", "can never hold"),  # each possible, never together
]


@pytest.mark.parametrize("rule,message", BAD_RULES)
def test_rules_that_cannot_be_judged(rule, message):
    truth = make_truth(ONE, extra=[noise("m", ["p", "p"], (1.0, 0.0), 1.0),
                                   noise("o", ["p", "q"], (0.0, 1.0), 1.0),
                                   noise("n2", ["q", "p"], (0.0, 1.0), 1.0)])
    with pytest.raises(ValueError, match=message):
        judge.judge_rule(truth, rule)


def test_truths_that_cannot_be_read():
    with pytest.raises(ValueError, match="unknown overlap"):
        judge.read_truth({"overlap": "sum"})
    with pytest.raises(ValueError, match="n=p is no causal item"):
        make_truth([{"items": ["n=p"], "rate": 0.5}])


@pytest.mark.skipif(not os.path.exists(os.path.join(BIN_DIR, "varnel-generate")),
                    reason="varnel-generate is not built")
def test_truth_of_the_generator(tmp_path):
    """The judge and the generator agree on the overall rate of a setting with
    random skews and two overlapping planted rules."""
    settings = {"records": 10, "base_rate": 0.25,
                "causal": [{"name": "c", "count": 4, "values": 3, "skew": "random"}],
                "noise": [{"name": "n", "count": 3, "values": ["a", "b"]}],
                "planted": [{"items": ["c1=v1", "c2=v2"], "rate": 0.9},
                            {"items": ["c2=v2", "c3=v3"], "rate": 0.1}]}
    (tmp_path / "s.json").write_text(json.dumps(settings))
    subprocess.run([os.path.join(BIN_DIR, "varnel-generate"), "--seed", "5", "s.json", "d"],
                   cwd=tmp_path, check=True, capture_output=True)
    written = json.loads((tmp_path / "d.truth.json").read_text())
    truth = judge.load_truth(tmp_path / "d.truth.json")
    assert judge.class_rate(truth) == pytest.approx(written["class_rate"], abs=judge.TOLERANCE)
    assert judge.judge_rule(truth, "c2=v2 & c1=v1").kind == "planted"
    assert judge.judge_rule(truth, "c4=v1 & n1=a").kind == "false"


@pytest.mark.skipif(not os.path.exists(os.path.join(BIN_DIR, "varnel-generate")),
                    reason="varnel-generate is not built")
def test_the_judge_and_the_generator_agree_on_which_planted_rules_are_effects(tmp_path):
    settings = {"records": 10, "base_rate": 0.3,
                "causal": [{"name": "c", "count": 3, "values": 3, "skew": "random"},
                           {"name": "d", "values": 2, "probabilities": [1, 0]}],
                "planted": [{"items": ["c1=v1", "c2=v2"], "rate": 0.8},
                            {"items": ["c1=v1", "c2=v2", "c3=v1"], "rate": 0.6},
                            {"items": ["c3=v3"], "rate": 0.3},
                            {"items": ["d=v2"], "rate": 0.9},
                            {"items": ["c3=v2", "d=v1"], "rate": 0.7},
                            {"items": ["c3=v2"], "rate": 0.6},
                            {"items": ["c3=v1"], "rate": 0.5}]}
    (tmp_path / "s.json").write_text(json.dumps(settings))
    run = subprocess.run([os.path.join(BIN_DIR, "varnel-generate"), "s.json", "d"],
                         cwd=tmp_path, check=True, capture_output=True, text=True)
    written = json.loads((tmp_path / "d.truth.json").read_text())
    marks = [None if rule["effective"] else rule["why"] for rule in written["planted"]]
    assert marks == [None, "shadowed", "base_rate", "never_holds", None, "shadowed", None]
    assert judge.load_truth(tmp_path / "d.truth.json").effects == marks
    assert run.stdout.count("Warning: ") == 4
