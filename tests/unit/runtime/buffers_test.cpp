// Tracked buffers: growth, contents, failures and the usage counters.
#include "runtime/buffers.h"

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "../test_hooks_support.h"
#include "log_test_support.h"
#include "runtime/status.h"

namespace {

// Buffer tests that read the debug log.
class BufferLogTest : public logtest::DebugLogTest {};

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(Buffers, SmallerRequestsKeepTheBlockAndItsContents) {
  BufferDescriptor d{};
  ASSERT_EQ(ReallocateBuffer(64, &d), 0);
  ASSERT_NE(d.buffer, nullptr);
  std::memset(d.buffer, 0x5A, 64);
  void* block = d.buffer;
  EXPECT_EQ(ReallocateBuffer(16, &d), 0);
  EXPECT_EQ(ReallocateBufferPreserveContents(64, &d), 0);
  EXPECT_EQ(d.buffer, block);
  EXPECT_EQ(d.size, 64u);
  EXPECT_EQ(static_cast<unsigned char*>(d.buffer)[63], 0x5A);
  DeallocateBuffer(&d);
  EXPECT_EQ(d.buffer, nullptr);
  EXPECT_EQ(d.size, 0u);
}

TEST(Buffers, GrowingWithPreserveKeepsTheOldBytes) {
  BufferDescriptor d{};
  ASSERT_EQ(ReallocateBufferPreserveContents(8, &d), 0);
  std::memcpy(d.buffer, "abcdefgh", 8);
  ASSERT_EQ(ReallocateBufferPreserveContents(1 << 20, &d), 0);
  EXPECT_EQ(d.size, static_cast<size_t>(1 << 20));
  EXPECT_EQ(std::memcmp(d.buffer, "abcdefgh", 8), 0);
  DeallocateBuffer(&d);
}

// Image-sized blocks come from another allocator than small ones; growing
// across that line, both ways of growing keep what they promise, and every
// byte of a large block can be written.
TEST(Buffers, BlocksGrowAcrossTheLargeBlockSizeWithTheirContents) {
  constexpr size_t kMegabyte = size_t{1} << 20;
  for (size_t from : {size_t{1000}, 4 * kMegabyte - 1, 4 * kMegabyte, 9 * kMegabyte + 3}) {
    for (size_t to : {4 * kMegabyte, 4 * kMegabyte + 1, 21 * kMegabyte}) {
      if (to <= from) continue;
      BufferDescriptor d{};
      ASSERT_EQ(ReallocateBuffer(from, &d), 0);
      auto* bytes = static_cast<uint8_t*>(d.buffer);
      for (size_t i = 0; i < from; i += 4093) bytes[i] = static_cast<uint8_t>(i / 4093 + 1);
      bytes[from - 1] = 0xA5;
      ASSERT_EQ(ReallocateBufferPreserveContents(to, &d), 0);
      bytes = static_cast<uint8_t*>(d.buffer);
      for (size_t i = 0; i < from; i += 4093)
        ASSERT_EQ(bytes[i], static_cast<uint8_t>(i / 4093 + 1)) << from << "->" << to;
      EXPECT_EQ(bytes[from - 1], 0xA5);
      std::memset(bytes, 0x5A, to);
      ASSERT_EQ(ReallocateBuffer(to + kMegabyte, &d), 0);  // contents need not survive
      std::memset(d.buffer, 0x3C, to + kMegabyte);
      DeallocateBuffer(&d);
      EXPECT_EQ(d.buffer, nullptr);
    }
  }
}

TEST(Buffers, ZeroedAndNullDescriptorsAreHarmless) {
  const BufferUsage before = GetBufferUsage();
  BufferDescriptor d{};
  DeallocateBuffer(&d);
  DeallocateBuffer(nullptr);
  EXPECT_EQ(ReallocateBuffer(0, &d), 0);
  EXPECT_EQ(ReallocateBuffer(10, nullptr), STATUS_OUT_OF_MEMORY);
  EXPECT_EQ(ReallocateBufferPreserveContents(10, nullptr), STATUS_OUT_OF_MEMORY);
  EXPECT_EQ(GetBufferUsage().current, before.current);
}

TEST(Buffers, UsageCountsSizesAndPeak) {
  const BufferUsage start = GetBufferUsage();
  BufferDescriptor a{};
  BufferDescriptor b{};
  ASSERT_EQ(ReallocateBuffer(1000, &a), 0);
  ASSERT_EQ(ReallocateBuffer(500, &b), 0);
  ASSERT_EQ(ReallocateBufferPreserveContents(3000, &b), 0);  // grows by 2500
  EXPECT_EQ(GetBufferUsage().current, start.current + 4000);
  EXPECT_GE(GetBufferUsage().peak, start.current + 4000);
  DeallocateBuffer(&a);
  DeallocateBuffer(&b);
  EXPECT_EQ(GetBufferUsage().current, start.current);
  EXPECT_GE(GetBufferUsage().peak, start.current + 4000);
}

TEST(Buffers, CountersStayExactUnderConcurrentUse) {
  const BufferUsage start = GetBufferUsage();
  constexpr int THREADS = 6;
  constexpr int ROUNDS = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([t] {
      BufferDescriptor d{};
      for (int i = 1; i <= ROUNDS; ++i) {
        // Grow in steps, sometimes restarting, so that every path runs.
        if (i % 50 == 0) DeallocateBuffer(&d);
        if (i % 2 == 0) ReallocateBuffer(static_cast<size_t>(i * 16 + t), &d);
        else ReallocateBufferPreserveContents(static_cast<size_t>(i * 16 + t), &d);
      }
      DeallocateBuffer(&d);
    });
  }
  // Hold something of our own meanwhile so that the peak is above start.
  BufferDescriptor mine{};
  ASSERT_EQ(ReallocateBuffer(4096, &mine), 0);
  const BufferUsage during = GetBufferUsage();
  EXPECT_GE(during.peak, during.current);
  EXPECT_GE(during.current, start.current + 4096);
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(GetBufferUsage().current, start.current + 4096);
  DeallocateBuffer(&mine);
  const BufferUsage end = GetBufferUsage();
  EXPECT_EQ(end.current, start.current);
  EXPECT_GE(end.peak, start.current + 4096);
}

