// The registry store: values and keys, transactions, layering, and server registration.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/scratch_registry.h"

namespace reg = orvan::com::registry;
using Registry = orvan::testing::ScratchRegistry;

namespace {

std::string value_of(std::string_view key, std::string_view name = "") {
  return reg::read_value(key, name).value_or("<absent>");
}

const reg::ServerRecord& sample_record() {
  static const reg::ServerRecord record = [] {
    reg::ServerRecord r;
    r.project = "SampleProject";
    r.libid = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    r.major = 53;
    r.minor = 0;
    r.classes.push_back(
        {"Widget",
         {0x2157ED08, 0x4B0C, 0x427B, {0x84, 0x75, 0x85, 0xD7, 0x54, 0xB9, 0x74, 0xCA}},
         {0x224964E1, 0x4A40, 0x4379, {0xA5, 0xE7, 0x81, 0x57, 0x3B, 0xE3, 0xD5, 0xCB}}});
    return r;
  }();
  return record;
}

constexpr const char* kClassKey = "CLSID\\{2157ED08-4B0C-427B-8475-85D754B974CA}";

}  // namespace

TEST_F(Registry, KeysAndValuesIgnoreCaseAndTreesGoWhole) {
  ASSERT_EQ(reg::set_value("CLSID\\{ABC}\\InprocServer32", "", "/lib/a.so"), S_OK);
  ASSERT_EQ(reg::set_value("CLSID\\{ABC}\\InprocServer32", "ThreadingModel", "Apartment"), S_OK);
  ASSERT_EQ(reg::set_value("CLSID\\{ABC}x", "", "neighbour"), S_OK);
  ASSERT_EQ(reg::set_value("\\clsid\\{abc}\\inprocserver32\\", "threadingmodel", "Both"), S_OK);

  EXPECT_EQ(value_of("clsid\\{ABC}\\INPROCSERVER32"), "/lib/a.so");
  EXPECT_EQ(value_of("CLSID\\{ABC}\\InprocServer32", "THREADINGMODEL"), "Both");
  EXPECT_EQ(reg::list_subkeys("CLSID"), (std::vector<std::string>{"{ABC}", "{ABC}x"}));
  EXPECT_EQ(reg::list_values("CLSID\\{ABC}\\InprocServer32"),
            (std::vector<reg::NamedValue>{{"", "/lib/a.so"}, {"ThreadingModel", "Both"}}));
  EXPECT_TRUE(reg::key_exists("CLSID\\{ABC}"));  // a key with values only below it
  EXPECT_EQ(reg::set_value("CLSID\\\\{ABC}", "", "x"), E_INVALIDARG);
  EXPECT_EQ(reg::set_value("", "", "x"), E_INVALIDARG);

  EXPECT_EQ(reg::delete_value("CLSID\\{ABC}\\InprocServer32", "threadingMODEL"), S_OK);
  EXPECT_EQ(reg::delete_value("CLSID\\{ABC}\\InprocServer32", "ThreadingModel"), S_FALSE);
  EXPECT_EQ(reg::delete_tree("Clsid\\{abc}"), S_OK);
  EXPECT_FALSE(reg::key_exists("CLSID\\{ABC}"));
  EXPECT_EQ(value_of("CLSID\\{ABC}x"), "neighbour");  // same prefix, different key
  EXPECT_EQ(reg::delete_tree("CLSID\\{ABC}"), S_FALSE);
}

TEST_F(Registry, NestedTransactionsCommitOnceAndAnAbandonedPartRollsBackAll) {
  {
    reg::Transaction outer;
    ASSERT_EQ(outer.status(), S_OK);
    ASSERT_EQ(reg::set_value("A", "", "1"), S_OK);
    {
      reg::Transaction inner;
      ASSERT_EQ(reg::set_value("B", "", "2"), S_OK);
      EXPECT_EQ(value_of("A"), "1");  // a read inside sees the transaction's writes
      EXPECT_EQ(inner.commit(), S_OK);
    }
    EXPECT_EQ(reg::dump().size(), 2u);
    EXPECT_EQ(outer.commit(), S_OK);
    EXPECT_EQ(outer.commit(), E_UNEXPECTED);
  }
  EXPECT_EQ(value_of("B"), "2");

  {
    reg::Transaction outer;
    ASSERT_EQ(reg::set_value("C", "", "3"), S_OK);
    { reg::Transaction abandoned; }
    EXPECT_EQ(outer.commit(), REGDB_E_WRITEREGDB);
  }
  {
    reg::Transaction never_committed;
    ASSERT_EQ(reg::set_value("D", "", "4"), S_OK);
  }
  EXPECT_EQ(reg::dump(), (std::vector<reg::Entry>{{"A", "", "1"}, {"B", "", "2"}}));
}

