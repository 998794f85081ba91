#include "base/pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace sm {
namespace {

TEST(ScratchPool, BlocksAreZeroedAndTrackedInOneAllocation) {
  // 5 bytes round up to the trailer's alignment: 8 + 8 on 32-bit Windows.
  EXPECT_EQ(ScratchPoolBlockBytes(5), sizeof(void*) == 4 ? 16u : 24u);
  EXPECT_EQ(ScratchPoolBlockBytes(0), sizeof(ScratchPool::Trailer));
  EXPECT_EQ(ScratchPoolBlockBytes(SIZE_MAX), 0u);

  ScratchPool pool;
  auto* empty = static_cast<char*>(pool.Alloc(0));
  ASSERT_NE(empty, nullptr);
  auto* block = static_cast<unsigned char*>(pool.Alloc(5));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 5; i++) EXPECT_EQ(block[i], 0);
  // The newest trailer sits right after the rounded block and links to the previous one.
  ScratchPool::Trailer* head = pool.head.load();
  EXPECT_EQ(head->start, block);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(head), block + 8);
  EXPECT_EQ(head->link->start, empty);
  EXPECT_EQ(head->link->link, nullptr);
  pool.ReleaseAll();
  EXPECT_EQ(pool.head.load(), nullptr);
}

TEST(ScratchPool, FailuresAreCountedAndSurviveRelease) {
  ScratchPool pool;
  pool.ReleaseAll();  // empty pool: nothing happens
  EXPECT_EQ(pool.Alloc(SIZE_MAX - 3), nullptr);
  EXPECT_EQ(pool.AllocUntracked(SIZE_MAX - 3), nullptr);
  EXPECT_EQ(pool.failures.load(), 2u);
  pool.ReleaseAll();
  EXPECT_EQ(pool.failures.load(), 2u);
  void* again = pool.Alloc(16);
  EXPECT_NE(again, nullptr);

  void* untracked = pool.AllocUntracked(32);
  ASSERT_NE(untracked, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(untracked)[31], 0);
  EXPECT_EQ(pool.head.load()->start, again);  // not recorded
  free(untracked);
  pool.ReleaseAll();
}

TEST(ScratchPool, ConcurrentAllocationsAreAllTracked) {
  ScratchPool pool;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; i++) memset(pool.Alloc(24), 0xAB, 24);
    });
  }
  for (auto& thread : threads) thread.join();
  int count = 0;
  for (auto* t = pool.head.load(); t; t = t->link) count++;
  EXPECT_EQ(count, kThreads * kEach);
  pool.ReleaseAll();
}

}  // namespace
}  // namespace sm
