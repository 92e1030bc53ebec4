#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/auto_string.h"
#include "platform/com/guid.h"
#include "platform/com/object.h"
#include "platform/com/status.h"

namespace orvan::com {
namespace {

TEST(Status, TableNamesAndDescribesEveryCodeAndFallsBackToHex) {
  EXPECT_EQ(status_name(E_INVALIDARG), "E_INVALIDARG");
  EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(describe_status(E_OBJECT_NOT_SET), "Object variable not set");
  EXPECT_EQ(describe_status(E_SUBSCRIPT_OUT_OF_RANGE), "Subscript out of range");
  EXPECT_EQ(status_name(make_status(0x80001234)), "");
  EXPECT_EQ(describe_status(make_status(0x80001234)), "Error 0x80001234.");
  EXPECT_TRUE(failed(DSERR_NODRIVER));
  EXPECT_TRUE(succeeded(S_FALSE));
}

TEST(Guid, ParsesAndFormatsTheBracedFormRoundTrip) {
  const auto guid = parse_guid("{2157ed08-4B0C-427B-8475-85D754B974CA}");
  ASSERT_TRUE(guid.has_value());
  EXPECT_EQ(guid->data1, 0x2157ED08u);
  EXPECT_EQ(guid->data2, 0x4B0Cu);
  EXPECT_EQ(guid->data4[0], 0x84u);
  EXPECT_EQ(guid->data4[7], 0xCAu);
  EXPECT_EQ(format_guid(*guid), "{2157ED08-4B0C-427B-8475-85D754B974CA}");
}

TEST(Guid, RefusesEverythingButTheBracedForm) {
  for (const char* bad :
       {"", "2157ED08-4B0C-427B-8475-85D754B974CA", "{2157ED08-4B0C-427B-8475-85D754B974C}",
        "{2157ED08+4B0C-427B-8475-85D754B974CA}", "{2157ED0G-4B0C-427B-8475-85D754B974CA}",
        "{2157ED08-4B0C-427B-8475-85D754B974CA}x"}) {
    EXPECT_FALSE(parse_guid(bad).has_value()) << bad;
  }
}

TEST(AutomationString, KeepsLengthPrefixEmbeddedNulsAndUnicode) {
  const BStr text = BStr::from_utf8("Th\xC3\xA9me \xF0\x9F\x8E\xB5.mid");  // é and a surrogate pair
  EXPECT_EQ(text.size(), 12u);
  EXPECT_EQ(text.to_utf8(), "Th\xC3\xA9me \xF0\x9F\x8E\xB5.mid");
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(text.c_str()) - 4, 4);
  EXPECT_EQ(prefix, 24u);  // bytes, not characters
  EXPECT_EQ(text.c_str()[text.size()], u'\0');

  const BStr with_nul(std::u16string_view(u"a\0b", 3));
  EXPECT_EQ(with_nul.size(), 3u);
  EXPECT_EQ(BStr(with_nul), with_nul);

  const BStr empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.c_str()[0], u'\0');
}

TEST(AutomationString, MalformedUtf8AndLoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(utf8_to_utf16("a\xFF"
                          "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8_to_utf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short
  EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD");        // overlong
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(AutomationBoolean, TrueIsMinusOne) {
  EXPECT_EQ(to_variant_bool(true), -1);
  EXPECT_EQ(to_variant_bool(false), 0);
  EXPECT_TRUE(from_variant_bool(1));
}

class Counted : public Object {
 public:
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  HResult Ping(int& out) {
    out = 7;
    return S_OK;
  }

 private:
  ~Counted() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(CountedReference, EmptyingTheLastMemberReleasesAndEmptyCallsFail) {
  int destroyed = 0;
  Ref<Counted> a = make_ref<Counted>(&destroyed);
  Ref<Counted> b = a;
  EXPECT_EQ(a->ref_count(), 2);
  a.reset();
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(destroyed, 0);

  int out = 0;
  EXPECT_EQ(call(b, &Counted::Ping, out), S_OK);
  EXPECT_EQ(out, 7);
  out = 0;
  EXPECT_EQ(call(a, &Counted::Ping, out), E_OBJECT_NOT_SET);
  EXPECT_EQ(out, 0);

  int answer = -1;
  EXPECT_EQ(call_get(b, &Counted::Ping, answer), S_OK);
  EXPECT_EQ(answer, 7);
  answer = -1;
  EXPECT_EQ(call_get(a, &Counted::Ping, answer), E_OBJECT_NOT_SET);
  EXPECT_EQ(answer, -1);  // a failed query leaves the caller's variable alone

  Ref<Object> as_object = b;
  Ref<Counted> back;
  EXPECT_EQ(query(as_object, back), S_OK);
  EXPECT_EQ(back, b);
  b.reset();
  as_object.reset();
  EXPECT_EQ(destroyed, 0);
  back.reset();
  EXPECT_EQ(destroyed, 1);

  Ref<Counted> none;
  EXPECT_EQ(query(Ref<Object>(), none), E_POINTER);
}

}  // namespace
}  // namespace orvan::com
