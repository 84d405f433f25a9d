"""The bundled example study's config (config/config.yaml) as the workflow
tests start from it."""
import os

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def example_config(absolute_paths=False):
    """The example config; with absolute_paths its data sets' files named from
    the repository's top folder, so a study in another folder finds them."""
    with open(os.path.join(ROOT, "config", "config.yaml")) as handle:
        config = yaml.safe_load(handle)
    if absolute_paths:
        for dataset in config["datasets"].values():
            for key in ("file", "prepared"):
                if key in dataset:
                    dataset[key] = os.path.join(ROOT, dataset[key])
    return config
