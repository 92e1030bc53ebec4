// A sink for __OrvanMusic written as a client writes one, recording what each event tells and
// on which thread.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "orvan/tovel.h"
#include "tests/component/component_fixture.h"

namespace orvan::component_test {

struct Heard {
  DISPID id = 0;
  LONG a = 0;  // Looped: passes left; Beat: bar
  LONG b = 0;  // Beat: beat
  std::u16string name;
  double frame = -1.0;
  std::thread::id thread;
};

// A sink written as a client writes one: IDispatch whose Invoke reads the event's arguments
// (last first). `on_event` runs after each is recorded; `status` is what Invoke answers.
class RecordingSink final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___OrvanMusic) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    Heard h;
    h.id = id;
    h.thread = std::this_thread::get_id();
    const VARIANT* args = params->rgvarg;
    if (params->cArgs >= 1 && args[0].vt == VT_R8) h.frame = args[0].dblVal;
    if (params->cArgs >= 2 && args[params->cArgs - 1].vt == VT_I4)
      h.a = args[params->cArgs - 1].lVal;
    if (params->cArgs == 3 && args[1].vt == VT_I4) h.b = args[1].lVal;
    if (params->cArgs == 2 && args[1].vt == VT_BSTR) h.name = args[1].bstrVal;
    heard.push_back(h);
    if (on_event) on_event(h);
    return status;
  }

  std::vector<Heard> of(DISPID id) const {
    std::vector<Heard> out;
    for (const Heard& h : heard)
      if (h.id == id) out.push_back(h);
    return out;
  }

  ULONG refs = 1;
  HRESULT status = S_OK;
  std::vector<Heard> heard;
  std::function<void(const Heard&)> on_event;
};

// The connection point of `music`'s events, found as a client finds it.
inline ComPtr<IConnectionPoint> music_events_point(IUnknown* music) {
  ComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(music->QueryInterface(IID_IConnectionPointContainer, container.out_void()), S_OK);
  ComPtr<IConnectionPoint> point;
  if (container) {
    EXPECT_EQ(container->FindConnectionPoint(DIID___OrvanMusic, point.out()), S_OK);
  }
  return point;
}

}  // namespace orvan::component_test
