// Description -> build-time bytes in this program's resource section -> LoadTypeLib -> every
// attribute a client can read, compared with the description itself.
#include <gtest/gtest.h>

#include <variant>

#include "platform/com/auto_string.h"
#include "platform/com/typelib/typelib_description.h"
#include "platform/com/typelib/version_info.h"
#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

using namespace orvan::typelib;

std::string take(BSTR b) {
  std::string s = b ? orvan::com::utf16_to_utf8({b, SysStringLen(b)}) : std::string();
  SysFreeString(b);
  return s;
}

GUID raw(const Guid& g) {
  GUID out{g.data1, g.data2, g.data3, {}};
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[static_cast<std::size_t>(i)];
  return out;
}

std::string type_name(ITypeInfo* info) {
  BSTR name = nullptr;
  EXPECT_EQ(info->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  return take(name);
}

// Compares a TYPEDESC with a described type, following pointers and user types.
void expect_type(ITypeInfo* owner, const TYPEDESC& td, const TypeSpec& spec,
                 const std::string& where) {
  ASSERT_EQ(td.vt, spec.vt) << where;
  if (spec.vt == VT_PTR || spec.vt == VT_SAFEARRAY) {
    expect_type(owner, *td.lptdesc, spec.inner[0], where + (spec.vt == VT_PTR ? "*" : "[]"));
  } else if (spec.vt == VT_USERDEFINED) {
    ITypeInfo* target = nullptr;
    ASSERT_EQ(owner->GetRefTypeInfo(td.hreftype, &target), S_OK) << where;
    EXPECT_EQ(type_name(target), spec.user_type) << where;
    target->Release();
  }
}

void expect_value(const VARIANT& v, const Value& expected, const std::string& where) {
  ASSERT_EQ(v.vt, expected.vt) << where;
  switch (v.vt) {
    case VT_I4:
      EXPECT_EQ(v.lVal, expected.integer) << where;
      break;
    case VT_BSTR:
      EXPECT_EQ(orvan::com::utf16_to_utf8(v.bstrVal), expected.text) << where;
      break;
    default:
      FAIL() << where << ": unexpected default type";
  }
}

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle_ = describe_resources();
    lib_ = load_test_library();
    ASSERT_NE(lib_, nullptr);
  }
  void TearDown() override {
    if (lib_) lib_->Release();
  }
  const LibraryDescription& described() const { return bundle_.type_libraries[0]; }

  ResourceBundle bundle_;
  ITypeLib* lib_ = nullptr;
};

