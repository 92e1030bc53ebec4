// A tiny in-process server for the runtime's tests: one class, Counter, with one interface.
//
// Its registration writes the class keys and, under CLSID\{Counter}\TestSteps, a number of
// extra values (ORVAN_TEST_SERVER_STEPS, default 4) one millisecond apart, so that a test can
// kill a registering process in the middle of its transaction. When
// ORVAN_TEST_SERVER_NOTIFY_FD names a file descriptor, one byte is written to it after the
// first of those values, while the transaction is still open.
#pragma once

#include "orvan/component_runtime.h"

inline constexpr CLSID CLSID_TestCounter = {
    0x6A1F3C52, 0x0D4B, 0x4E8A, {0x9B, 0x21, 0x5C, 0x77, 0x3E, 0x10, 0xA4, 0xD9}};
inline constexpr IID IID_ITestCounter = {
    0x6A1F3C53, 0x0D4B, 0x4E8A, {0x9B, 0x21, 0x5C, 0x77, 0x3E, 0x10, 0xA4, 0xD9}};
inline constexpr GUID LIBID_TestServer = {
    0x6A1F3C54, 0x0D4B, 0x4E8A, {0x9B, 0x21, 0x5C, 0x77, 0x3E, 0x10, 0xA4, 0xD9}};

struct ITestCounter : IUnknown {
  // Adds `amount` to the object's total and returns the new total. RPC_E_WRONG_THREAD from
  // outside the apartment that created the object.
  virtual HRESULT Add(LONG amount, LONG* total) = 0;

 protected:
  ~ITestCounter() = default;
};

// Exported by the server for the tests: the outer unknown its factory last received.
using TestServerLastOuterFn = IUnknown* (*)();
