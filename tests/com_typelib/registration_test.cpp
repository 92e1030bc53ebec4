// RegisterTypeLib / LoadRegTypeLib / UnRegisterTypeLib against a throwaway registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

namespace registry = orvan::com::registry;
using Entries = std::vector<registry::Entry>;

Entries sorted(Entries e) {
  std::sort(e.begin(), e.end(), [](const registry::Entry& a, const registry::Entry& b) {
    return std::tie(a.key, a.name) < std::tie(b.key, b.name);
  });
  return e;
}

class Registration : public orvan::testing::ScratchRegistry {
 protected:
  void SetUp() override {
    ScratchRegistry::SetUp();
    lib_ = load_test_library();
    ASSERT_NE(lib_, nullptr);
    path_ = std::filesystem::canonical("/proc/self/exe").string();
    wide_path_ = orvan::com::utf8_to_utf16(path_);
  }
  void TearDown() override {
    if (lib_) lib_->Release();
    ScratchRegistry::TearDown();
  }
  HRESULT load(WORD major, WORD minor, LCID lcid) {
    ITypeLib* lib = nullptr;
    const HRESULT hr = LoadRegTypeLib(kLibid, major, minor, lcid, &lib);
    if (lib) {
      TLIBATTR* attr = nullptr;
      EXPECT_EQ(lib->GetLibAttr(&attr), S_OK);
      EXPECT_EQ(attr->guid, kLibid);
      lib->ReleaseTLibAttr(attr);
      lib->Release();
    }
    return hr;
  }

  ITypeLib* lib_ = nullptr;
  std::string path_;
  std::u16string wide_path_;
};

TEST_F(Registration, ThePlatformLibrariesAreFoundInAnEmptyRegistry) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_stdole2, 2, 0, 0, &lib), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, &info), S_OK);
  info->Release();
  lib->Release();
  ASSERT_EQ(LoadRegTypeLib(LIBID_DxVBLibA, 1, 0, 0x409, &lib), S_OK);
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_DirectXEvent8, &info), S_OK);
  info->Release();
  lib->Release();
  EXPECT_EQ(LoadRegTypeLib(LIBID_DxVBLibA, 2, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(LIBID_stdole2, 2, 1, 0, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(load(17, 2, 0x409), TYPE_E_LIBNOTREGISTERED);
  EXPECT_TRUE(registry::dump().empty());
}

TEST_F(Registration, RegisterWritesExactlyTheEntriesAndUnregisterRemovesExactlyThem) {
  // Something of another library, which must survive.
  ASSERT_EQ(registry::set_value("Interface\\{11111111-2222-3333-4444-555555555555}\\TypeLib", "",
                                "{99999999-2222-3333-4444-555555555555}"),
            S_OK);
  const Entries before = registry::dump();

  ASSERT_EQ(RegisterTypeLib(lib_, wide_path_.c_str(), nullptr), S_OK);
  const std::string lib_key = "TypeLib\\{5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B}\\11.2";
  const std::string itf_key = "Interface\\{5A7C1D21-3B4E-4F61-9A82-0C1D2E3F4A5B}";
  Entries expected = before;
  expected.push_back({lib_key, "", "TypeLibTest"});
  expected.push_back({lib_key + "\\409\\win32", "", path_});
  expected.push_back({lib_key + "\\FLAGS", "", "0"});
  expected.push_back(
      {lib_key + "\\HELPDIR", "", std::filesystem::path(path_).parent_path().string()});
  expected.push_back({itf_key, "", "_TestCalc"});
  expected.push_back(
      {itf_key + "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}"});
  expected.push_back({itf_key + "\\TypeLib", "", "{5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B}"});
  expected.push_back({itf_key + "\\TypeLib", "Version", "11.2"});
  const std::string args_key = "Interface\\{5A7C1D24-3B4E-4F61-9A82-0C1D2E3F4A5B}";
  expected.push_back({args_key, "", "_TestArguments"});
  expected.push_back(
      {args_key + "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}"});
  expected.push_back({args_key + "\\TypeLib", "", "{5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B}"});
  expected.push_back({args_key + "\\TypeLib", "Version", "11.2"});
  EXPECT_EQ(sorted(registry::dump()), sorted(expected));

  // Found by identity: an older minor is satisfied by 17.2; the locale falls back.
  EXPECT_EQ(load(17, 2, 0x409), S_OK);
  EXPECT_EQ(load(17, 0, 0x409), S_OK);
  EXPECT_EQ(load(17, 2, 0), S_OK);
  EXPECT_EQ(load(17, 3, 0x409), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(load(16, 2, 0x409), TYPE_E_LIBNOTREGISTERED);

  // Registering again changes nothing.
  ASSERT_EQ(RegisterTypeLib(lib_, wide_path_.c_str(), u"/opt/help"), S_OK);
  EXPECT_EQ(registry::read_value(lib_key + "\\HELPDIR", ""), "/opt/help");

  ASSERT_EQ(UnRegisterTypeLib(kLibid, 17, 2, 0x409, SYS_WIN32), S_OK);
  EXPECT_EQ(sorted(registry::dump()), sorted(before));
  EXPECT_EQ(load(17, 2, 0x409), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(UnRegisterTypeLib(kLibid, 17, 2, 0x409, SYS_WIN32), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(Registration, RegistrationJoinsTheCallersTransactionAndRefusesRelativePaths) {
  {
    registry::Transaction outer;
    ASSERT_EQ(outer.status(), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib_, wide_path_.c_str(), nullptr), S_OK);
    EXPECT_EQ(load(17, 2, 0x409), S_OK);  // visible inside the transaction
    // Destroyed without commit: everything goes back.
  }
  EXPECT_TRUE(registry::dump().empty());
  EXPECT_EQ(load(17, 2, 0x409), TYPE_E_LIBNOTREGISTERED);

  // Unregistering a library that is not registered refuses, yet leaves the caller's
  // transaction able to commit what it wrote itself.
  {
    registry::Transaction outer;
    ASSERT_EQ(registry::set_value("CLSID\\{00000000-0000-0000-0000-000000000001}", "", "x"), S_OK);
    EXPECT_EQ(UnRegisterTypeLib(kLibid, 17, 2, 0x409, SYS_WIN32), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(outer.commit(), S_OK);
  }
  EXPECT_EQ(registry::read_value("CLSID\\{00000000-0000-0000-0000-000000000001}", ""), "x");
  ASSERT_EQ(registry::delete_tree("CLSID"), S_OK);

  EXPECT_EQ(RegisterTypeLib(lib_, u"relative/lib.so", nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterTypeLib(lib_, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterTypeLib(nullptr, wide_path_.c_str(), nullptr), E_INVALIDARG);
  EXPECT_TRUE(registry::dump().empty());
}

TEST_F(Registration, ARegisteredPathThatNoLongerHoldsTheLibraryFailsToLoad) {
  ASSERT_EQ(registry::set_value("TypeLib\\{5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B}\\11.2\\409\\win32",
                                "", "/no/such/library.so"),
            S_OK);
  EXPECT_EQ(load(17, 2, 0x409), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
}  // namespace typelib_test
