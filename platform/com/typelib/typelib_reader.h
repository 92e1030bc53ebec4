// A type library blob (typelib_format.h), checked once and then read in place.
//
// TypeLibData::open() runs the single validation pass; every accessor afterwards trusts the
// blob and copies records out with memcpy, so no later read can leave the blob.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/status.h"
#include "platform/com/typelib/byte_view.h"
#include "platform/com/typelib/typelib_format.h"

namespace orvan::typelib {

class TypeLibData {
 public:
  // TYPE_E_UNSUPFORMAT for another magic or major format version, TYPE_E_INVDATAREAD for
  // anything out of bounds or inconsistent.
  static com::HResult open(std::vector<std::uint8_t> bytes, std::unique_ptr<TypeLibData>& out);
  // Validation alone, on bytes the caller keeps (fuzzing).
  static com::HResult validate(ByteView blob);

  const format::Header& header() const noexcept { return header_; }
  GUID libid() const noexcept { return to_guid(header_.libid); }
  std::uint32_t type_count() const noexcept { return header_.types.count; }

  format::TypeRecord type(std::uint32_t i) const noexcept {
    return record<format::TypeRecord>(header_.types, i);
  }
  format::FuncRecord function(std::uint32_t i) const noexcept {
    return record<format::FuncRecord>(header_.functions, i);
  }
  format::ParamRecord param(std::uint32_t i) const noexcept {
    return record<format::ParamRecord>(header_.params, i);
  }
  format::VarRecord var(std::uint32_t i) const noexcept {
    return record<format::VarRecord>(header_.vars, i);
  }
  format::ImplRecord impl(std::uint32_t i) const noexcept {
    return record<format::ImplRecord>(header_.impls, i);
  }
  format::TypeDescRecord typedesc(std::uint32_t i) const noexcept {
    return record<format::TypeDescRecord>(header_.typedescs, i);
  }
  format::ValueRecord value(std::uint32_t i) const noexcept {
    return record<format::ValueRecord>(header_.values, i);
  }
  format::ImportRecord import(std::uint32_t i) const noexcept {
    return record<format::ImportRecord>(header_.imports, i);
  }
  format::ExternalRefRecord external_ref(std::uint32_t i) const noexcept {
    return record<format::ExternalRefRecord>(header_.external_refs, i);
  }

  // UTF-8; "" for kNoString.
  std::string_view string(std::uint32_t ref) const noexcept;

  // Pointer levels of a type and the type they end at.
  format::TypeDescRecord strip_pointers(std::uint32_t typedesc, int& levels) const noexcept;

  static GUID to_guid(const std::uint8_t bytes[16]) noexcept {
    GUID g;
    std::memcpy(&g, bytes, sizeof g);
    return g;
  }
  ByteView bytes() const noexcept { return {bytes_.data(), header_.total_size}; }

 private:
  template <class Record>
  Record record(const format::Table& table, std::uint32_t i) const noexcept {
    return bytes().load<Record>(table.offset + std::uint64_t{i} * sizeof(Record));
  }

  std::vector<std::uint8_t> bytes_;
  format::Header header_{};
};

}  // namespace orvan::typelib
