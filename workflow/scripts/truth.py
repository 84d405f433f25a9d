"""Judging rules against the truth of a generated data set, the file
BASE.truth.json that varnel-generate writes beside BASE.data.

The true class rate of a rule is the chance of the class among the records
where all its items hold, summed exactly over the model: the class depends on
the causal attributes alone, through the planted rules (where several hold,
the highest rate applies; where none holds, the base rate), and the noise
attributes are independent of the class and of every causal attribute. So
noise items never change a rule's rate, and only the causal attributes that
planted rules name need to be summed over, each value they name on its own
and the others together.

A kept rule is then
- a false discovery when its rate equals the overall class rate (its items are
  independent of the class);
- redundant when it is associated with the class but some item can be dropped
  without changing its rate (a planted rule plus a noise item, say);
- a planted rule recovered when it has exactly the items of a planted rule;
- otherwise associated: a true association that is neither (a causal item of
  another value, part of a planted rule).
Rates are compared with the absolute tolerance TOLERANCE: the sums' rounding
stays far below it, and rates that truly differ differ far more."""
import itertools
import json
from dataclasses import dataclass, field

TOLERANCE = 1e-9
ITEM_SEPARATOR = " & "  # between the items of a rule in the rule table
KINDS = ("false", "planted", "redundant", "associated")


@dataclass
class Truth:
    """A truth file read for judging. `attributes` maps a name to its entry
    of the file, `planted` holds (items as a dict attribute -> value, rate)."""
    base_rate: float
    class_name: str
    attributes: dict
    profiles: list
    planted: list
    # Per attribute a planted rule names: (value or None for the rest, chance).
    buckets: dict
    rates: dict = field(default_factory=dict)  # memo: fixed causal items -> rate


@dataclass(frozen=True)
class Judgement:
    rate: float            # the true class rate where the rule holds
    false_discovery: bool
    redundant: bool
    planted: int | None    # index of the planted rule with exactly its items
    kind: str              # "false", "planted", "redundant" or "associated"


def read_truth(truth):
    """A Truth from the parsed JSON of a truth file; ValueError when it
    describes a model this module does not know."""
    if truth.get("overlap") != "highest":
        raise ValueError(f"unknown overlap rule {truth.get('overlap')!r}")
    attributes = {entry["name"]: entry for entry in truth["attributes"]}
    planted = []
    for index, rule in enumerate(truth["planted"]):
        items = dict(parse_items(rule["items"]))
        for name, value in items.items():
            entry = attributes.get(name)
            if entry is None or entry["role"] != "causal" or value not in entry["values"]:
                raise ValueError(f"planted rule {index}: {name}={value} is no causal item")
        planted.append((items, rule["rate"]))
    buckets = {}
    for name in sorted({name for items, _ in planted for name in items}):
        entry = attributes[name]
        named = {items[name] for items, _ in planted if name in items}
        chances = dict(zip(entry["values"], entry["probabilities"]))
        buckets[name] = [(value, chances[value]) for value in entry["values"] if value in named]
        rest = sum(chance for value, chance in chances.items() if value not in named)
        if rest > 0:
            buckets[name].append((None, rest))
    return Truth(truth["base_rate"], truth["class"]["name"], attributes, truth["profiles"],
                 planted, buckets)


def load_truth(path):
    with open(path, encoding="utf-8") as handle:
        return read_truth(json.load(handle))


def parse_items(rule):
    """(attribute, value) pairs of a rule written as in the rule table
    ("a=1 & b=2") or given as a list of "attribute=value" texts."""
    texts = rule.split(ITEM_SEPARATOR) if isinstance(rule, str) else list(rule)
    items = []
    for text in texts:
        name, equals, value = text.partition("=")
        if not equals:
            raise ValueError(f"{text!r} is no item attribute=value")
        items.append((name, value))
    return items


