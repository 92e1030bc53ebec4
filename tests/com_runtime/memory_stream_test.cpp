// The runtime's stream over memory: reads and writes at a position that seeks, a size that
// grows and shrinks, clones sharing the bytes with positions of their own, and the statuses
// of misuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orvan/component_runtime.h"

namespace {

std::string read_all(IStream* stream, ULONG size) {
  std::string out(size, '\0');
  ULONG got = 0;
  stream->Read(out.data(), size, &got);
  out.resize(got);
  return out;
}

LARGE_INTEGER at(std::int64_t offset) {
  LARGE_INTEGER value;
  value.QuadPart = offset;
  return value;
}

}  // namespace

TEST(MemoryStream, ReadsSeeksWritesAndGrowsLikeAFile) {
  const char text[] = "RIFF....WAVEfmt ";
  IStream* stream = OrvanCreateMemoryStream(text, 16);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(read_all(stream, 4), "RIFF");
  ULARGE_INTEGER position{};
  ASSERT_EQ(stream->Seek(at(4), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 8u);
  EXPECT_EQ(read_all(stream, 4), "WAVE");
  ASSERT_EQ(stream->Seek(at(-3), STREAM_SEEK_END, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 13u);
  char rest[8] = {};
  ULONG got = 99;
  EXPECT_EQ(stream->Read(rest, 8, &got), S_FALSE) << "a short read at the end";
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(rest, 3), "mt ");

  // Before the start is refused and the position stays; a bad origin likewise.
  EXPECT_EQ(stream->Seek(at(-17), STREAM_SEEK_END, &position), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(at(0), 3, nullptr), STG_E_INVALIDFUNCTION);
  ASSERT_EQ(stream->Seek(at(0), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 16u);

  // A write past the end fills the gap with zeros and grows the stream.
  ASSERT_EQ(stream->Seek(at(18), STREAM_SEEK_SET, nullptr), S_OK);
  ULONG written = 0;
  ASSERT_EQ(stream->Write("ab", 2, &written), S_OK);
  EXPECT_EQ(written, 2u);
  STATSTG stat;
  std::memset(&stat, 0x5A, sizeof stat);
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 20u);
  EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
  EXPECT_EQ(stat.pwcsName, nullptr);
  ASSERT_EQ(stream->Seek(at(15), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(read_all(stream, 8), std::string(" \0\0ab", 5));

  ULARGE_INTEGER size{};
  size.QuadPart = 4;
  ASSERT_EQ(stream->SetSize(size), S_OK);
  ASSERT_EQ(stream->Seek(at(0), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(read_all(stream, 8), "RIFF");

  EXPECT_EQ(stream->Read(nullptr, 4, &got), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream->Stat(nullptr, STATFLAG_DEFAULT), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream->LockRegion(size, size, 0), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(OrvanCreateMemoryStream(nullptr, 3), nullptr);
  EXPECT_EQ(stream->Release(), 0u);
}

TEST(MemoryStream, ClonesShareTheBytesAndCopyToWritesIntoAnotherStream) {
  IStream* stream = OrvanCreateMemoryStream("0123456789", 10);
  ASSERT_NE(stream, nullptr);
  ISequentialStream* sequential = nullptr;
  ASSERT_EQ(stream->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&sequential)),
            S_OK);
  EXPECT_EQ(static_cast<void*>(sequential), static_cast<void*>(stream));
  sequential->Release();
  ASSERT_EQ(stream->Seek(at(6), STREAM_SEEK_SET, nullptr), S_OK);
  IStream* clone = nullptr;
  ASSERT_EQ(stream->Clone(&clone), S_OK);
  EXPECT_EQ(read_all(clone, 2), "67") << "the clone starts where the original stood";
  ASSERT_EQ(clone->Write("xy", 2, nullptr), S_OK);
  EXPECT_EQ(read_all(stream, 4), "67xy") << "and writes into the same bytes";

  IStream* copy = OrvanCreateMemoryStream(nullptr, 0);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(stream->Seek(at(2), STREAM_SEEK_SET, nullptr), S_OK);
  ULARGE_INTEGER want{}, read{}, written{};
  want.QuadPart = 100;
  ASSERT_EQ(stream->CopyTo(copy, want, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 8u);
  EXPECT_EQ(written.QuadPart, 8u);
  ASSERT_EQ(copy->Seek(at(0), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(read_all(copy, 20), "234567xy");
  EXPECT_EQ(stream->CopyTo(nullptr, want, &read, &written), STG_E_INVALIDPOINTER);

  EXPECT_EQ(copy->Release(), 0u);
  EXPECT_EQ(stream->Release(), 0u);
  ASSERT_EQ(clone->Seek(at(0), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(read_all(clone, 2), "01") << "the bytes live on with the last clone";
  EXPECT_EQ(clone->Release(), 0u);
}