TEST_F(RoundTripTest, LibraryAttributesAndDocumentation) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, raw(described().libid));
  EXPECT_EQ(attr->guid, kLibid);
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->syskind, SYS_WIN32);
  EXPECT_EQ(attr->wMajorVerNum, 17);
  EXPECT_EQ(attr->wMinorVerNum, 2);
  EXPECT_EQ(attr->wLibFlags, 0);
  lib_->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr, file = nullptr;
  DWORD context = 99;
  ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, &context, &file), S_OK);
  EXPECT_EQ(take(name), "TypeLibTest");
  EXPECT_EQ(take(doc), "Type library of the dispatch tests");
  EXPECT_EQ(context, 0u);
  EXPECT_EQ(file, nullptr);
  const auto past_the_last = static_cast<INT>(described().types.size());
  EXPECT_EQ(lib_->GetDocumentation(past_the_last, &name, nullptr, nullptr, nullptr),
            TYPE_E_ELEMENTNOTFOUND);

  ASSERT_EQ(lib_->GetTypeInfoCount(), described().types.size());
  const TYPEKIND kinds[] = {TKIND_INTERFACE, TKIND_COCLASS, TKIND_ENUM};
  const GUID guids[] = {kIid, kClsid, kPhaseGuid};
  for (UINT i = 0; i < 3; ++i) {
    TYPEKIND kind;
    ASSERT_EQ(lib_->GetTypeInfoType(i, &kind), S_OK);
    EXPECT_EQ(kind, kinds[i]);
    ITypeInfo* by_index = nullptr;
    ITypeInfo* by_guid = nullptr;
    ASSERT_EQ(lib_->GetTypeInfo(i, &by_index), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(guids[i], &by_guid), S_OK);
    EXPECT_EQ(by_index, by_guid);
    ITypeLib* container = nullptr;
    UINT index = 99;
    ASSERT_EQ(by_index->GetContainingTypeLib(&container, &index), S_OK);
    EXPECT_EQ(container, lib_);
    EXPECT_EQ(index, i);
    container->Release();
    by_index->Release();
    by_guid->Release();
  }
  ITypeInfo* none = nullptr;
  EXPECT_EQ(lib_->GetTypeInfo(static_cast<UINT>(described().types.size()), &none),
            TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(lib_->GetTypeInfoOfGuid(IID_IDispatch, &none), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(RoundTripTest, EveryFunctionAndParameterReadsAsDescribed) {
  const auto& itf = std::get<InterfaceDescription>(described().types[0]);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib_->GetTypeInfo(0, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kIid);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  // As described, plus the flag the writer adds to every interface on IDispatch.
  EXPECT_EQ(attr->wTypeFlags, itf.flags | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->cFuncs, itf.functions.size());
  EXPECT_EQ(attr->cVars, 0);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->cbSizeVft, 22 * 8);  // entries 0 to 21
  EXPECT_EQ(attr->lcid, 0x0409u);
  info->ReleaseTypeAttr(attr);

  for (UINT i = 0; i < itf.functions.size(); ++i) {
    const FunctionDescription& fn = itf.functions[i];
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &fd), S_OK);
    EXPECT_EQ(fd->memid, fn.dispid) << fn.name;
    EXPECT_EQ(fd->oVft, fn.entry * 8) << fn.name;
    EXPECT_EQ(fd->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(fd->invkind, INVOKE_FUNC);
    EXPECT_EQ(fd->callconv, CC_STDCALL);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(fd->cParams, static_cast<SHORT>(fn.params.size())) << fn.name;
    SHORT optional = 0;
    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(fn.dispid, names, 8, &count), S_OK);
    ASSERT_EQ(count, fn.params.size() + 1);
    EXPECT_EQ(take(names[0]), fn.name);
    for (std::size_t p = 0; p < fn.params.size(); ++p) {
      const ParamDescription& pd = fn.params[p];
      const std::string where = fn.name + "(" + pd.name + ")";
      EXPECT_EQ(take(names[p + 1]), pd.name);
      const ELEMDESC& e = fd->lprgelemdescParam[p];
      expect_type(info, e.tdesc, pd.type, where);
      const USHORT expected_flags =
          static_cast<USHORT>(pd.flags | (pd.default_value ? PARAMFLAG_FHASDEFAULT : 0));
      EXPECT_EQ(e.paramdesc.wParamFlags, expected_flags) << where;
      if (pd.flags & PARAMFLAG_FOPT) ++optional;
      if (pd.default_value) {
        ASSERT_NE(e.paramdesc.pparamdescex, nullptr) << where;
        expect_value(e.paramdesc.pparamdescex->varDefaultValue, *pd.default_value, where);
      }
    }
    EXPECT_EQ(fd->cParamsOpt, optional) << fn.name;
    info->ReleaseFuncDesc(fd);
  }
  FUNCDESC* none = nullptr;
  EXPECT_EQ(info->GetFuncDesc(static_cast<UINT>(itf.functions.size()), &none),
            TYPE_E_ELEMENTNOTFOUND);
  info->Release();
}

TEST_F(RoundTripTest, BaseInterfacesResolveIntoThePlatformLibraries) {
  ITypeInfo* calc = nullptr;
  ASSERT_EQ(lib_->GetTypeInfo(0, &calc), S_OK);
  HREFTYPE ref = 0;
  ASSERT_EQ(calc->GetRefTypeOfImplType(0, &ref), S_OK);
  ITypeInfo* dispatch = nullptr;
  ASSERT_EQ(calc->GetRefTypeInfo(ref, &dispatch), S_OK);
  EXPECT_EQ(type_name(dispatch), "IDispatch");
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IDispatch);
  EXPECT_EQ(attr->cFuncs, 4);
  EXPECT_EQ(attr->cbSizeVft, 7 * 8);
  dispatch->ReleaseTypeAttr(attr);
  ITypeLib* stdole = nullptr;
  ASSERT_EQ(dispatch->GetContainingTypeLib(&stdole, nullptr), S_OK);
  TLIBATTR* lib_attr = nullptr;
  ASSERT_EQ(stdole->GetLibAttr(&lib_attr), S_OK);
  EXPECT_EQ(lib_attr->guid, LIBID_stdole2);
  EXPECT_EQ(lib_attr->wMajorVerNum, 2);
  stdole->ReleaseTLibAttr(lib_attr);
  stdole->Release();
  // IDispatch itself derives from IUnknown in the same library.
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(0, &ref), S_OK);
  ITypeInfo* unknown = nullptr;
  ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &unknown), S_OK);
  EXPECT_EQ(type_name(unknown), "IUnknown");
  unknown->Release();
  dispatch->Release();
  EXPECT_EQ(calc->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(calc->GetRefTypeInfo(0x7FFF, &unknown), TYPE_E_ELEMENTNOTFOUND);
  calc->Release();
}

