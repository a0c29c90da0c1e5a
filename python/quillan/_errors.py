"""The exceptions of quillan, each carrying the program's own message."""


class Error(Exception):
    """A run or a read that did not complete."""


class UsageError(Error, ValueError):
    """The request itself is wrong: an unknown action, a value of the wrong kind."""


class OptionError(Error, TypeError):
    """A keyword that is no option of the call."""


class Refused(Error):
    """The design or a parameter was refused."""


class Failed(Error):
    """The action failed: an unreadable file, inconsistent data."""


class Cancelled(Error, KeyboardInterrupt):
    """The run was stopped (Ctrl-C)."""


class DataWarning(UserWarning):
    """What an import warns of: a suspect value, lines left out of a table."""
