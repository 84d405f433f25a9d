"""The programs a holdout experiment runs: varnel, which starts the miner
Brimel beside itself."""
import os

_BIN_DIR = "VARNEL_BIN_DIR"


def bin_dir():
    """VARNEL_BIN_DIR when it is set (a build's bin folder, say), else the
    package's own bin folder, where the install put them."""
    return os.environ.get(_BIN_DIR) or os.path.join(os.path.dirname(__file__), "bin")


def program(name):
    """The path of the program `name`; Error when it is not there."""
    from ._errors import Error

    path = os.path.join(bin_dir(), name)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        raise Error(
            f"cannot find the program {name} in {bin_dir()}: install the package with "
            f"'make python', or set {_BIN_DIR} to the folder of a build's programs"
        )
    return path
