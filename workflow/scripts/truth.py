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

A planted rule is an effect of its own when it sets the class rate of some
records at a rate other than the base rate. Where several hold, the one of
the highest rate sets it (of several at that rate, the one with the fewest
items, then the first); a rule that never does (wherever it holds another
sets the rate: "shadowed"; it never holds: "never_holds") or whose rate is
the base rate ("base_rate") can be no discovery of its own. The generator
marks the same in the truth file.

A kept rule claims a class rate above the overall rate (or below it; the
rules Brimel reports all claim above). It is then
- a false discovery when its rate equals the overall class rate (its items are
  independent of the class);
- a direction error when its rate lies on the other side of the overall rate
  from the one it claims;
- a planted rule recovered when it has exactly the items of a planted rule
  that is an effect of its own;
- redundant when it is associated with the class but some item can be dropped
  without changing its rate (a planted rule plus a noise item, say);
- otherwise associated: a true association that is neither (a causal item
  that raises the rate through part of a planted rule).
Rates are compared with the absolute tolerance TOLERANCE: the sums' rounding
stays far below it, and rates that truly differ differ far more. Planted
rates are compared with the base rate and with each other exactly, as given,
as the generator does."""
import itertools
import json
from dataclasses import dataclass, field

TOLERANCE = 1e-9
ITEM_SEPARATOR = " & "  # between the items of a rule in the rule table
KINDS = ("false", "direction", "planted", "redundant", "associated")
ABOVE, BELOW, NO_CLAIM = 1, -1, 0  # the side of the overall rate a kept rule claims


@dataclass
class Truth:
    """A truth file read for judging. `attributes` maps a name to its entry
    of the file, `planted` holds (items as a dict attribute -> value, rate),
    `effects` per planted rule None when it is an effect of its own, else
    why not (planted_effects)."""
    base_rate: float
    class_name: str
    attributes: dict
    profiles: list
    planted: list
    # Per attribute a planted rule names: (value or None for the rest, chance).
    buckets: dict
    effects: list = field(default_factory=list)
    rates: dict = field(default_factory=dict)  # memo: fixed causal items -> rate


@dataclass(frozen=True)
class Judgement:
    rate: float            # the true class rate where the rule holds
    false_discovery: bool
    direction_error: bool  # its rate is on the other side of the overall rate from its claim
    redundant: bool
    planted: int | None    # index of the planted effect with exactly its items
    kind: str              # one of KINDS


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
    model = Truth(truth["base_rate"], truth["class"]["name"], attributes, truth["profiles"],
                  planted, buckets)
    model.effects = planted_effects(model)
    return model


def planted_effects(truth):
    """Per planted rule None when it is an effect of its own, else why not:
    "never_holds", "base_rate" or "shadowed" (see the module's text)."""
    holds = [False] * len(truth.planted)
    sets = [False] * len(truth.planted)
    names = list(truth.buckets)
    for combination in itertools.product(*(truth.buckets[name] for name in names)):
        chance = 1.0
        for _, value_chance in combination:
            chance *= value_chance
        if chance <= 0:
            continue
        values = {name: value for name, (value, _) in zip(names, combination)}
        holding = [index for index, (items, _) in enumerate(truth.planted)
                   if all(values[name] == value for name, value in items.items())]
        for index in holding:
            holds[index] = True
        if holding:
            sets[min(holding, key=lambda index: (-truth.planted[index][1],
                                                 len(truth.planted[index][0]), index))] = True
    return ["never_holds" if not holds[index] else "base_rate" if rate == truth.base_rate
            else None if sets[index] else "shadowed"
            for index, (_, rate) in enumerate(truth.planted)]


def effective_planted(truth):
    """The indices of the planted rules that are effects of their own."""
    return [index for index, why in enumerate(truth.effects) if why is None]


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


def judge_rule(truth, rule, claim=ABOVE):
    """What a kept rule is under the model (see the module's text); claim is
    the side of the overall rate it claims its rate lies on (ABOVE, BELOW or
    NO_CLAIM)."""
    items = rule_items(truth, rule)
    rate = items_rate(truth, items)
    overall = items_rate(truth, {})
    false_discovery = abs(rate - overall) <= TOLERANCE
    direction_error = not false_discovery and claim * (rate - overall) < 0
    redundant = not false_discovery and any(
        abs(rate - items_rate(truth, {n: v for n, v in items.items() if n != name})) <= TOLERANCE
        for name in items)
    planted = next((index for index in effective_planted(truth)
                    if truth.planted[index][0] == items), None)
    kind = ("false" if false_discovery else "direction" if direction_error
            else "planted" if planted is not None else "redundant" if redundant
            else "associated")
    return Judgement(rate, false_discovery, direction_error, redundant, planted, kind)


def judge_rules(truth, rules, claims=None):
    """The kept rules of one procedure on one data set, judged and counted:
    discoveries, then the rules of each kind, the planted rules recovered
    (their indices) and the power, the share of the planted effects
    recovered (None without any). claims holds each rule's claim (default:
    every rule claims ABOVE)."""
    claims = [ABOVE] * len(rules) if claims is None else list(claims)
    if len(claims) != len(rules):
        raise ValueError(f"{len(rules)} rules but {len(claims)} claims")
    judgements = [judge_rule(truth, rule, claim) for rule, claim in zip(rules, claims)]
    recovered = sorted({j.planted for j in judgements if j.kind == "planted"})
    counts = {"discoveries": len(judgements)}
    for kind in KINDS:
        counts[kind] = sum(j.kind == kind for j in judgements)
    counts["recovered"] = recovered
    effective = effective_planted(truth)
    counts["power"] = len(recovered) / len(effective) if effective else None
    return counts