def rule_items(truth, rule):
    """The items of `rule` as a dict attribute -> value; ValueError for an
    item the model does not have and for a rule that can never hold."""
    items = {}
    for name, value in parse_items(rule):
        entry = truth.attributes.get(name)
        if entry is None or value not in entry["values"]:
            raise ValueError(f"{name}={value} is no item of the generated data")
        if items.setdefault(name, value) != value:
            raise ValueError(f"the rule {rule!r} has two values of {name}")
    if rule_chance(truth, items) <= 0:
        raise ValueError(f"the rule {rule!r} can never hold under the model")
    return items


def rule_chance(truth, items):
    """The chance that a record has all `items`: causal attributes are
    independent, noise ones independent given the latent profile."""
    chance = 1.0
    noise = []
    for name, value in items.items():
        entry = truth.attributes[name]
        if entry["role"] == "causal":
            chance *= entry["probabilities"][entry["values"].index(value)]
        else:
            noise.append((entry, entry["values"].index(value)))
    in_profiles = 0.0
    for profile, profile_chance in enumerate(truth.profiles):
        product = profile_chance
        for entry, v in noise:
            preferred = 1.0 if entry["values"].index(entry["preferred"][profile]) == v else 0.0
            adherence = entry["adherence"]
            product *= adherence * preferred + (1 - adherence) * entry["background"][v]
        in_profiles += product
    return chance * in_profiles


def rate_at(truth, values):
    """The class rate of records with `values` (attribute -> value, or None
    for a value no planted rule names)."""
    holding = [rate for items, rate in truth.planted
               if all(values.get(name) == value for name, value in items.items())]
    return max(holding) if holding else truth.base_rate


def rate_given(truth, fixed):
    """The class rate where the causal items `fixed` (a frozenset of
    (attribute, value) of attributes that planted rules name) hold."""
    if fixed in truth.rates:
        return truth.rates[fixed]
    values = dict(fixed)
    free = [name for name in truth.buckets if name not in values]
    mass = in_class = 0.0
    for combination in itertools.product(*(truth.buckets[name] for name in free)):
        chance = 1.0
        for name, (value, value_chance) in zip(free, combination):
            values[name] = value
            chance *= value_chance
        mass += chance
        in_class += chance * rate_at(truth, values)
    # Dividing by the summed chances keeps rounding from pushing the rate off.
    truth.rates[fixed] = in_class / mass
    return truth.rates[fixed]


def items_rate(truth, items):
    return rate_given(truth, frozenset((name, value) for name, value in items.items()
                                       if name in truth.buckets))


def class_rate(truth, rule=()):
    """The true class rate where `rule` holds; the overall rate for no items."""
    return items_rate(truth, rule_items(truth, rule))


def judge_rule(truth, rule):
    """What a kept rule is under the model (see the module's text)."""
    items = rule_items(truth, rule)
    rate = items_rate(truth, items)
    false_discovery = abs(rate - items_rate(truth, {})) <= TOLERANCE
    redundant = not false_discovery and any(
        abs(rate - items_rate(truth, {n: v for n, v in items.items() if n != name})) <= TOLERANCE
        for name in items)
    planted = next((index for index, (planted_items, _) in enumerate(truth.planted)
                    if planted_items == items), None)
    kind = ("false" if false_discovery else "planted" if planted is not None
            else "redundant" if redundant else "associated")
    return Judgement(rate, false_discovery, redundant, planted, kind)


def judge_rules(truth, rules):
    """The kept rules of one procedure on one data set, judged and counted:
    discoveries, then the rules of each kind, the planted rules recovered
    (their indices) and the power, the share of planted rules recovered (None
    without planted rules)."""
    judgements = [judge_rule(truth, rule) for rule in rules]
    recovered = sorted({j.planted for j in judgements if j.planted is not None})
    counts = {"discoveries": len(judgements)}
    for kind in KINDS:
        counts[kind] = sum(j.kind == kind for j in judgements)
    counts["recovered"] = recovered
    counts["power"] = len(recovered) / len(truth.planted) if truth.planted else None
    return counts
