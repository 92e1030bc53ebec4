#include "demos/common/engine_binding.h"

#include <QDir>

#include "orvan/status.h"

namespace orvan::demo {

EngineRef& EngineRef::operator=(EngineRef&& other) noexcept {
  if (this != &other) {
    reset();
    object_ = other.object_;
    other.object_ = nullptr;
  }
  return *this;
}

void EngineRef::reset() noexcept {
  // Emptied before the release, so that whatever the release runs (the engine shows a box
  // when it goes) never sees a reference to an object on its way out.
  _OrvanMusic* object = object_;
  object_ = nullptr;
  if (object) object->Release();
}

HRESULT create_orvan_music(EngineRef& out) {
  void* object = nullptr;
  const HRESULT hr =
      CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic, &object);
  if (FAILED(hr)) return hr;
  if (!object) return E_POINTER;
  out = EngineRef(static_cast<_OrvanMusic*>(object));
  return S_OK;
}

TempBstr::TempBstr(const QString& text)
    : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                               static_cast<UINT>(text.size()))) {}

HRESULT init_audio(_OrvanMusic* engine, LONG hwnd, LONG sample_rate) {
  LONG hwnd_arg = hwnd;
  LONG rate_arg = sample_rate;
  return engine->InitOrvanAudio(&hwnd_arg, &rate_arg);
}

HRESULT load_music(_OrvanMusic* engine, const QString& path) {
  TempBstr name(path);
  return engine->Music_Load(name.ref());
}

HRESULT play_music(_OrvanMusic* engine, LONG repeats) {
  LONG repeats_arg = repeats;
  return engine->Music_Play(&repeats_arg);
}

HRESULT set_position(_OrvanMusic* engine, LONG position) {
  LONG position_arg = position;
  return engine->SetPosition(&position_arg);
}

HRESULT set_master_volume(_OrvanMusic* engine, LONG volume) {
  LONG volume_arg = volume;
  return engine->SetMasterVolume(&volume_arg);
}

QString status_hex(HRESULT hr) {
  return QStringLiteral("0x") + QString::number(static_cast<quint32>(hr), 16)
                                    .toUpper()
                                    .rightJustified(8, QLatin1Char('0'));
}

QString status_text(HRESULT hr) {
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  const QString sentence = QString::fromUtf8(orvan_status_describe(hr, fallback));
  const char* name = orvan_status_name(hr);
  if (!name) return QStringLiteral("%1 (%2)").arg(sentence, status_hex(hr));
  return QStringLiteral("%1 (%2, %3)").arg(sentence, QString::fromUtf8(name), status_hex(hr));
}

QString creation_failure_text(HRESULT hr, const QString& program_dir) {
  const QString tool = QDir::cleanPath(program_dir + QStringLiteral("/orvan-regsvr"));
  const QString library = QDir::cleanPath(program_dir + QStringLiteral("/../lib/libTovel.so"));
  QString reason;
  if (hr == REGDB_E_CLASSNOTREG) {
    reason = QStringLiteral(
        "The class OrvanMusic {2157ED08-4B0C-427B-8475-85D754B974CA} is not registered.");
  } else {
    reason = QStringLiteral(
                 "The class OrvanMusic {2157ED08-4B0C-427B-8475-85D754B974CA} could not be "
                 "created: %1")
                 .arg(status_text(hr));
  }
  return QStringLiteral("%1\n\nRegister the engine component with:\n%2 %3")
      .arg(reason, tool, library);
}

}  // namespace orvan::demo
