"""The exceptions the driver raises; catch ``korvane.Error`` for all of them."""


class Error(Exception):
    """Anything that went wrong talking to the amplifier."""


class LinkError(Error):
    """The link could not be opened, or was lost; the next call opens it again."""


class NoReply(Error):
    """The amplifier did not answer a question within the timeout."""


class BadReply(NoReply):
    """An answer came, but not one that can be read: cut short or garbled.

    It is a kind of ``NoReply``: no value was read, and none is returned.
    """


class OutOfRange(Error, ValueError):
    """A value outside what the amplifier takes, or between its steps; nothing was sent."""


class Refused(Error):
    """This model does not have the setting (RF switch, linearity); nothing was sent."""


class SettingNotTaken(Error):
    """A setting went out, but the amplifier's Status read back afterwards does not show it.

    ``wanted`` and ``reported`` hold both values in the setting's unit (``reported`` is
    ``None`` when the Status did not carry it).
    """

    def __init__(self, message, wanted=None, reported=None):
        super().__init__(message)
        self.wanted = wanted
        self.reported = reported


class ModelChanged(LinkError):
    """Another model answers than the one that answered when the link was first opened."""
