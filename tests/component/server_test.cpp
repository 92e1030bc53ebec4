// The library as a server: its class object, when it may be unloaded, calls from the wrong
// thread, and objects as independent channels.
#include <dlfcn.h>

#include <cmath>
#include <thread>

#include "tests/component/component_fixture.h"

namespace orvan::component_test {
namespace {

using ServerTest = ComponentTest;

TEST_F(ServerTest, TheClassObjectServesOnlyOrvanMusic) {
  void* library = ::dlopen(kTovelPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  auto* get_class_object =
      reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(library, "DllGetClassObject"));
  ASSERT_NE(get_class_object, nullptr);

  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(get_class_object(IID_IDispatch, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get_class_object(LIBID_OrvanMusicEngine, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object(CLSID_OrvanMusic, IID_IClassFactory, factory.out_void()), S_OK);
  EXPECT_EQ(get_class_object(CLSID_OrvanMusic, IID__OrvanMusic, &object), E_NOINTERFACE);
  // The factory makes new objects, each asked for any of its interfaces.
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.out_void()), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(boxes_->count(kFarewell), 1);  // the refused one was made and let go at once
  dispatch.reset();
  factory.reset();
  ::dlclose(library);
}

TEST_F(ServerTest, StaysLoadedWhileAnObjectOrALockIsOutAndUnloadsAfter) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_OrvanMusic, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.out_void()),
            S_OK);
  ASSERT_TRUE(tovel_loaded());
  void* library = ::dlopen(kTovelPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto* can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(library, "DllCanUnloadNow"));
  ASSERT_NE(can_unload, nullptr);

  EXPECT_EQ(can_unload(), S_OK);
  ComPtr<_OrvanMusic> music;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__OrvanMusic, music.out_void()), S_OK);
  EXPECT_EQ(can_unload(), S_FALSE);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  music.reset();
  EXPECT_EQ(can_unload(), S_FALSE);  // the lock alone keeps it
  ASSERT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(can_unload(), S_OK);
  EXPECT_EQ(factory->LockServer(0), E_UNEXPECTED);  // no lock left to take back
  EXPECT_EQ(can_unload(), S_OK);
  factory.reset();
  ::dlclose(library);

  // With nothing outstanding the runtime lets the library go, and loads it again on demand.
  CoFreeUnusedLibraries();
  EXPECT_FALSE(tovel_loaded());
  music = create();
  ASSERT_TRUE(music);
  EXPECT_TRUE(tovel_loaded());
  LONG volume = -100;
  EXPECT_EQ(music->SetMasterVolume(&volume), com::E_OBJECT_NOT_SET);  // reached the engine
  CoFreeUnusedLibraries();
  EXPECT_TRUE(tovel_loaded());  // the object still needs it
  music.reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(tovel_loaded());
}

