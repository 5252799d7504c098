// XML: building a DOM through the library's parser against raw Expat with empty handlers, and
// the compact writer against memcpy of the same number of bytes. Both sides read the same
// generated ~20 MB document of small elements, fed in 4096-byte blocks. Then hostile shapes,
// each beside the same work in its easy form: 40,000 attributes in descending against
// ascending name order, a 4 MiB attribute in 1 KiB pieces against one piece, and the peak
// memory of 1,000,000 nested elements against Expat alone.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "xml/dom_node.h"
#include "xml/dom_parser.h"
#include "xml/xml_package_parser.h"

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

// ---- hostile shapes ----

constexpr int kAttributes = 40000;

// One element with kAttributes attributes named a00000 upward, in the order asked for.
std::string ManyAttributes(bool descending) {
  std::string text = "<r><e";
  char name[32];
  for (int i = 0; i < kAttributes; ++i) {
    std::snprintf(name, sizeof name, " a%05d='1'", descending ? kAttributes - 1 - i : i);
    text += name;
  }
  return text + "/></r>";
}

void ParseAttributes(benchmark::State& state, bool descending) {
  const std::string document = ManyAttributes(descending);
  for (auto _ : state) {
    std::unique_ptr<DOMNode> top = BuildTree(document);
    if (!top || top->ChildCount() != 1 || top->Children()[0]->Attributes().size() != kAttributes) {
      state.SkipWithError("parse failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}
void Attributes_kqcp(benchmark::State& state) { ParseAttributes(state, true); }
void Attributes_baseline(benchmark::State& state) { ParseAttributes(state, false); }
BENCHMARK(Attributes_kqcp)
    ->Name("attributes_descending/kqcp")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Attributes_baseline)
    ->Name("attributes_descending/baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A package whose one attribute holds 4 MiB, fed to the package parser in pieces of the size
// given (0: all at once), asking after each piece whether it is complete, as a receiver does.
void ParseLongToken(benchmark::State& state, std::size_t piece) {
  using namespace Vantor::KQCP;
  static const std::string package = "<m a='" + std::string(4u << 20, 'v') + "'/>\r\n\r\n";
  if (piece == 0) piece = package.size();
  for (auto _ : state) {
    auto parser = com::ComPtr<IXMLPackageParser>::Adopt(com::MakeObject<XMLPackageParser>());
    bool ok = true;
    std::int32_t complete = 0;
    for (std::size_t at = 0; ok && at < package.size(); at += piece) {
      const std::size_t size = std::min(piece, package.size() - at);
      ok = parser->Parse(package.data() + at, static_cast<std::int32_t>(size)) == S_OK;
      parser->IsComplete(&complete);
    }
    if (!ok || complete != 1) {
      state.SkipWithError("parse failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package.size()));
}
void LongToken_kqcp(benchmark::State& state) { ParseLongToken(state, 1024); }
void LongToken_baseline(benchmark::State& state) { ParseLongToken(state, 0); }
BENCHMARK(LongToken_kqcp)
    ->Name("long_token_1k_pieces/kqcp")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(LongToken_baseline)
    ->Name("long_token_1k_pieces/baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

constexpr int kDepth = 1000000;

// kDepth nested elements "<a>", closed again when asked.
const std::string& DeepDocument(bool closed) {
  static const std::string open = [] {
    std::string text;
    for (int i = 0; i < kDepth; ++i) text += "<a>";
    return text;
  }();
  static const std::string whole = [] {
    std::string text = open;
    for (int i = 0; i < kDepth; ++i) text += "</a>";
    return text;
  }();
  return closed ? whole : open;
}

long StatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length + 1);
  }
  return -1;
}

// Peak resident memory that run adds, in bytes, measured in a child process so that nothing
// else of this program counts.
template <class Run>
double PeakBytesOf(Run&& run) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const long before = StatusKilobytes("VmRSS:");
    run();
    const long peak = StatusKilobytes("VmHWM:");
    const double added = static_cast<double>(peak - before) * 1024.0;
    const ssize_t written = write(pipe_ends[1], &added, sizeof added);
    _exit(written == sizeof added ? 0 : 1);
  }
  close(pipe_ends[1]);
  double added = -1;
  if (child < 0 || read(pipe_ends[0], &added, sizeof added) != sizeof added) added = -1;
  close(pipe_ends[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return added;
}

bool ExpatAlone(const std::string& document) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetElementHandler(parser, &IgnoreStart, &IgnoreEnd);
  const bool ok = FeedInBlocks(document, [&](const char* bytes, int size) {
    return XML_Parse(parser, bytes, size, XML_FALSE) == XML_STATUS_OK;
  });
  XML_ParserFree(parser);
  return ok;
}

void DeepTree(benchmark::State& state, bool closed, bool library) {
  const std::string& document = DeepDocument(closed);
  double perByte = 0;
  for (auto _ : state) {
    const double peak = PeakBytesOf([&] {
      if (library) {
        std::unique_ptr<DOMNode> top = BuildTree(document);
      } else {
        ExpatAlone(document);
      }
    });
    perByte = peak / static_cast<double>(document.size());
  }
  state.counters["peak_bytes_per_input_byte"] = perByte;
  if (library) {
    state.counters["expat_alone"] =
        PeakBytesOf([&] { ExpatAlone(document); }) / static_cast<double>(document.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}
void DeepOpen_kqcp(benchmark::State& state) { DeepTree(state, false, true); }
void DeepOpen_baseline(benchmark::State& state) { DeepTree(state, false, false); }
void DeepClosed_kqcp(benchmark::State& state) { DeepTree(state, true, true); }
void DeepClosed_baseline(benchmark::State& state) { DeepTree(state, true, false); }
BENCHMARK(DeepOpen_kqcp)
    ->Name("deep_open_tags/kqcp")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(DeepOpen_baseline)
    ->Name("deep_open_tags/baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(DeepClosed_kqcp)
    ->Name("deep_nested/kqcp")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(DeepClosed_baseline)
    ->Name("deep_nested/baseline")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