TEST_F(Registry, ConcurrentWritersAllLand) {
  constexpr int kThreads = 4;
  constexpr int kWrites = 10;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kWrites; ++i) {
        reg::Transaction tx;
        // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string.
        std::string key = "T";
        key += std::to_string(t);
        key += '\\';
        key += std::to_string(i);
        if (reg::set_value(key, "", "v") != S_OK || tx.commit() != S_OK) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(reg::dump().size(), static_cast<std::size_t>(kThreads * kWrites));
}

TEST_F(Registry, PerUserKeysHideSystemKeysAndWritesGoWhereAsked) {
  use_layered_stores();
  ASSERT_EQ(reg::set_value("CLSID\\{A}\\InprocServer32", "", "/usr/lib/a.so", reg::Scope::system),
            S_OK);
  ASSERT_EQ(
      reg::set_value("CLSID\\{A}\\InprocServer32", "ThreadingModel", "Both", reg::Scope::system),
      S_OK);
  ASSERT_EQ(reg::set_value("CLSID\\{B}", "", "system B", reg::Scope::system), S_OK);
  EXPECT_EQ(value_of("CLSID\\{A}\\InprocServer32"), "/usr/lib/a.so");

  ASSERT_EQ(reg::set_value("CLSID\\{A}\\InprocServer32", "", "/home/me/a.so"), S_OK);
  EXPECT_EQ(value_of("CLSID\\{A}\\InprocServer32"), "/home/me/a.so");
  // The per-user key hides the system key whole: no value leaks through from below.
  EXPECT_EQ(value_of("CLSID\\{A}\\InprocServer32", "ThreadingModel"), "<absent>");
  EXPECT_EQ(reg::list_subkeys("CLSID"), (std::vector<std::string>{"{A}", "{B}"}));

  setenv("ORVAN_REGISTRY_SCOPE", "system", 1);
  ASSERT_EQ(reg::set_value("CLSID\\{C}", "", "system C"), S_OK);
  EXPECT_EQ(reg::dump(reg::Scope::system).size(), 4u);
  EXPECT_EQ(reg::dump(reg::Scope::user).size(), 1u);
}

TEST_F(Registry, ServerRegistrationWritesTheClassKeysAndIsIdempotent) {
  ASSERT_EQ(reg::register_server(sample_record(), "/opt/lib/libWidget.so"), S_OK);
  const std::string key = kClassKey;
  EXPECT_EQ(value_of(key), "Widget");
  EXPECT_EQ(value_of(key + "\\InprocServer32"), "/opt/lib/libWidget.so");
  EXPECT_EQ(value_of(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(value_of(key + "\\ProgID"), "SampleProject.Widget");
  EXPECT_EQ(value_of(key + "\\TypeLib"), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(value_of(key + "\\Version"), "53.0");
  EXPECT_EQ(value_of("SampleProject.Widget"), "Widget");
  EXPECT_EQ(value_of("SampleProject.Widget\\CLSID"), "{2157ED08-4B0C-427B-8475-85D754B974CA}");

  const auto once = reg::dump();
  ASSERT_EQ(reg::register_server(sample_record(), "/opt/lib/libWidget.so"), S_OK);
  EXPECT_EQ(reg::dump(), once);
  EXPECT_EQ(reg::register_server(sample_record(), "relative/libWidget.so"), E_INVALIDARG);
}

TEST_F(Registry, UnregistrationRemovesOnlyWhatItsRegistrationOwns) {
  // Unrelated entries, some inside the keys the registration writes to.
  ASSERT_EQ(reg::set_value("CLSID\\{00000000-0000-0000-0000-000000000001}", "", "other"), S_OK);
  ASSERT_EQ(reg::set_value("SampleProject.Other\\CLSID", "", "{X}"), S_OK);
  ASSERT_EQ(reg::set_value(std::string(kClassKey) + "\\Implemented Categories", "", "c"), S_OK);
  const auto before = reg::dump();

  ASSERT_EQ(reg::register_server(sample_record(), "/opt/lib/libWidget.so"), S_OK);
  ASSERT_EQ(reg::unregister_server(sample_record(), "/opt/lib/libWidget.so"), S_OK);
  EXPECT_EQ(reg::dump(), before);

  // Another library took the class over: its registration stays whole.
  ASSERT_EQ(reg::register_server(sample_record(), "/opt/lib/libWidget.so"), S_OK);
  ASSERT_EQ(reg::set_value(std::string(kClassKey) + "\\InprocServer32", "", "/elsewhere.so"), S_OK);
  const auto taken_over = reg::dump();
  EXPECT_EQ(reg::unregister_server(sample_record(), "/opt/lib/libWidget.so"), S_FALSE);
  EXPECT_EQ(reg::dump(), taken_over);
}