TEST_F(RoundTripTest, ClassImplementsItsInterfaceAndTheNotificationInterface) {
  ITypeInfo* cls = nullptr;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kClsid, &cls), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 2);
  cls->ReleaseTypeAttr(attr);
  INT flags = -1;
  HREFTYPE ref = 0;
  ASSERT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  ASSERT_EQ(cls->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, 0);
  ASSERT_EQ(cls->GetRefTypeOfImplType(1, &ref), S_OK);
  ITypeInfo* event = nullptr;
  ASSERT_EQ(cls->GetRefTypeInfo(ref, &event), S_OK);
  ASSERT_EQ(event->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_DirectXEvent8);
  EXPECT_EQ(attr->cFuncs, 1);
  event->ReleaseTypeAttr(attr);
  FUNCDESC* fd = nullptr;
  ASSERT_EQ(event->GetFuncDesc(0, &fd), S_OK);
  EXPECT_EQ(fd->oVft, 3 * 8);
  ASSERT_EQ(fd->cParams, 1);
  EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_I4);
  EXPECT_EQ(fd->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
  event->ReleaseFuncDesc(fd);
  BSTR names[2] = {};
  UINT count = 0;
  ASSERT_EQ(event->GetNames(0x60010000, names, 2, &count), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(take(names[0]), "DXCallback");
  EXPECT_EQ(take(names[1]), "eventid");
  ITypeLib* dx = nullptr;
  ASSERT_EQ(event->GetContainingTypeLib(&dx, nullptr), S_OK);
  BSTR dx_name = nullptr;
  ASSERT_EQ(dx->GetDocumentation(-1, &dx_name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(take(dx_name), "DxVBLibA");
  dx->Release();
  event->Release();
  cls->Release();
}

TEST_F(RoundTripTest, EnumConstantsCarryValuesAndHelpStrings) {
  const auto& en = std::get<EnumDescription>(described().types[2]);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kPhaseGuid, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_ENUM);
  ASSERT_EQ(attr->cVars, en.members.size());
  EXPECT_EQ(attr->cFuncs, 0);
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < en.members.size(); ++i) {
    VARDESC* vd = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &vd), S_OK);
    EXPECT_EQ(vd->varkind, VAR_CONST);
    EXPECT_EQ(vd->elemdescVar.tdesc.vt, VT_I4);
    ASSERT_EQ(vd->lpvarValue->vt, VT_I4);
    EXPECT_EQ(vd->lpvarValue->lVal, en.members[i].value) << en.members[i].name;
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(info->GetDocumentation(vd->memid, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(take(name), en.members[i].name);
    EXPECT_EQ(take(help), en.members[i].help);
    info->ReleaseVarDesc(vd);
  }
  VARDESC* none = nullptr;
  EXPECT_EQ(info->GetVarDesc(4, &none), TYPE_E_ELEMENTNOTFOUND);
  // Constants have names for late binding, too.
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"phase_max")};
  MEMBERID id = 0;
  ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, 0x40000002);
  info->Release();
}

TEST_F(RoundTripTest, NamesAreFoundAcrossTheLibrary) {
  char16_t name[] = u"SETPHASE";
  BOOL found = 0;
  ASSERT_EQ(lib_->IsName(name, 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(std::u16string(name), u"SetPhase");  // the stored spelling comes back
  char16_t missing[] = u"NoSuchThing";
  ASSERT_EQ(lib_->IsName(missing, 0, &found), S_OK);
  EXPECT_FALSE(found);

  char16_t member[] = u"phase";  // a parameter of SetPhase
  ITypeInfo* infos[4] = {};
  MEMBERID ids[4] = {};
  USHORT count = 4;
  ASSERT_EQ(lib_->FindName(member, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], kSetPhase);
  infos[0]->Release();
  char16_t type[] = u"test_phase";
  count = 4;
  ASSERT_EQ(lib_->FindName(type, 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], -1);
  EXPECT_EQ(type_name(infos[0]), "TEST_PHASE");
  infos[0]->Release();
}

TEST_F(RoundTripTest, VersionInformationReadsAsDescribed) {
  VersionInfo info;
  ASSERT_EQ(read_version_info(std::string("/proc/self/exe"), info), S_OK);
  const VersionDescription& v = *bundle_.version;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(info.file_version[i], v.file_version[i]);
    EXPECT_EQ(info.product_version[i], v.product_version[i]);
  }
  EXPECT_EQ(info.file_os, v.file_os);
  EXPECT_EQ(info.file_type, v.file_type);
  EXPECT_EQ(info.language, 0x0409);
  EXPECT_EQ(info.code_page, 1200);
  EXPECT_EQ(info.strings, v.strings);
  // The runtime's own resources hold type libraries but no version information.
  EXPECT_EQ(read_version_info(std::string(ORVAN_COMRT_PATH), info), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
}  // namespace typelib_test
