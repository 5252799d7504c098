// The shared record queue: exact bytes, wrap-around and the reader following it, full-queue
// rules, corrupt records, and delivery from another process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "share/share_map_memory.h"
#include "share/share_package_data_queue.h"
#include "share/wire/object_names.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

constexpr std::uint32_t kArea = SharePackageDataQueue::kCapacity - 16;

struct Header {
  std::uint32_t count, read, write, end;
};

// Owns a queue and a second view of its mapping for looking at the raw bytes.
class QueueFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = kqcp_test::UniqueName("queue");
    ASSERT_TRUE(queue_.Create(name_));
    ASSERT_TRUE(raw_.Open(wire::QueueMapName(name_)));
  }
  Header ReadHeader() const {
    Header h;
    std::memcpy(&h, raw_.GetData(), sizeof h);
    return h;
  }
  std::uint8_t* Area() const { return raw_.GetData() + 16; }
  std::uint32_t Push(std::int32_t payloadLength, std::uint8_t fill,
                     const std::string& label = "L") {
    payload_.assign(static_cast<std::size_t>(payloadLength), fill);
    PackageRecord record;
    record.label = label;
    record.payloadLength = payloadLength;
    record.payload = payload_.data();
    queue_.Lock();
    std::uint32_t written = queue_.Push(record);
    queue_.Unlock();
    return written;
  }
  // Pops one record and checks that its payload is length bytes of fill.
  bool PopExpect(std::int32_t length, std::uint8_t fill) {
    queue_.Lock();
    PackageRecord record;
    bool ok = queue_.Pop(record);
    bool match = ok && record.payloadLength == length &&
                 std::all_of(record.payload, record.payload + length,
                             [&](std::uint8_t b) { return b == fill; });
    queue_.Unlock();
    return match;
  }
  // Payload length that makes a record with a one-byte label exactly total bytes long.
  static std::int32_t PayloadFor(std::uint32_t total) {
    return static_cast<std::int32_t>(total - 23);
  }

  std::string name_;
  SharePackageDataQueue queue_;
  ShareMapMemory raw_;
  std::vector<std::uint8_t> payload_;
};

TEST_F(QueueFixture, NewQueueIsEmptyWithEndMarkAtTheLastByte) {
  Header h = ReadHeader();
  EXPECT_EQ(h.count, 0u);
  EXPECT_EQ(h.read, 0u);
  EXPECT_EQ(h.write, 0u);
  EXPECT_EQ(h.end, kArea - 1);
  queue_.Lock();
  PackageRecord record;
  EXPECT_FALSE(queue_.Pop(record));
  queue_.Unlock();
  SharePackageDataQueue closed;
  EXPECT_EQ(closed.Push(record), 0u);
  EXPECT_EQ(closed.Lock(), -1);
}

TEST_F(QueueFixture, MessageRecordHasTheExactBytes) {
  const std::uint8_t payload[12] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  PackageRecord record;
  record.target = "ab";
  record.session = "s";
  record.label = "Message.";
  record.payloadLength = 12;
  record.payload = payload;
  queue_.Lock();
  ASSERT_EQ(queue_.Push(record), 45u);
  queue_.Unlock();
  const std::uint8_t expected[] = {
      0x0A, 0,   2,   0,   0,   0,   'a', 'b', 0, 0, 0, 0, 1, 0, 0, 0, 's', 8, 0, 0, 0, 'M', 'e',
      's',  's', 'a', 'g', 'e', '.', 12,  0,   0, 0, 1, 0, 0, 0, 2, 0, 0,   0, 3, 0, 0, 0};
  static_assert(sizeof expected == 45);
  EXPECT_EQ(std::memcmp(Area(), expected, 45), 0);
  Header h = ReadHeader();
  EXPECT_EQ(h.count, 1u);
  EXPECT_EQ(h.write, 45u);

  queue_.Lock();
  PackageRecord popped;
  ASSERT_TRUE(queue_.Pop(popped));
  EXPECT_EQ(popped.type, 10);
  EXPECT_EQ(popped.target, "ab");
  EXPECT_EQ(popped.sender, "");
  EXPECT_EQ(popped.session, "s");
  EXPECT_EQ(popped.label, "Message.");
  ASSERT_EQ(popped.payloadLength, 12);
  EXPECT_EQ(std::memcmp(popped.payload, payload, 12), 0);
  queue_.Unlock();
}

