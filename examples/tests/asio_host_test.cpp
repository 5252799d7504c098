// The example host's Asio service under the platform's frame: 1 MiB echoed over loopback TCP
// from a worker thread, a timer, and a Lua chunk.
#include <gtest/gtest.h>

#include <thread>

#include "asyn/asyn_frame.h"
#include "example_host.h"
#include "frame_client.h"
#include "lua_engine.h"

namespace example {
namespace {

TEST(AsioHost, EchoesOneMebibyteThroughTheFrameFromAWorkerThread) {
  Ref<ExampleHost> host(new ExampleHost(), false);
  Ref<IAsynIoHost> io;
  ASSERT_EQ(host->QueryHostInterface(IID_IAsynIoHost, io.PutVoid()), S_OK);
  auto* frame = AsynFrameHolder::Instance();
  ASSERT_EQ(frame->Attach(io.Get()), S_OK);
  EchoServer echo(host->Io().Context());
  std::vector<char> data(1 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
  std::string report;
  bool ok = false;
  std::thread worker([&] { ok = EchoThroughFrame(frame, "127.0.0.1", echo.Port(), data, report); });
  worker.join();
  EXPECT_TRUE(ok) << report;
  std::string timer;
  EXPECT_TRUE(WaitForTimer(frame, 20, timer)) << timer;
}

TEST(LuaEngine, RunsChunksAndReportsErrors) {
  Ref<LuaEngine> engine(new LuaEngine([](const std::string& name) { return name + "!"; }), false);
  const char* good = "x = kqcp_lookup('hi'); assert(x == 'hi!')";
  EXPECT_EQ(engine->Op1(reinterpret_cast<LuaValue>(good)), S_OK);
  const char* bad = "error('boom')";
  EXPECT_EQ(engine->Op1(reinterpret_cast<LuaValue>(bad)), E_FAIL);
  EXPECT_NE(engine->LastError().find("boom"), std::string::npos);
  EXPECT_EQ(engine->Op1(0), E_POINTER);
}

}  // namespace
}  // namespace example
