// XML: building a DOM through the library's parser against raw Expat with empty handlers, and
// the compact writer against memcpy of the same number of bytes. Both sides read the same
// generated ~20 MB document of small elements, fed in 4096-byte blocks.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "xml/dom_node.h"
#include "xml/dom_parser.h"

namespace {

using VEXO::XML::DOMNode;
using VEXO::XML::DOMParser;

constexpr std::size_t kBlock = 4096;

const std::string& Document() {
  static const std::string document = [] {
    std::string text = "<?xml version='1.0' encoding='UTF-8'?>\n<catalog version='3'>\n";
    text.reserve(21u << 20);
    for (int group = 0; text.size() < (20u << 20); ++group) {
      text += "  <group name='g" + std::to_string(group) + "'>\n";
      for (int item = 0; item < 20; ++item) {
        const std::string id = std::to_string(group * 20 + item);
        text += "    <item id='" + id + "' kind='book' price='" + std::to_string(item % 50) +
                ".50'>Title " + id + " &amp; more</item>\n";
      }
      text += "  </group>\n";
    }
    text += "</catalog>\n";
    return text;
  }();
  return document;
}

template <class Feed>
bool FeedInBlocks(const std::string& document, Feed&& feed) {
  for (std::size_t at = 0; at < document.size(); at += kBlock) {
    const std::size_t size = std::min(kBlock, document.size() - at);
    if (!feed(document.data() + at, static_cast<int>(size))) return false;
  }
  return true;
}

std::unique_ptr<DOMNode> BuildTree(const std::string& document) {
  auto top = std::make_unique<DOMNode>();
  DOMParser parser;
  parser.CreateParser();
  parser.SetTopNode(top.get());
  const bool ok = FeedInBlocks(
      document, [&](const char* bytes, int size) { return parser.Parse(bytes, size, false); });
  return ok ? std::move(top) : nullptr;
}

std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void DomBuild_kqcp(benchmark::State& state) {
  const std::string& document = Document();
  double memoryRatio = 0;
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    std::unique_ptr<DOMNode> top = BuildTree(document);
    if (!top) {
      state.SkipWithError("parse failed");
      return;
    }
    state.PauseTiming();
    // The heap the tree took plus its arena, whose large blocks are mapped apart from the heap.
    memoryRatio = static_cast<double>(HeapInUse() - before + top->ArenaBytesReserved()) /
                  static_cast<double>(document.size());
    top.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
  state.counters["memory_per_document_byte"] = memoryRatio;
}
BENCHMARK(DomBuild_kqcp)->Name("dom_build/kqcp")->Unit(benchmark::kMillisecond)->UseRealTime();

void XMLCALL IgnoreStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL IgnoreEnd(void*, const XML_Char*) {}
void XMLCALL IgnoreText(void*, const XML_Char*, int) {}

void DomBuild_baseline(benchmark::State& state) {
  const std::string& document = Document();
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, &IgnoreStart, &IgnoreEnd);
    XML_SetCharacterDataHandler(parser, &IgnoreText);
    const bool ok = FeedInBlocks(document, [&](const char* bytes, int size) {
      return XML_Parse(parser, bytes, size, XML_FALSE) == XML_STATUS_OK;
    });
    XML_ParserFree(parser);
    if (!ok) {
      state.SkipWithError("parse failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Document().size()));
}
BENCHMARK(DomBuild_baseline)
    ->Name("dom_build/baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

struct WriterInput {
  std::unique_ptr<DOMNode> top;
  std::vector<char> buffer;
  int length = 0;
};

WriterInput& Written() {
  static WriterInput input = [] {
    WriterInput made;
    made.top = BuildTree(Document());
    made.buffer.resize(Document().size() * 2);
    made.length =
        made.top->Serialize(made.buffer.data(), static_cast<int>(made.buffer.size()), nullptr);
    return made;
  }();
  return input;
}

void Writer_kqcp(benchmark::State& state) {
  WriterInput& input = Written();
  for (auto _ : state) {
    const int length =
        input.top->Serialize(input.buffer.data(), static_cast<int>(input.buffer.size()), nullptr);
    benchmark::DoNotOptimize(length);
    if (length != input.length) state.SkipWithError("writer output changed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.length));
}
BENCHMARK(Writer_kqcp)->Name("writer/kqcp")->Unit(benchmark::kMillisecond)->UseRealTime();

void Writer_baseline(benchmark::State& state) {
  WriterInput& input = Written();
  std::vector<char> source(input.buffer.begin(), input.buffer.begin() + input.length);
  for (auto _ : state) {
    std::memcpy(input.buffer.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.length));
}
BENCHMARK(Writer_baseline)->Name("writer/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