TEST_F(QueueFixture, EmptyRecordIs22Bytes) {
  queue_.Lock();
  EXPECT_EQ(queue_.Push(PackageRecord{}), 22u);
  PackageRecord popped;
  popped.label = "stale";
  EXPECT_TRUE(queue_.Pop(popped));
  EXPECT_TRUE(popped.label.empty());
  EXPECT_EQ(popped.payloadLength, 0);
  EXPECT_EQ(queue_.GetCount(), 0u);
  queue_.Unlock();
}

TEST_F(QueueFixture, WriterWrapsAndTheReaderFollows) {
  constexpr std::uint32_t kRecord = 65536;
  for (std::uint8_t i = 0; i < 3; ++i) ASSERT_EQ(Push(PayloadFor(kRecord), i), kRecord);
  for (std::uint8_t i = 0; i < 2; ++i) ASSERT_TRUE(PopExpect(PayloadFor(kRecord), i));
  // The fourth does not fit above 196608: it goes to offset 0 and E keeps the old W.
  ASSERT_EQ(Push(PayloadFor(kRecord), 7), kRecord);
  Header h = ReadHeader();
  EXPECT_EQ(h.end, 3 * kRecord);
  EXPECT_EQ(h.write, kRecord);
  EXPECT_TRUE(PopExpect(PayloadFor(kRecord), 2));
  EXPECT_EQ(ReadHeader().read, 0u) << "the reader follows the wrap";
  EXPECT_TRUE(PopExpect(PayloadFor(kRecord), 7));
  EXPECT_EQ(ReadHeader().read, kRecord);
}

TEST_F(QueueFixture, RecordEndingExactlyAtTheEndOfTheAreaIsReadWhole) {
  ASSERT_EQ(Push(PayloadFor(65536), 1), 65536u);
  ASSERT_EQ(Push(PayloadFor(kArea - 65536), 2), kArea - 65536);
  EXPECT_EQ(ReadHeader().write, kArea);
  EXPECT_TRUE(PopExpect(PayloadFor(65536), 1));
  // The next record wraps to 0 while the one ending at the end of the area waits.
  ASSERT_EQ(Push(100, 3), 123u);
  EXPECT_EQ(ReadHeader().end, kArea);
  EXPECT_TRUE(PopExpect(PayloadFor(kArea - 65536), 2));
  EXPECT_TRUE(PopExpect(100, 3));
}

TEST_F(QueueFixture, AnEmptyQueueTakesARecordAsLargeAsItsArea) {
  ASSERT_EQ(Push(1000, 1), 1023u);
  ASSERT_TRUE(PopExpect(1000, 1));  // empty again, with both offsets at 1023
  ASSERT_EQ(Push(PayloadFor(kArea), 2), kArea);
  EXPECT_EQ(ReadHeader().write, kArea);
  EXPECT_TRUE(PopExpect(PayloadFor(kArea), 2));
  EXPECT_EQ(Push(10, 3), 33u);
  EXPECT_TRUE(PopExpect(10, 3));
}

TEST_F(QueueFixture, WriterNeverCatchesUpWithTheReader) {
  constexpr std::uint32_t kRecord = 65536;
  for (std::uint8_t i = 0; i < 3; ++i) ASSERT_EQ(Push(PayloadFor(kRecord), i), kRecord);
  ASSERT_TRUE(PopExpect(PayloadFor(kRecord), 0));
  ASSERT_TRUE(PopExpect(PayloadFor(kRecord), 1));    // R = 131072
  ASSERT_EQ(Push(PayloadFor(kRecord), 3), kRecord);  // wraps: W = 65536
  // A record ending exactly at R is refused; one byte shorter fits.
  EXPECT_EQ(Push(PayloadFor(kRecord), 4), 0u);
  EXPECT_EQ(Push(PayloadFor(kRecord - 1), 5), kRecord - 1);
  EXPECT_EQ(Push(0, 6), 0u);  // now full
  EXPECT_TRUE(PopExpect(PayloadFor(kRecord), 2));
  EXPECT_TRUE(PopExpect(PayloadFor(kRecord), 3));
  EXPECT_TRUE(PopExpect(PayloadFor(kRecord - 1), 5));
  EXPECT_EQ(ReadHeader().count, 0u);
}

