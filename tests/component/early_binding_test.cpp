// A client that binds early: creates the class by its identity and calls function-table
// entries directly, as the demonstration programs do. Also the object's identity rules and
// how the published argument forms reach the engine.
#include <string>

#include "platform/com/auto_string.h"
#include "platform/com/status.h"
#include "tests/component/component_fixture.h"

namespace orvan::component_test {
namespace {

using EarlyBinding = ComponentTest;

// The raw function table of an interface pointer, as a C client sees it.
void** table_of(void* object) {
  return *static_cast<void***>(object);
}

TEST_F(EarlyBinding, Entry10InitialisesAndEntry54SetsTheVolumeThatReadsBack) {
  ComPtr<_OrvanMusic> music = create();
  ASSERT_TRUE(music);
  void* self = music.get();
  void** table = table_of(self);

  using InitFn = HRESULT (*)(void*, LONG*, LONG*);
  using SetVolumeFn = HRESULT (*)(void*, LONG*);
  using ReservedFn = HRESULT (*)(void*);
  LONG hwnd = 0;
  LONG rate = 22050;
  ASSERT_EQ(reinterpret_cast<InitFn>(table[10])(self, &hwnd, &rate), S_OK);
  // The output opened at the rate passed: the call reached InitOrvanAudio with its arguments.
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 22050);
  EXPECT_EQ(rate, 22050);  // only read

  LONG volume = -1234;
  ASSERT_EQ(reinterpret_cast<SetVolumeFn>(table[54])(self, &volume), S_OK);
  LONG read_back = 0;
  ASSERT_EQ(music->GetMasterVolume(&read_back), S_OK);
  EXPECT_EQ(read_back, -1234);

