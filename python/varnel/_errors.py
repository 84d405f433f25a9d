"""The package's exception and warning, and the one place where the lines
the library reported become them."""
import warnings

_ERROR = "Error: "
_WARNING = "Warning: "


class Error(Exception):
    """A failure, with the one-line message the command would print.

    ``str(error)`` is the message; ``error.line`` the whole line as the
    command prints it ("Error: ..."), and ``error.lines`` every error line
    of the call, the first of which is the cause."""

    def __init__(self, line, lines=None):
        self.line = line if line.startswith(_ERROR) else _ERROR + line
        self.lines = list(lines) if lines else [self.line]
        super().__init__(self.line[len(_ERROR):])


class VarnelWarning(UserWarning):
    """What the command would print as a "Warning: " line."""


def warn_lines(lines, stacklevel):
    """Each "Warning: " line as a VarnelWarning, said where the user's call
    is (`stacklevel` frames above the caller)."""
    for line in lines:
        text = line[len(_WARNING):] if line.startswith(_WARNING) else line
        warnings.warn(text, VarnelWarning, stacklevel=stacklevel + 1)


def checked(outcome, stacklevel=2):
    """The result of an entry of the extension module, after warning with its
    warning lines; Error with its first error line when it reported any."""
    result, errors, warning_lines = outcome
    warn_lines(warning_lines, stacklevel + 1)
    if errors:
        raise Error(errors[0], errors)
    return result