TEST_F(QueueFixture, UnstorableRecordsAreRefused) {
  PackageRecord record;
  record.label.assign(65537, 'x');
  queue_.Lock();
  EXPECT_EQ(queue_.Push(record), 0u);
  record.label.clear();
  record.payloadLength = -1;
  EXPECT_EQ(queue_.Push(record), 0u);
  record.payloadLength = static_cast<std::int32_t>(kArea);  // larger than the area
  std::vector<std::uint8_t> big(kArea);
  record.payload = big.data();
  EXPECT_EQ(queue_.Push(record), 0u);
  queue_.Unlock();
  EXPECT_EQ(ReadHeader().count, 0u);
}

TEST_F(QueueFixture, CorruptRecordsFailThePopAndLeaveTheQueue) {
  struct Case {
    const char* what;
    std::int32_t labelLength;
    std::uint32_t write;
  } cases[] = {
      {"string longer than 65536", 65537, 70000},
      {"negative string length", -5, 100},
      {"string past the end of valid data", 200, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Push(10, 1), 33u);
    Header before = ReadHeader();
    // The label length field sits after the type and three empty strings.
    std::memcpy(Area() + before.read + 2 + 12, &c.labelLength, 4);
    Header patched = before;
    patched.write = c.write;
    std::memcpy(raw_.GetData(), &patched, sizeof patched);
    queue_.Lock();
    PackageRecord record;
    EXPECT_FALSE(queue_.Pop(record));
    queue_.Unlock();
    Header after = ReadHeader();
    EXPECT_EQ(after.count, before.count);
    EXPECT_EQ(after.read, before.read);
    // Reset for the next case.
    Header empty{0, 0, 0, kArea - 1};
    std::memcpy(raw_.GetData(), &empty, sizeof empty);
  }
  Header wild{1, kArea + 5, 0, kArea - 1};
  std::memcpy(raw_.GetData(), &wild, sizeof wild);
  queue_.Lock();
  PackageRecord record;
  EXPECT_FALSE(queue_.Pop(record));
  EXPECT_EQ(queue_.Push(record), 0u);
  queue_.Unlock();
}

TEST_F(QueueFixture, DamagedHeaderIsLeftUntouchedUntilTheOwnerResetsIt) {
  struct Case {
    const char* what;
    std::uint32_t word;  // index of the 32-bit word from the start of the mapping
    std::uint32_t value;
  } cases[] = {
      {"capacity below the queue header", 0, 8},
      {"capacity shrunk", 0, 1000},
      {"capacity grown", 0, 0xFFFFFFF0u},
      {"read offset past the area", 3, kArea + 1},
      {"write offset past the area", 4, 0x7FFFFFF0u},
      {"end mark past the area", 5, kArea + 100},
      {"count no area could hold", 2, kArea},
      {"reader above the end mark", 3, 5000},  // with W = 100 and E = 1000 below
  };
  std::vector<std::uint8_t> payload(10, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Push(10, 1), 33u);
    auto* words = reinterpret_cast<std::uint32_t*>(raw_.GetData() - 8);
    if (c.word == 3 && c.value == 5000) words[4] = 100, words[5] = 1000;
    words[c.word] = c.value;
    const std::vector<std::uint8_t> before(raw_.GetData() - 8, raw_.GetData() + kArea + 16);
    queue_.Lock();
    EXPECT_TRUE(queue_.IsDamaged());
    PackageRecord record;
    record.payload = payload.data();
    record.payloadLength = 10;
    EXPECT_EQ(queue_.Push(record), 0u);
    EXPECT_FALSE(queue_.Pop(record));
    EXPECT_EQ(queue_.GetCount(), 0u);
    queue_.Unlock();
    EXPECT_EQ(std::memcmp(before.data(), raw_.GetData() - 8, before.size()), 0) << "touched";

    const std::uint32_t resets = queue_.Resets();
    queue_.Lock();
    queue_.Reset();
    EXPECT_FALSE(queue_.IsDamaged());
    queue_.Unlock();
    EXPECT_EQ(queue_.Resets(), resets + 1);
    EXPECT_EQ(raw_.GetCapacity(), SharePackageDataQueue::kCapacity);
    Header h = ReadHeader();
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(h.end, kArea - 1);
    ASSERT_EQ(Push(10, 2), 33u);  // records flow again
    EXPECT_TRUE(PopExpect(10, 2));
  }
  EXPECT_GE(queue_.RecordsLost(), 1u);
}

