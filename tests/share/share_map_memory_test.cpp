// Shared mappings: header, bounds, and the lifetime of a name across real processes.
#include "share/share_map_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::ChildProcess;
using kqcp_test::Signal;

// Creates the mapping named args[0], writes "hello", reports and waits to be killed or told.
KQCP_CHILD(CreateMapAndHold) {
  ShareMapMemory map;
  if (!map.Create(args[0], 64) || !map.Append("hello", 5)) return 1;
  Signal::Send(args[1], "ready");
  if (args.size() > 2 && args[2] == "exit") return 0;
  for (;;) pause();
}

TEST(ShareMapMemory, HeaderAppendAndBounds) {
  const std::string name = kqcp_test::UniqueName("map");
  ShareMapMemory map;
  EXPECT_EQ(map.GetCapacity(), ShareMapMemory::kNotOpen);
  EXPECT_EQ(map.GetData(), nullptr);
  ASSERT_TRUE(map.Create(name, 10));
  EXPECT_FALSE(map.Create(name, 10));  // already open
  EXPECT_EQ(map.GetCapacity(), 10u);
  EXPECT_EQ(map.GetUsedSize(), 0u);
  EXPECT_TRUE(map.Append("123456", 6));
  EXPECT_FALSE(map.Append("12345", 5));
  EXPECT_TRUE(map.Append("1234", 4));  // exactly what is left
  EXPECT_EQ(map.GetUsedSize(), 10u);
  EXPECT_TRUE(map.SetUsedSize(10));
  EXPECT_FALSE(map.SetUsedSize(11));

  ShareMapMemory empty;
  const std::string zero = kqcp_test::UniqueName("zero");
  ASSERT_TRUE(empty.Create(zero, 0));
  EXPECT_FALSE(empty.Append("x", 1));
  EXPECT_TRUE(empty.Append("", 0));
}

TEST(ShareMapMemory, CorruptHeaderIsBoundedByTheRealMapping) {
  const std::string name = kqcp_test::UniqueName("corrupt");
  ShareMapMemory owner, reader;
  ASSERT_TRUE(owner.Create(name, 16));
  const std::uint32_t huge[2] = {0xFFFFFF00u, 0xFFFFFFF0u};
  std::memcpy(owner.GetData() - 8, huge, sizeof huge);
  ASSERT_TRUE(reader.Open(name));
  EXPECT_EQ(reader.GetCapacity(), 16u);
  EXPECT_EQ(reader.GetUsedSize(), 16u);
  EXPECT_FALSE(reader.Append("x", 1));
}

TEST(ShareMapMemory, NameLivesExactlyWhileItsCreatorDoes) {
  for (const char* how : {"exit", "kill"}) {
    SCOPED_TRACE(how);
    const std::string name = kqcp_test::UniqueName("life");
    Signal ready;
    ChildProcess creator("CreateMapAndHold", {name, ready.WriteFdArg(), how});
    ASSERT_EQ(ready.ReadLine(), "ready");

    ShareMapMemory opener;
    if (std::string(how) == "kill") {
      ASSERT_TRUE(opener.Open(name));
      EXPECT_EQ(opener.IsCreator(), false);
      EXPECT_EQ(std::memcmp(opener.GetData(), "hello", 5), 0);
      ShareMapMemory rival;
      EXPECT_FALSE(rival.Create(name, 64));  // taken by a live process
      opener.Close();
      creator.Kill();
    } else {
      EXPECT_EQ(creator.Wait(), 0);
    }
    ShareMapMemory late;
    EXPECT_FALSE(late.Open(name));
    ShareMapMemory fresh;
    ASSERT_TRUE(fresh.Create(name, 32));
    EXPECT_EQ(fresh.GetCapacity(), 32u);
    EXPECT_EQ(fresh.GetUsedSize(), 0u);
  }
}

TEST(ShareMapMemory, OpenerKeepsTheNameAliveAfterTheCreatorCloses) {
  const std::string name = kqcp_test::UniqueName("keep");
  ShareMapMemory creator, opener;
  ASSERT_TRUE(creator.Create(name, 8));
  ASSERT_TRUE(opener.Open(name));
  creator.Close();
  ShareMapMemory second;
  EXPECT_TRUE(second.Open(name));
  EXPECT_FALSE(ShareMapMemory().Create(name, 8));
  opener.Close();
  second.Close();
  EXPECT_FALSE(ShareMapMemory().Open(name));
}

}  // namespace
}  // namespace Vantor::KQCP

namespace Vantor::KQCP {
namespace {

TEST(ShareMapMemory, MappingWithoutHoldingTheNameNeverKeepsItAlive) {
  const std::string name = kqcp_test::UniqueName("unheld");
  auto owner = std::make_unique<ShareMapMemory>();
  ASSERT_TRUE(owner->Create(name, 16));
  ShareMapMemory sender;
  ASSERT_TRUE(sender.Open(name, false));
  EXPECT_TRUE(sender.IsAlive());
  owner.reset();
  EXPECT_FALSE(sender.IsAlive());
  // The restarted owner makes the name afresh, and the old mapping is told apart from it.
  ShareMapMemory restarted;
  ASSERT_TRUE(restarted.Create(name, 16));
  EXPECT_FALSE(sender.IsAlive());
  ShareMapMemory fresh;
  ASSERT_TRUE(fresh.Open(name, false));
  EXPECT_TRUE(fresh.IsAlive());
}

TEST(ShareMapMemory, StaleObjectOfAKilledOwnerIsToldApartFromItsSuccessor) {
  const std::string name = kqcp_test::UniqueName("stale");
  Signal ready;
  ChildProcess creator("CreateMapAndHold", {name, ready.WriteFdArg()});
  ASSERT_EQ(ready.ReadLine(), "ready");
  ShareMapMemory sender;
  ASSERT_TRUE(sender.Open(name, false));
  creator.Kill();
  EXPECT_FALSE(sender.IsAlive());
  ShareMapMemory successor;
  ASSERT_TRUE(successor.Create(name, 64));
  EXPECT_FALSE(sender.IsAlive());
}

}  // namespace
}  // namespace Vantor::KQCP
