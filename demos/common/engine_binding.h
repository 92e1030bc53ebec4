// How the demonstration programs reach the engine: through the component runtime, by the
// class identity of OrvanMusic, and never by linking the engine class.
//
// Every call goes through the `_OrvanMusic` function table. Arguments the interface takes by
// reference are the caller's variables, which the engine could write back into, so the
// windows always hand it fresh temporaries (see the helpers below).
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "orvan/tovel.h"

namespace orvan::demo {

// One counted reference to an engine object: releases it when emptied or destroyed.
class EngineRef {
 public:
  EngineRef() noexcept = default;
  explicit EngineRef(_OrvanMusic* adopted) noexcept : object_(adopted) {}
  EngineRef(EngineRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  EngineRef& operator=(EngineRef&& other) noexcept;
  EngineRef(const EngineRef&) = delete;
  EngineRef& operator=(const EngineRef&) = delete;
  ~EngineRef() { reset(); }

  // Releases the reference; the engine object goes when its last reference does.
  void reset() noexcept;
  _OrvanMusic* get() const noexcept { return object_; }
  _OrvanMusic* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  _OrvanMusic* object_ = nullptr;
};

// Makes one new engine object. The programs use create_orvan_music; tests may pass their
// own maker to a window.
using EngineFactory = std::function<HRESULT(EngineRef& out)>;

// CoCreateInstance of CLSID_OrvanMusic asking for _OrvanMusic, in process.
HRESULT create_orvan_music(EngineRef& out);

// The calling thread's apartment, for the life of the object.
class Apartment {
 public:
  Apartment() : status_(CoInitialize(nullptr)) {}
  ~Apartment() {
    if (SUCCEEDED(status_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT status() const noexcept { return status_; }

 private:
  HRESULT status_;
};

// An automation string made for one call and freed after it, so that nothing the engine
// might do with the argument outlives the call.
class TempBstr {
 public:
  explicit TempBstr(const QString& text);
  ~TempBstr() { SysFreeString(value_); }
  TempBstr(const TempBstr&) = delete;
  TempBstr& operator=(const TempBstr&) = delete;
  BSTR* ref() noexcept { return &value_; }

 private:
  BSTR value_;
};

// The calls the windows make, each with fresh temporaries for the by-reference arguments.
HRESULT init_audio(_OrvanMusic* engine, LONG hwnd, LONG sample_rate);
HRESULT load_music(_OrvanMusic* engine, const QString& path);
HRESULT play_music(_OrvanMusic* engine, LONG repeats);
HRESULT set_position(_OrvanMusic* engine, LONG position);
HRESULT set_master_volume(_OrvanMusic* engine, LONG volume);

// "0x88781010": the eight hex digits of a status, as people look them up.
QString status_hex(HRESULT hr);
// The runtime's text for a status and its value: "The parameter is incorrect. (0x80070057)".
QString status_text(HRESULT hr);

// What a program says when it cannot make its engine object: which class, why, and the
// command that registers the component, with paths as they lie beside `program_dir`.
QString creation_failure_text(HRESULT hr, const QString& program_dir);

}  // namespace orvan::demo
