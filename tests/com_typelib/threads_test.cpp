// A loaded library is shared: threads that resolve imported types for the first time and
// call through it at once all see the same answers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/com_typelib/test_object.h"

namespace typelib_test {
namespace {

TEST(Threads, ConcurrentResolutionAndInvokeOnOneLibraryAgree) {
  ITypeLib* lib = load_test_library();
  ASSERT_NE(lib, nullptr);
  ITypeInfo* calc_info = nullptr;
  ITypeInfo* cls = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kIid, &calc_info), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kClsid, &cls), S_OK);
  HREFTYPE base = 0, event = 0;
  ASSERT_EQ(calc_info->GetRefTypeOfImplType(0, &base), S_OK);
  ASSERT_EQ(cls->GetRefTypeOfImplType(1, &event), S_OK);

  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> wrong{0};
  std::vector<ITypeInfo*> first_base(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TestCalc calc(calc_info);
      for (int i = 0; i < kRounds; ++i) {
        ITypeInfo* dispatch = nullptr;
        ITypeInfo* sink = nullptr;
        if (FAILED(calc_info->GetRefTypeInfo(base, &dispatch)) ||
            FAILED(cls->GetRefTypeInfo(event, &sink))) {
          ++wrong;
          continue;
        }
        if (i == 0) first_base[static_cast<std::size_t>(t)] = dispatch;
        dispatch->Release();
        sink->Release();
        Args args;
        args.i4(i).i4(t);
        VARIANT result{};
        if (calc.Invoke(kSubtract, IID_NULL, 0, DISPATCH_METHOD, args.params(), &result, nullptr,
                        nullptr) != S_OK ||
            result.lVal != i - t)
          ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  // Every thread got the one cached type information of IDispatch.
  for (ITypeInfo* info : first_base) EXPECT_EQ(info, first_base[0]);
  cls->Release();
  calc_info->Release();
  lib->Release();
}

}  // namespace
}  // namespace typelib_test
