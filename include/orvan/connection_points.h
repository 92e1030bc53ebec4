/* Events through connection points: the records and constants of IConnectionPointContainer,
 * IConnectionPoint, their enumerators and IProvideClassInfo2 (declared in orvan/interfaces.h).
 *
 * An object that fires events answers IConnectionPointContainer; FindConnectionPoint with the
 * identity of a source interface (IProvideClassInfo2::GetGUID(GUIDKIND_DEFAULT_SOURCE_DISPIID)
 * names the default one) gives its connection point. Advise a sink there: an object that
 * answers QueryInterface for that interface (a dispinterface: its IDispatch); the cookie
 * returned is what Unadvise takes. Every event reaches the sink through IDispatch::Invoke on
 * the thread that advised it, and only while that thread pumps its apartment
 * (orvan/apartment_calls.h), in the order the object fired them. After Unadvise returns the
 * sink gets no further call, even of events fired before.
 *
 * Refusals: E_POINTER for a missing sink or out-parameter; CONNECT_E_CANNOTCONNECT when the
 * sink lacks the interface or the advising thread is not in a single-threaded apartment;
 * CONNECT_E_ADVISELIMIT when the point holds as many sinks as it allows;
 * CONNECT_E_NOCONNECTION for a cookie that is not (or no longer) connected. */
#ifndef ORVAN_CONNECTION_POINTS_H
#define ORVAN_CONNECTION_POINTS_H

#include "orvan/types.h"

/* One connection, as an enumerator reports it: the sink (with a reference the receiver
 * releases) and its cookie. */
typedef struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
} CONNECTDATA;

/* IProvideClassInfo2::GetGUID: the identity of the class's default source interface. */
#define GUIDKIND_DEFAULT_SOURCE_DISPIID 1

#endif /* ORVAN_CONNECTION_POINTS_H */