TEST_F(ServerTest, CallsFromAnotherThreadAreRefusedAndTouchNothing) {
  ComPtr<_OrvanMusic> music = create();
  ASSERT_TRUE(music);
  init_and_load(music.get());
  LONG volume = -400;
  ASSERT_EQ(music->SetMasterVolume(&volume), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(music->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);

  struct Seen {
    HRESULT set_volume, get_volume, play, load, init, cleanup, dispatch_count, dispatch_names,
        dispatch_invoke, dispatch_info;
    LONG volume_out = 12345;
    ULONG refs_after_addref = 0;
  } seen{};
  std::thread other([&] {
    CoInitialize(nullptr);
    LONG louder = 0;
    LONG loops = 2;
    LONG hwnd = 0;
    seen.set_volume = music->SetMasterVolume(&louder);
    seen.get_volume = music->GetMasterVolume(&seen.volume_out);
    seen.play = music->Music_Play(&loops);
    Bstr file(std::string("/nonexistent.mid"));
    seen.load = music->Music_Load(file.ptr());
    seen.init = music->InitOrvanAudio(&hwnd, nullptr);
    seen.cleanup = music->CleanupAudio();
    UINT count = 0;
    seen.dispatch_count = dispatch->GetTypeInfoCount(&count);
    std::u16string name = u"CleanupAudio";
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    seen.dispatch_names = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    seen.dispatch_invoke = dispatch->Invoke(0x60030004, IID_NULL, 0, DISPATCH_METHOD, &none,
                                            nullptr, nullptr, nullptr);
    ITypeInfo* info = nullptr;
    seen.dispatch_info = dispatch->GetTypeInfo(0, 0, &info);
    // Reference counting is free-threaded.
    seen.refs_after_addref = music->AddRef();
    music->Release();
    CoUninitialize();
  });
  other.join();

  for (HRESULT hr :
       {seen.set_volume, seen.get_volume, seen.play, seen.load, seen.init, seen.cleanup,
        seen.dispatch_count, seen.dispatch_names, seen.dispatch_invoke, seen.dispatch_info})
    EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
  EXPECT_EQ(seen.volume_out, 12345);
  EXPECT_GE(seen.refs_after_addref, 2u);

  // The channel is as the creating thread left it: same volume, music loaded, not playing,
  // no box shown, performance still up.
  LONG read_back = 0;
  ASSERT_EQ(music->GetMasterVolume(&read_back), S_OK);
  EXPECT_EQ(read_back, -400);
  VARIANT_BOOL playing = VARIANT_TRUE;
  ASSERT_EQ(music->IsPlaying(&playing), S_OK);
  EXPECT_EQ(playing, VARIANT_FALSE);
  EXPECT_EQ(boxes_->count(kLoadFailed), 0);
  EXPECT_EQ(music::output::manual_device_count(), 1);
  EXPECT_EQ(music->CleanupAudio(), S_OK);
}

TEST_F(ServerTest, TwoObjectsAreIndependentChannels) {
  ComPtr<_OrvanMusic> first = create();
  ComPtr<_OrvanMusic> second = create();
  ASSERT_TRUE(first && second);
  init_and_load(first.get());
  init_and_load(second.get());
  ASSERT_EQ(music::output::manual_device_count(), 2);

  LONG quiet = -2000;  // -20 dB on the second channel only
  ASSERT_EQ(second->SetMasterVolume(&quiet), S_OK);
  LONG v1 = 1, v2 = 1;
  ASSERT_EQ(first->GetMasterVolume(&v1), S_OK);
  ASSERT_EQ(second->GetMasterVolume(&v2), S_OK);
  EXPECT_EQ(v1, 0);
  EXPECT_EQ(v2, -2000);

  LONG once = 0;
  ASSERT_EQ(first->Music_Play(&once), S_OK);
  ASSERT_EQ(second->Music_Play(&once), S_OK);
  pump_rms(0, 0.5);  // past the attack and the volume ramp
  pump_rms(1, 0.5);
  const double loud = pump_rms(0, 1.0);
  const double soft = pump_rms(1, 1.0);
  ASSERT_GT(loud, 1e-3);
  EXPECT_NEAR(20.0 * std::log10(soft / loud), -20.0, 1.0);

  // Stopping one leaves the other playing.
  ASSERT_EQ(first->Music_Stop(), S_OK);
  pump_rms(0, 0.1);
  pump_rms(1, 0.1);
  VARIANT_BOOL p1 = VARIANT_TRUE, p2 = VARIANT_FALSE;
  ASSERT_EQ(first->IsPlaying(&p1), S_OK);
  ASSERT_EQ(second->IsPlaying(&p2), S_OK);
  EXPECT_EQ(p1, VARIANT_FALSE);
  EXPECT_EQ(p2, VARIANT_TRUE);
  EXPECT_EQ(first->CleanupAudio(), S_OK);
  EXPECT_EQ(second->CleanupAudio(), S_OK);
}

}  // namespace
}  // namespace orvan::component_test
