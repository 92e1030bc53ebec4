/* Calls posted to a single-threaded apartment, for events and any other work that must run
 * on a client's own thread.
 *
 * Every thread that called CoInitialize (a single-threaded apartment) has a queue. Any thread
 * may post a call to it; the call runs only when the apartment's thread pumps, never
 * anywhere else. The apartment's descriptor is readable exactly while its queue holds a
 * call, so an event loop can watch it and pump when it turns readable:
 *
 *   poll/epoll:  POLLIN on the descriptor, then OrvanPumpApartment(0, NULL)
 *   Qt:          QSocketNotifier(fd, QSocketNotifier::Read) -> OrvanPumpApartment(0, NULL)
 *   GLib:        g_unix_fd_add(fd, G_IO_IN, ...)
 *   asyncio:     loop.add_reader(fd, orvan.pump, 0)
 *
 * Never read from the descriptor or close it: the pump keeps its state, and the apartment
 * closes it when it ends. An apartment ends with its thread's last CoUninitialize (or when
 * the thread exits): the calls it never ran are dropped, each with its release function
 * called on that thread, and the descriptor is closed. The multithreaded apartment has no
 * queue: no single thread of it could be asked to pump. */
#ifndef ORVAN_APARTMENT_CALLS_H
#define ORVAN_APARTMENT_CALLS_H

#include "orvan/types.h"

/* Identifies one apartment for as long as it exists; never reused within the process. */
typedef uint64_t ORVAN_APARTMENT;
/* A posted call's two halves: see OrvanPostToApartment. */
typedef void (*ORVAN_APARTMENT_FUNCTION)(void* context);

/* "Wait without limit" for OrvanPumpApartment. */
#define ORVAN_INFINITE 0xFFFFFFFFu

#ifdef __cplusplus
extern "C" {
#endif

/* The calling thread's apartment. CO_E_NOTINITIALIZED outside any apartment; the
 * multithreaded apartment answers too, but nothing can be posted to it. */
HRESULT OrvanGetCurrentApartment(ORVAN_APARTMENT* apartment);

/* Queues `run(context)` to run on `apartment`'s thread inside its pump; afterwards, or when
 * the apartment ends before running it, `release(context)` (if not NULL) is called once on
 * that thread to free what the call held. On failure nothing is queued and neither function
 * is called: E_POINTER without `run`; RPC_E_DISCONNECTED when the apartment has ended or is
 * not a single-threaded one; E_OUTOFMEMORY. Any thread may post, but posting allocates and
 * takes a short lock: never post from a real-time audio thread. */
HRESULT OrvanPostToApartment(ORVAN_APARTMENT apartment, ORVAN_APARTMENT_FUNCTION run,
                             ORVAN_APARTMENT_FUNCTION release, void* context);

/* The calling thread's apartment descriptor (an eventfd), readable exactly while its queue
 * holds a call. CO_E_NOTINITIALIZED outside any apartment, RPC_E_WRONG_THREAD in the
 * multithreaded one. */
HRESULT OrvanGetApartmentDescriptor(int* descriptor);

/* Runs the calling thread's queued calls, oldest first. Waits up to `timeout_ms`
 * milliseconds (0: not at all; ORVAN_INFINITE: until a call comes) for the first, then runs
 * the calls queued at that moment; calls they post wait for the next pump. `ran` (may be
 * NULL) receives how many ran. S_OK when at least one ran, S_FALSE when none did;
 * CO_E_NOTINITIALIZED outside any apartment, RPC_E_WRONG_THREAD in the multithreaded one. A
 * call may pump again from inside; the order stays the same. */
HRESULT OrvanPumpApartment(DWORD timeout_ms, ULONG* ran);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ORVAN_APARTMENT_CALLS_H */
