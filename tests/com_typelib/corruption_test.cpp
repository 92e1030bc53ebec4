// Damaged files and sections: every mutation of a real resource section and of a real
// library's ELF structure is either refused with a type-library status or loads into a
// library that can be walked completely. Nothing crashes (the sanitizer builds check that
// the walk reads nothing out of bounds).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/com/typelib/load.h"
#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

std::vector<std::uint8_t> read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool is_type_library_status(HRESULT hr) {
  return hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT || hr == TYPE_E_CANTLOADLIBRARY;
}

// Reads everything a client could, following references inside the library.
void walk(ITypeLib* lib) {
  TLIBATTR* la = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
  lib->ReleaseTLibAttr(la);
  for (UINT t = 0; t < lib->GetTypeInfoCount(); ++t) {
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfo(t, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    SysFreeString(name);
    SysFreeString(doc);
    for (UINT f = 0; f < attr->cFuncs; ++f) {
      FUNCDESC* fd = nullptr;
      ASSERT_EQ(info->GetFuncDesc(f, &fd), S_OK);
      BSTR names[80] = {};
      UINT count = 0;
      info->GetNames(fd->memid, names, 80, &count);
      for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
      info->ReleaseFuncDesc(fd);
    }
    for (UINT v = 0; v < attr->cVars; ++v) {
      VARDESC* vd = nullptr;
      ASSERT_EQ(info->GetVarDesc(v, &vd), S_OK);
      info->ReleaseVarDesc(vd);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
      HREFTYPE ref = 0;
      INT flags = 0;
      ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
      ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
      ITypeInfo* target = nullptr;
      if (!(ref & 0x80000000u) && SUCCEEDED(info->GetRefTypeInfo(ref, &target))) target->Release();
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
  }
}

// Loads an image and walks it; returns the status.
HRESULT load_and_walk(const std::vector<std::uint8_t>& image) {
  ITypeLib* lib = nullptr;
  const HRESULT hr = orvan::typelib::load_type_lib_from_image({image.data(), image.size()}, &lib);
  if (SUCCEEDED(hr)) {
    walk(lib);
    lib->Release();
  }
  return hr;
}

TEST(Corruption, EveryByteOfARealResourceSectionMutatedIsRefusedOrSafe) {
  const std::vector<std::uint8_t> section = read_file(ORVAN_TYPELIB_TEST_BLOB);
  ASSERT_GT(section.size(), 1000u);
  ASSERT_EQ(load_and_walk(section), S_OK);
  const std::uint8_t patterns[] = {0x00, 0xFF, 0x80, 0x7F, 0x01};
  int refused = 0, loaded = 0;
  for (std::size_t at = 0; at < section.size(); ++at) {
    for (std::uint8_t pattern : patterns) {
      if (section[at] == pattern) continue;
      std::vector<std::uint8_t> bad = section;
      bad[at] = pattern;
      const HRESULT hr = load_and_walk(bad);
      if (SUCCEEDED(hr)) {
        ++loaded;
      } else {
        ASSERT_TRUE(is_type_library_status(hr)) << "offset " << at << ": 0x" << std::hex << hr;
        ++refused;
      }
    }
  }
  // Names, documentation and values may change harmlessly; the structure may not.
  EXPECT_GT(refused, 1000);
  EXPECT_GT(loaded, 100);
}

TEST(Corruption, EveryTruncationOfASectionIsRefused) {
  const std::vector<std::uint8_t> section = read_file(ORVAN_TYPELIB_TEST_BLOB);
  for (std::size_t length = 0; length < section.size(); ++length) {
    std::vector<std::uint8_t> cut(section.begin(), section.begin() + static_cast<long>(length));
    const HRESULT hr = load_and_walk(cut);
    ASSERT_TRUE(is_type_library_status(hr)) << "length " << length << ": 0x" << std::hex << hr;
  }
}

TEST(Corruption, HeaderFieldsSetToExtremesAreRefused) {
  const std::vector<std::uint8_t> section = read_file(ORVAN_TYPELIB_TEST_BLOB);
  // The first type library starts where the directory's first entry says.
  std::uint32_t blob;
  std::memcpy(&blob, section.data() + 24 + 8, 4);
  int refused = 0;
  // Every 32-bit field of the type-library header: zero, all ones, just past the end.
  for (std::size_t field = 8; field < 144; field += 4) {
    for (std::uint32_t value :
         {0u, 0xFFFFFFFFu, 0x7FFFFFF0u, static_cast<std::uint32_t>(section.size())}) {
      std::vector<std::uint8_t> bad = section;
      std::memcpy(bad.data() + blob + field, &value, 4);
      const HRESULT hr = load_and_walk(bad);
      if (FAILED(hr)) {
        ASSERT_TRUE(is_type_library_status(hr)) << "field " << field;
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 80);
  // Another magic or major version is a format we do not read.
  std::vector<std::uint8_t> other = section;
  other[blob + 4] = 2;
  EXPECT_EQ(load_and_walk(other), TYPE_E_UNSUPFORMAT);
  other = section;
  other[blob] = 'X';
  EXPECT_EQ(load_and_walk(other), TYPE_E_UNSUPFORMAT);
}

TEST(Corruption, DamagedElfStructureIsRefusedNeverFollowed) {
  const std::vector<std::uint8_t> elf = read_file(ORVAN_COMRT_PATH);
  ASSERT_GT(elf.size(), 4096u);
  ASSERT_EQ(load_and_walk(elf), S_OK);

  // Every cut short of the whole file loses the section headers, which the linker puts last.
  for (std::size_t step = 1; step < 64; ++step) {
    const std::size_t length = elf.size() * step / 64;
    std::vector<std::uint8_t> cut(elf.begin(), elf.begin() + static_cast<long>(length));
    const HRESULT hr = load_and_walk(cut);
    ASSERT_TRUE(is_type_library_status(hr)) << "length " << length;
  }

  // Every byte of the ELF header, then of each section header.
  std::uint64_t shoff;
  std::uint16_t shentsize, shnum;
  std::memcpy(&shoff, elf.data() + 0x28, 8);
  std::memcpy(&shentsize, elf.data() + 0x3A, 2);
  std::memcpy(&shnum, elf.data() + 0x3C, 2);
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 64; ++i) offsets.push_back(i);
  for (std::size_t i = 0; i < std::size_t{shnum} * shentsize; ++i) offsets.push_back(shoff + i);
  int refused = 0;
  std::vector<std::uint8_t> bad = elf;  // one byte changed at a time, then put back
  for (std::size_t at : offsets) {
    for (std::uint8_t pattern : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x41}}) {
      if (elf[at] == pattern) continue;
      bad[at] = pattern;
      const HRESULT hr = load_and_walk(bad);
      bad[at] = elf[at];
      if (FAILED(hr)) {
        ASSERT_TRUE(is_type_library_status(hr)) << "offset " << at;
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 100);

  // A file that is not ELF at all, and one without the section.
  EXPECT_EQ(load_and_walk({'h', 'e', 'l', 'l', 'o'}), TYPE_E_CANTLOADLIBRARY);
  ITypeLib* lib = nullptr;
  EXPECT_EQ(LoadTypeLib(u"/bin/sh", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(u"/no/such/file.so", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(u"/tmp", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);
}

}  // namespace
}  // namespace typelib_test