TEST_F(QueueFixture, OwnerSettlesAScribbledSignal) {
  VEXO::System::Thread::Semaphore scribbler(0, 2048, false);
  ASSERT_EQ(OpenNamedSemaphore(scribbler, wire::QueueSemaphoreName(name_), false), kKernelObjectOk);
  scribbler.Handle()->Reset(0xFFFFFFF0u, 0xFFFFFFFFu);
  ASSERT_EQ(Push(10, 1), 33u);
  queue_.Lock();
  queue_.SettleSignal();
  queue_.Unlock();
  // As many wake-ups as records, and the maximum is the queue's again.
  EXPECT_EQ(queue_.GetSignal()->Count(), 1u);
  EXPECT_FALSE(queue_.GetSignal()->Release(2048));
}

// Pushes a record and dies holding the queue's mutex, as if killed between storing the write
// offset and the count.
KQCP_CHILD(DieInsidePush) {
  SharePackageDataQueue queue;
  ShareMapMemory raw;
  if (!queue.Open(args[0]) || !raw.Open(wire::QueueMapName(args[0]))) return 1;
  PackageRecord record;
  record.label = "late";
  queue.Lock();
  if (queue.Push(record) == 0) return 2;
  auto* count = reinterpret_cast<std::uint32_t*>(raw.GetData());
  *count -= 1;
  _exit(0);
}

TEST_F(QueueFixture, AWriterThatDiesInsidePushLeavesEveryWholeRecordCounted) {
  ASSERT_EQ(Push(10, 1), 33u);
  kqcp_test::ChildProcess writer("DieInsidePush", {name_});
  ASSERT_EQ(writer.Wait(), 0);
  EXPECT_EQ(ReadHeader().count, 1u);
  EXPECT_TRUE(PopExpect(10, 1));  // the lock is found abandoned and the records counted again
  queue_.Lock();
  PackageRecord late;
  EXPECT_TRUE(queue_.Pop(late));
  EXPECT_EQ(late.label, "late");
  EXPECT_EQ(queue_.GetCount(), 0u);
  queue_.Unlock();
}

// Opens the queue, takes its mutex and pushes a record of PAYLOAD bytes of 99, but makes only
// the first STORES of its header stores before it dies holding the mutex: a writer killed at
// that instant. args: queue, payload, stores.
KQCP_CHILD(DieAfterStores) {
  SharePackageDataQueue queue;
  if (!queue.Open(args[0])) return 1;
  const std::vector<std::uint8_t> payload(std::stoul(args[1]), 99);
  RecordParts parts;
  parts.label = "L";
  parts.payloadLength = static_cast<std::int32_t>(payload.size());
  parts.payload = payload.data();
  std::vector<std::uint8_t> record;
  if (!SharePackageDataQueue::Encode(parts, &record) || queue.Lock() != 0) return 2;
  if (queue.PushEncodedPartly(record.data(), static_cast<std::uint32_t>(record.size()),
                              std::stoi(args[2])) == 0) {
    return 3;
  }
  _exit(0);
}

// The payload tags of every record left in the queue, taken in order.
std::vector<int> DrainTags(SharePackageDataQueue& queue) {
  std::vector<int> tags;
  EXPECT_EQ(queue.Lock(), 0);  // finds the mutex abandoned and counts the records again
  const std::uint32_t counted = queue.GetCount();
  PackageRecord record;
  while (queue.Pop(record)) tags.push_back(record.payloadLength > 0 ? record.payload[0] : -1);
  EXPECT_EQ(counted, tags.size());
  queue.Unlock();
  return tags;
}

