// Late-bound calls against early-bound ones: what a call through IDispatch costs over a call
// through the function table. Goal: Invoke with a known DISPID under 1 microsecond.
//
//   cmake --build build --target bench_dispatch && build/bin/bench_dispatch
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "orvan/component_runtime.h"

namespace {

constexpr IID kIid = {0x0B1C2D31, 0x4E5F, 0x4A6B, {0x8C, 0x7D, 0x9E, 0x0F, 0x1A, 0x2B, 0x3C, 0x4D}};
constexpr DISPID kAdd = 0x60030000;
constexpr DISPID kSetLevel = 0x60030001;
constexpr DISPID kSetGain = 0x60030002;

struct IBench : IDispatch {
  virtual HRESULT Add(LONG a, LONG b, LONG* result) = 0;
  virtual HRESULT SetLevel(LONG* value) = 0;
  virtual HRESULT SetGain(float value, VARIANT_BOOL* applied) = 0;

 protected:
  ~IBench() = default;
};

// A dual object whose IDispatch half is answered from its type library.
class Bench final : public IBench {
 public:
  explicit Bench(ITypeInfo* info) : info_(info) {}
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = this;
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    info_->AddRef();
    *info = info_;
    return S_OK;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override {
    return DispInvoke(static_cast<IBench*>(this), info_, id, flags, params, result, excepinfo,
                      arg_err);
  }
  HRESULT Add(LONG a, LONG b, LONG* result) override {
    *result = a + b;
    return S_OK;
  }
  HRESULT SetLevel(LONG* value) override {
    level_ = *value;
    return S_OK;
  }
  HRESULT SetGain(float value, VARIANT_BOOL* applied) override {
    gain_ = value;
    *applied = VARIANT_TRUE;
    return S_OK;
  }

 private:
  ITypeInfo* info_;
  LONG level_ = 0;
  float gain_ = 0;
};

ITypeInfo* bench_info() {
  static ITypeInfo* info = [] {
    ITypeLib* lib = nullptr;
    ITypeInfo* found = nullptr;
    if (FAILED(LoadTypeLib(u"/proc/self/exe", &lib)) ||
        FAILED(lib->GetTypeInfoOfGuid(kIid, &found))) {
      std::fprintf(stderr, "bench_dispatch: cannot load its own type library\n");
      std::exit(1);
    }
    lib->Release();
    return found;
  }();
  return info;
}

void DirectCall(benchmark::State& state) {
  Bench bench(bench_info());
  IBench* object = &bench;
  benchmark::DoNotOptimize(object);
  LONG result = 0;
  LONG a = 1;
  for (auto _ : state) {
    object->Add(a, 2, &result);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(DirectCall);

void InvokeKnownDispid(benchmark::State& state) {
  Bench bench(bench_info());
  IDispatch* object = &bench;
  VARIANT args[2] = {};
  args[0].vt = VT_I4;  // b: DISPPARAMS holds the last argument first
  args[0].lVal = 2;
  args[1].vt = VT_I4;
  args[1].lVal = 1;
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result{};
  for (auto _ : state) {
    object->Invoke(kAdd, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result);
  }
  if (result.lVal != 3) state.SkipWithError("wrong result");
}
BENCHMARK(InvokeKnownDispid);

// A scripting client's usual call: a double where a float is wanted, a by-value long where
// the method takes a long*.
void InvokeWithCoercion(benchmark::State& state) {
  Bench bench(bench_info());
  IDispatch* object = &bench;
  VARIANT gain{};
  gain.vt = VT_R8;
  gain.dblVal = 0.5;
  DISPPARAMS gain_params{&gain, nullptr, 1, 0};
  VARIANT level{};
  level.vt = VT_I2;
  level.iVal = 7;
  DISPPARAMS level_params{&level, nullptr, 1, 0};
  VARIANT result{};
  for (auto _ : state) {
    object->Invoke(kSetGain, IID_NULL, 0, DISPATCH_METHOD, &gain_params, &result, nullptr, nullptr);
    object->Invoke(kSetLevel, IID_NULL, 0, DISPATCH_METHOD, &level_params, nullptr, nullptr,
                   nullptr);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(InvokeWithCoercion);

void CallByName(benchmark::State& state) {
  Bench bench(bench_info());
  IDispatch* object = &bench;
  VARIANT args[2] = {};
  args[0].vt = VT_I4;
  args[0].lVal = 2;
  args[1].vt = VT_I4;
  args[1].lVal = 1;
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result{};
  OLECHAR name[] = u"add";
  LPOLESTR names[] = {name};
  for (auto _ : state) {
    DISPID id = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(CallByName);

void DispCallFuncAlone(benchmark::State& state) {
  Bench bench(bench_info());
  LONG out = 0;
  VARIANT a{}, b{}, r{};
  a.vt = VT_I4;
  a.lVal = 1;
  b.vt = VT_I4;
  b.lVal = 2;
  r.vt = VT_I4 | VT_BYREF;
  r.plVal = &out;
  VARTYPE types[] = {VT_I4, VT_I4, VT_I4 | VT_BYREF};
  VARIANTARG* args[] = {&a, &b, &r};
  VARIANT status{};
  for (auto _ : state) {
    DispCallFunc(static_cast<IBench*>(&bench), 7 * sizeof(void*), CC_STDCALL, VT_HRESULT, 3, types,
                 args, &status);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(DispCallFuncAlone);

}  // namespace

BENCHMARK_MAIN();
