// An interface whose references a test can count; it never frees itself.
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::testing {

struct CountedUnknown final : IUnknown {
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

}  // namespace orvan::testing