  // The three reserved places exist and answer without doing anything.
  for (int entry = 7; entry <= 9; ++entry)
    EXPECT_EQ(reinterpret_cast<ReservedFn>(table[entry])(self), E_NOTIMPL) << entry;
  EXPECT_EQ(music->CleanupAudio(), S_OK);
}

TEST_F(EarlyBinding, QueryInterfaceAnswersItsFourInterfacesWithOneIdentity) {
  ComPtr<_OrvanMusic> music = create();
  ASSERT_TRUE(music);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(music->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);

  ComPtr<IDispatch> dispatch;
  ComPtr<_OrvanMusic> again;
  ComPtr<DirectXEvent8> event;
  ASSERT_EQ(music->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
  ASSERT_EQ(music->QueryInterface(IID__OrvanMusic, again.out_void()), S_OK);
  ASSERT_EQ(music->QueryInterface(IID_DirectXEvent8, event.out_void()), S_OK);
  EXPECT_EQ(again.get(), music.get());
  // Every interface leads back to the same IUnknown.
  for (IUnknown* from :
       {static_cast<IUnknown*>(dispatch.get()), static_cast<IUnknown*>(event.get())}) {
    ComPtr<IUnknown> back;
    ASSERT_EQ(from->QueryInterface(IID_IUnknown, back.out_void()), S_OK);
    EXPECT_EQ(back.get(), identity.get());
  }

  void* none = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(music->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(music->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  // AddRef and Release count on the one object; the farewell box comes with the last.
  EXPECT_EQ(boxes_->count(kFarewell), 0);
  identity.reset();
  dispatch.reset();
  again.reset();
  event.reset();
  EXPECT_EQ(boxes_->count(kFarewell), 0);
  music.reset();
  EXPECT_EQ(boxes_->count(kFarewell), 1);
}

TEST_F(EarlyBinding, PointerArgumentsNullsOptionalsAndStringsWithNuls) {
  ComPtr<_OrvanMusic> music = create();
  ASSERT_TRUE(music);
  // A required input or a result pointer that is null is refused before the engine runs.
  LONG value = 0;
  VARIANT_BOOL flag = 0;
  EXPECT_EQ(music->InitOrvanAudio(nullptr, &value), E_POINTER);
  EXPECT_EQ(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music->GetMasterVolume(nullptr), E_POINTER);
  EXPECT_EQ(music->SetMasterVolume(nullptr), E_POINTER);
  EXPECT_EQ(music->Music_Load(nullptr), E_POINTER);
  EXPECT_EQ(music->IsPlaying(nullptr), E_POINTER);
  EXPECT_EQ(music->SetFX_Dist_Gain(-10.0f, nullptr), E_POINTER);
  EXPECT_EQ(music->Change_MaxDLS(nullptr), E_POINTER);
  EXPECT_EQ(music->LoadDLS(nullptr, &value), E_POINTER);

  // An omitted sample rate is the engine's 48000 Hz.
  LONG hwnd = 0;
  ASSERT_EQ(music->InitOrvanAudio(&hwnd, nullptr), S_OK);
  ASSERT_NE(music::output::last_manual_device(), nullptr);
  EXPECT_EQ(music::output::last_manual_device()->sample_rate(), 48000);

  // The name with a NUL inside reaches the engine whole, which refuses it rather than open
  // the file named before the NUL.
  std::u16string with_nul = com::utf8_to_utf16(organ_.string());
  with_nul += u'\0';
  with_nul += u"x";
  Bstr bad(with_nul);
  EXPECT_EQ(music->Music_Load(bad.ptr()), S_OK);
  EXPECT_EQ(boxes_->count(kLoadFailed), 1);
  LONG length = 0;
  EXPECT_NE(music->GetLengh(&length), S_OK);
  Bstr good(organ_.string());
  ASSERT_EQ(music->Music_Load(good.ptr()), S_OK);
  EXPECT_EQ(boxes_->count(kLoadFailed), 1);
  ASSERT_EQ(music->GetLengh(&length), S_OK);
  EXPECT_EQ(length, 8 * 768);

  // An omitted repeat count plays once; a given one is passed on.
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  LONG repeats = -1;
  ASSERT_EQ(music->GetRepeats(&repeats), S_OK);
  EXPECT_EQ(repeats, 0);
  LONG loops = 3;
  ASSERT_EQ(music->Music_Play(&loops), S_OK);
  ASSERT_EQ(music->GetRepeats(&repeats), S_OK);
  EXPECT_EQ(repeats, 3);
  ASSERT_EQ(music->IsPlaying(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(music->CleanupAudio(), S_OK);
}

TEST_F(EarlyBinding, TheNotificationInterfaceReachesTheEngineCallback) {
  ComPtr<_OrvanMusic> music = create();
  ASSERT_TRUE(music);
  ComPtr<DirectXEvent8> event;
  ASSERT_EQ(music->QueryInterface(IID_DirectXEvent8, event.out_void()), S_OK);
  // Without a performance the engine cannot ask for a message and says so to the caller.
  EXPECT_LT(event->DXCallback(0), 0);
  LONG hwnd = 0;
  ASSERT_EQ(music->InitOrvanAudio(&hwnd, nullptr), S_OK);
  // With one and an empty queue, the engine's own box.
  EXPECT_EQ(event->DXCallback(0), S_OK);
  EXPECT_EQ(boxes_->count("Error processing this Notification"), 1);
  EXPECT_EQ(music->CleanupAudio(), S_OK);
}

// An outer object that counts the references its inner object hands to it.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    ++queries;
    if (riid == IID_IUnknown) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, object) : E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
  IUnknown* inner = nullptr;
  int refs = 1;
  int queries = 0;
};

TEST_F(EarlyBinding, AggregationHandsOutAnInnerUnknownAndDelegatesTheRest) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_OrvanMusic, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.out_void()),
            S_OK);
  Outer outer;
  void* refused = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID__OrvanMusic, &refused), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(boxes_->count(kFarewell), 0);  // nothing was made

  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
            S_OK);
  ASSERT_NE(outer.inner, nullptr);
  _OrvanMusic* music = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID__OrvanMusic, reinterpret_cast<void**>(&music)), S_OK);
  // The interface's references are the outer object's.
  EXPECT_EQ(outer.refs, 2);
  music->AddRef();
  EXPECT_EQ(outer.refs, 3);
  music->Release();
  // Its QueryInterface asks the outer object, which answers IUnknown with itself.
  IUnknown* identity = nullptr;
  ASSERT_EQ(music->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(outer.queries, 1);
  identity->Release();
  // Calls reach the engine: without a performance it names the empty member.
  LONG volume = -700;
  EXPECT_EQ(music->SetMasterVolume(&volume), com::E_OBJECT_NOT_SET);
  music->Release();
  EXPECT_EQ(outer.refs, 1);
  // The inner unknown owns the object's life.
  EXPECT_EQ(boxes_->count(kFarewell), 0);
  outer.inner->Release();
  EXPECT_EQ(boxes_->count(kFarewell), 1);
}

}  // namespace
}  // namespace orvan::component_test