TEST(PackageQueue, AWriterKilledBetweenAnyTwoStoresLeavesEachRecordReadableOnce) {
  // Records before the new one: pushed (tag = fill byte) and, for negative tags, taken again.
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::int32_t>> before;  // tag, payload; tag < 0: pop one
    std::int32_t payload;                              // of the record whose writer dies
  };
  const Case cases[] = {
      {"new queue", {}, 100},
      {"emptied, shorter record", {{1, 1000}, {2, 1000}, {3, 1000}, {-1, 0}, {-1, 0}, {-1, 0}}, 50},
      {"emptied, longer record",
       {{1, 1000}, {2, 1000}, {3, 1000}, {-1, 0}, {-1, 0}, {-1, 0}},
       5000},
      {"records waiting", {{1, 1000}, {10, 1000}, {-1, 0}}, 1000},
      {"wraps to the start", {{1, 100000}, {10, 100000}, {-1, 0}}, 80000},
      {"already wrapped", {{1, 100000}, {10, 100000}, {-1, 0}, {11, 80000}}, 10000},
  };
  for (const Case& c : cases) {
    bool committed = false;
    for (int stores = 0; stores <= 6; ++stores) {
      SCOPED_TRACE(std::string(c.what) + ", dies after store " + std::to_string(stores));
      const std::string name = kqcp_test::UniqueName("killed");
      SharePackageDataQueue queue;
      ASSERT_TRUE(queue.Create(name));
      std::vector<int> waiting;
      std::vector<std::uint8_t> payload;
      for (const auto& [tag, length] : c.before) {
        ASSERT_EQ(queue.Lock(), 0);
        if (tag < 0) {
          PackageRecord taken;
          ASSERT_TRUE(queue.Pop(taken));
          waiting.erase(waiting.begin());
        } else {
          payload.assign(static_cast<std::size_t>(length), static_cast<std::uint8_t>(tag));
          PackageRecord record;
          record.label = "L";
          record.payloadLength = length;
          record.payload = payload.data();
          ASSERT_GT(queue.Push(record), 0u);
          waiting.push_back(tag);
        }
        queue.Unlock();
      }
      kqcp_test::ChildProcess writer("DieAfterStores",
                                     {name, std::to_string(c.payload), std::to_string(stores)});
      ASSERT_EQ(writer.Wait(), 0);
      std::vector<int> expected = waiting;
      const std::vector<int> found = DrainTags(queue);
      // Nothing taken before comes back, nothing waiting is lost; the new record is there once
      // its commit was stored, and stays there for every later instant.
      if (found.size() == expected.size() + 1) committed = true;
      if (committed || stores == 6) expected.push_back(99);
      EXPECT_EQ(found, expected);
      // And the queue goes on as before.
      ASSERT_EQ(queue.Lock(), 0);
      PackageRecord next;
      next.label = "L";
      EXPECT_GT(queue.Push(next), 0u);
      queue.Unlock();
    }
    EXPECT_TRUE(committed) << c.what;
  }
}

KQCP_CHILD(DeliverRecords) {
  const int count = std::stoi(args[1]);
  for (int i = 0; i < count; ++i) {
    SharePackageDataQueue queue;
    if (!queue.Open(args[0])) return 1;
    PackageRecord record;
    record.sender = "child";
    record.label = "Message.";
    const std::int32_t value = i;
    record.payloadLength = 4;
    record.payload = reinterpret_cast<const std::uint8_t*>(&value);
    queue.Lock();
    std::uint32_t written = queue.Push(record);
    queue.Unlock();
    queue.Close();
    if (written != 39) return 2;
  }
  return 0;
}

TEST_F(QueueFixture, RecordsDeliveredByAnotherProcessWakeTheOwnerInOrder) {
  kqcp_test::ChildProcess writer("DeliverRecords", {name_, "50"});
  for (std::int32_t i = 0; i < 50; ++i) {
    ASSERT_TRUE(queue_.GetSignal()->Wait(10000)) << i;
    queue_.Lock();
    PackageRecord record;
    ASSERT_TRUE(queue_.Pop(record));
    std::int32_t value = -1;
    std::memcpy(&value, record.payload, 4);
    EXPECT_EQ(value, i);
    EXPECT_EQ(record.sender, "child");
    queue_.Unlock();
  }
  EXPECT_EQ(writer.Wait(), 0);
}

TEST(PackageQueue, CreateAndOpenFollowTheOwner) {
  const std::string name = kqcp_test::UniqueName("owner");
  SharePackageDataQueue writer;
  EXPECT_FALSE(writer.Open(name));
  {
    SharePackageDataQueue owner, rival;
    ASSERT_TRUE(owner.Create(name));
    EXPECT_TRUE(owner.IsCreator());
    EXPECT_FALSE(rival.Create(name));
    ASSERT_TRUE(writer.Open(name));
    EXPECT_FALSE(writer.IsCreator());
    writer.Close();
  }
  SharePackageDataQueue late;
  EXPECT_FALSE(late.Open(name));
}

}  // namespace
}  // namespace Vantor::KQCP
