"""Late-bound clients of Orvan components, in pure Python.

    import orvan
    music = orvan.Dispatch("OrvanMusicEngine.OrvanMusic")
    music.InitOrvanAudio(0, SampleRate=48000)

Methods, their parameter names and the type library's enumerations are read from the
object's type information when it is created; arguments may be given by position or by
name, as int, float, str or bool. A failed call raises OrvanError with the status value and
its text. The calling thread joins an apartment on first use; `with orvan.Apartment():`
bounds it explicitly.

Calls other threads post to this one (events) run only when it pumps: `orvan.pump(timeout)`
runs them, and `orvan.watch(loop)` lets an asyncio loop do it whenever they arrive.
`orvan.WithEvents(music, handler)` calls the handler's On<Event> methods (OnBeat,
OnMarker, ...) with each event the object fires, in those pumps.
"""

from ._apartment import Apartment
from ._dispatch import BoundMethod, Dispatch, DispatchObject
from ._errors import OrvanError
from ._events import WithEvents
from ._pump import descriptor, pump, unwatch, watch

__all__ = ["Apartment", "BoundMethod", "Dispatch", "DispatchObject", "OrvanError", "WithEvents",
           "descriptor", "pump", "unwatch", "watch"]
__version__ = "1.0.0"
