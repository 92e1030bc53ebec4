// Fuzzes the whole way from a file's bytes to what a client reads: the ELF section table,
// the resource directory, the type-library validation, and then every type, function,
// parameter, constant, name and local reference of a library that passed, plus the
// version information. Seeds: an object file and resource sections written by the build.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/elf_resources.h"
#include "platform/com/typelib/load.h"
#include "platform/com/typelib/resource_format.h"
#include "platform/com/typelib/version_info.h"

namespace {

void walk_type(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return;
  BSTR name = nullptr, doc = nullptr;
  info->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
  SysFreeString(name);
  SysFreeString(doc);
  for (UINT f = 0; f < attr->cFuncs; ++f) {
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(f, &fd))) continue;
    BSTR names[80] = {};
    UINT count = 0;
    info->GetNames(fd->memid, names, 80, &count);
    if (count > 0) {
      // Name lookup back from the names just read.
      MEMBERID ids[80];
      info->GetIDsOfNames(names, count, ids);
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(fd);
  }
  for (UINT v = 0; v < attr->cVars; ++v) {
    VARDESC* vd = nullptr;
    if (FAILED(info->GetVarDesc(v, &vd))) continue;
    BSTR help = nullptr;
    info->GetDocumentation(vd->memid, nullptr, &help, nullptr, nullptr);
    SysFreeString(help);
    info->ReleaseVarDesc(vd);
  }
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    info->GetImplTypeFlags(i, &flags);
    if (FAILED(info->GetRefTypeOfImplType(i, &ref))) continue;
    ITypeInfo* target = nullptr;
    // Imported types would go to the registry; local ones are what the blob decides.
    if (!(ref & 0x80000000u) && SUCCEEDED(info->GetRefTypeInfo(ref, &target))) target->Release();
  }
  info->ReleaseTypeAttr(attr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const orvan::typelib::ByteView image{data, size};
  ITypeLib* lib = nullptr;
  if (SUCCEEDED(orvan::typelib::load_type_lib_from_image(image, &lib))) {
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) lib->ReleaseTLibAttr(attr);
    for (UINT t = 0; t < lib->GetTypeInfoCount(); ++t) {
      ITypeInfo* info = nullptr;
      if (FAILED(lib->GetTypeInfo(t, &info))) continue;
      walk_type(info);
      info->Release();
    }
    OLECHAR name[] = u"Name";
    BOOL found = 0;
    lib->IsName(name, 0, &found);
    lib->Release();
  }
  std::vector<std::uint8_t> section;
  if (SUCCEEDED(orvan::typelib::read_resource_section(image, section))) {
    orvan::typelib::ByteView resource;
    orvan::typelib::VersionInfo version;
    if (SUCCEEDED(orvan::typelib::find_resource({section.data(), section.size()},
                                                orvan::typelib::format::kResourceVersion, 1,
                                                resource)))
      orvan::typelib::read_version_info(resource, version);
  }
  return 0;
}
