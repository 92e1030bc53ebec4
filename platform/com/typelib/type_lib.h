// ITypeLib and ITypeInfo over a validated type-library blob.
//
// A TypeLib owns its blob and one TypeInfo per described type. The TypeInfos count their
// references on the library, so a client holding any of them keeps the whole library alive,
// and GetContainingTypeLib always answers. Descriptions handed out (TYPEATTR, FUNCDESC,
// VARDESC, TLIBATTR) are allocated per call and freed by the matching Release call.
// A loaded library is immutable, so every member may be called from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/typelib/typelib_reader.h"

namespace orvan::typelib {

class TypeLib;

class TypeInfo final : public ITypeInfo {
 public:
  TypeInfo(TypeLib& lib, std::uint32_t index);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR** attr) override;
  HRESULT GetTypeComp(ITypeComp** comp) override;
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
  HRESULT GetVarDesc(UINT index, VARDESC** desc) override;
  HRESULT GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override;
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override;
  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override;
  HRESULT GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal) override;
  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
  HRESULT AddressOfMember(MEMBERID id, INVOKEKIND kind, void** address) override;
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT GetMops(MEMBERID id, BSTR* mops) override;
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR* attr) override;
  void ReleaseFuncDesc(FUNCDESC* desc) override;
  void ReleaseVarDesc(VARDESC* desc) override;

  // For the dispatcher and the tool.
  TypeLib& lib() const noexcept { return lib_; }
  std::uint32_t index() const noexcept { return index_; }
  const format::TypeRecord& record() const noexcept { return record_; }
  const TypeLibData& data() const noexcept;
  // The function with this member id and an invoke kind among `kinds`, searching the base
  // interfaces of this library too; false when there is none. `owner` is the type holding it.
  bool find_function(MEMBERID id, int kinds, format::FuncRecord& fn) const noexcept;
  bool has_member(MEMBERID id) const noexcept;

  ~TypeInfo() = default;

 private:
  TypeLib& lib_;
  std::uint32_t index_;
  format::TypeRecord record_;
};

class TypeLib final : public ITypeLib {
 public:
  // Takes a validated blob; `path` is the file it came from ("" for memory).
  TypeLib(std::unique_ptr<TypeLibData> data, std::string path);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  UINT GetTypeInfoCount() override;
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override;
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override;
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override;
  HRESULT GetLibAttr(TLIBATTR** attr) override;
  HRESULT GetTypeComp(ITypeComp** comp) override;
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override;
  HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) override;
  HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids,
                   USHORT* found) override;
  void ReleaseTLibAttr(TLIBATTR* attr) override;

  const TypeLibData& data() const noexcept { return *data_; }
  const std::string& path() const noexcept { return path_; }
  TypeInfo& info(std::uint32_t index) noexcept { return *infos_[index]; }
  // Resolves a type of an imported library (through LoadRegTypeLib), once; AddRef'd.
  HRESULT external_type(std::uint32_t ref_index, ITypeInfo** info);

 private:
  ~TypeLib();

  std::atomic<ULONG> refs_{1};
  std::unique_ptr<TypeLibData> data_;
  std::string path_;
  std::vector<std::unique_ptr<TypeInfo>> infos_;
  std::mutex external_mutex_;
  std::vector<ITypeInfo*> external_;  // resolved imports, by external-ref index
};

// Makes a BSTR from UTF-8 (nullptr for an empty view when `null_if_empty`).
BSTR make_bstr(std::string_view utf8);
// UTF-16 name from a client, to UTF-8 for comparison with stored names.
std::string name_to_utf8(const OLECHAR* name);

}  // namespace orvan::typelib
