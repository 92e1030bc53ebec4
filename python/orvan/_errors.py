"""The exception for a failed call: the status value and its text."""


class OrvanError(Exception):
    """A call into the component runtime or a component failed.

    status    the status value as an unsigned 32-bit number (0x80070057)
    text      the status's text ("The parameter is incorrect.")
    where     the method or runtime function that failed
    source    the component's name for the failing member, when it gave one
    argument  the parameter the failure concerns, when the runtime named one
    """

    def __init__(self, status, text=None, where="", source="", argument=None):
        self.status = status & 0xFFFFFFFF
        if text is None:
            from ._native import status_text
            text = status_text(status) or "Error 0x%08X." % self.status
        self.text, self.where, self.source, self.argument = text, where, source, argument
        super().__init__(self.status, text)

    def __str__(self):
        about = "%s: " % self.where if self.where else ""
        if self.argument is not None:
            about += "argument %r: " % self.argument
        return "%s%s (0x%08X)" % (about, self.text, self.status)
