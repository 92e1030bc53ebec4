#include "examples/beat_window/music_event_sink.h"

namespace orvan::examples {
namespace {

// The argument `index` counted from the first, in the order the event declares them.
const VARIANT* argument(const DISPPARAMS* params, UINT index, VARTYPE type) {
  if (index >= params->cArgs) return nullptr;
  const VARIANT* value = &params->rgvarg[params->cArgs - 1 - index];
  return value->vt == type ? value : nullptr;
}

}  // namespace

HRESULT MusicEventSink::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___OrvanMusic) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT MusicEventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT MusicEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
  if (!params || (params->cArgs > 0 && !params->rgvarg)) return E_POINTER;
  // Every event ends with its frame.
  const VARIANT* frame = params->cArgs > 0 ? argument(params, params->cArgs - 1, VT_R8) : nullptr;
  if (!frame) return DISP_E_BADPARAMCOUNT;
  const double at = frame->dblVal;
  const auto call = [&](const auto& handler, auto... values) {
    if (handler) handler(values..., at);
    return S_OK;
  };
  switch (id) {
    case DISPID_OrvanMusicEvent_Started:
      return call(handlers_.started);
    case DISPID_OrvanMusicEvent_Ended:
      return call(handlers_.ended);
    case DISPID_OrvanMusicEvent_Stopped:
      return call(handlers_.stopped);
    case DISPID_OrvanMusicEvent_TransitionDone:
      return call(handlers_.transition_done);
    case DISPID_OrvanMusicEvent_Looped: {
      const VARIANT* passes = argument(params, 0, VT_I4);
      if (params->cArgs != 2 || !passes) return DISP_E_TYPEMISMATCH;
      return call(handlers_.looped, static_cast<long>(passes->lVal));
    }
    case DISPID_OrvanMusicEvent_Beat: {
      const VARIANT* bar = argument(params, 0, VT_I4);
      const VARIANT* beat = argument(params, 1, VT_I4);
      if (params->cArgs != 3 || !bar || !beat) return DISP_E_TYPEMISMATCH;
      return call(handlers_.beat, static_cast<long>(bar->lVal), static_cast<long>(beat->lVal));
    }
    case DISPID_OrvanMusicEvent_Marker: {
      const VARIANT* name = argument(params, 0, VT_BSTR);
      if (params->cArgs != 2 || !name) return DISP_E_TYPEMISMATCH;
      const BSTR text = name->bstrVal;
      return call(handlers_.marker,
                  text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view());
    }
    default:
      // Events a later version adds are not this program's business.
      return S_OK;
  }
}

MusicEventConnection::MusicEventConnection(IUnknown* music, IDispatch* sink) {
  if (!music || !sink) {
    status_ = E_POINTER;
    return;
  }
  IConnectionPointContainer* container = nullptr;
  status_ =
      music->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (FAILED(status_)) return;
  status_ = container->FindConnectionPoint(DIID___OrvanMusic, &point_);
  container->Release();
  if (SUCCEEDED(status_)) status_ = point_->Advise(sink, &cookie_);
  if (FAILED(status_) && point_) {
    point_->Release();
    point_ = nullptr;
  }
}

MusicEventConnection::~MusicEventConnection() {
  if (!point_) return;
  point_->Unadvise(cookie_);
  point_->Release();
}

}  // namespace orvan::examples