TEST_F(BufferLogTest, TheNthCountedAllocationFailsAndNoOther) {
  OpenLog(LOGMODE_IMMEDIATE);
  TestHooks& hooks = testhooks::Hooks();
  for (int64_t n : {1, 2, 4}) {
    hooks.allocationsCounted = 0;
    hooks.failAllocationAt = n;
    BufferDescriptor buffers[4] = {};
    for (int64_t i = 1; i <= 4; ++i)
      EXPECT_EQ(ReallocateBuffer(64, &buffers[i - 1]), i == n ? STATUS_OUT_OF_MEMORY : 0) << "N = " << n;
    EXPECT_EQ(hooks.allocationsCounted.load(), 4);
    hooks.failAllocationAt = 0;
    for (BufferDescriptor& buffer : buffers) DeallocateBuffer(&buffer);
  }
  CloseAndRead();
}

TEST_F(BufferLogTest, FailedAllocationsLeaveConsistentDescriptors) {
  OpenLog(LOGMODE_IMMEDIATE);
  const BufferUsage start = GetBufferUsage();

  // Without preserving, the old block is already gone: empty descriptor,
  // and the usage forgets it too.
  BufferDescriptor plain{};
  ASSERT_EQ(ReallocateBuffer(16, &plain), 0);
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(ReallocateBuffer(1000, &plain), STATUS_OUT_OF_MEMORY);
  EXPECT_EQ(plain.buffer, nullptr);
  EXPECT_EQ(plain.size, 0u);
  EXPECT_EQ(GetBufferUsage().current, start.current);
  DeallocateBuffer(&plain);
  EXPECT_EQ(GetBufferUsage().current, start.current);

  // Preserving: the old block and its bytes survive.
  BufferDescriptor kept{};
  ASSERT_EQ(ReallocateBufferPreserveContents(4, &kept), 0);
  std::memcpy(kept.buffer, "keep", 4);
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(ReallocateBufferPreserveContents(2000, &kept), STATUS_OUT_OF_MEMORY);
  ASSERT_NE(kept.buffer, nullptr);
  EXPECT_EQ(kept.size, 4u);
  EXPECT_EQ(std::memcmp(kept.buffer, "keep", 4), 0);
  // The injection is used up: the next request works.
  EXPECT_EQ(ReallocateBufferPreserveContents(2000, &kept), 0);
  DeallocateBuffer(&kept);
  ReportBufferUsage();

  const std::string text = CloseAndRead();
  EXPECT_TRUE(Contains(text, "ReallocateBuffer() Allocation Failed: Requested = 1000, Previous Size = 16, Current Usage = "))
      << text;
  EXPECT_TRUE(Contains(text, "ReallocateBufferPreserveContents() Allocation Failed: Requested = 2000, Previous Size = 4"));
  EXPECT_TRUE(Contains(text, "NULL buffer descriptor pointer received") == false);
  EXPECT_TRUE(Contains(text, "ReportBufferUsage(): Current Usage = "));
}

TEST_F(BufferLogTest, NullDescriptorIsReported) {
  OpenLog(LOGMODE_IMMEDIATE);
  DeallocateBuffer(nullptr);
  const std::string text = CloseAndRead();
  EXPECT_TRUE(Contains(text, "'Debug:  Unexepected error.' - 'NULL buffer descriptor pointer received in DeallocateBuffer()'"))
      << text;
}

}  // namespace
