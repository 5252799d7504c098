// The bridge's frames on NATS: little-endian integers and length-prefixed byte strings, read
// back with every length checked against what arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kqcp_bridge {

// Frame types; the first byte of every frame.
enum class Frame : std::uint8_t {
  kBeat = 1,         // export → all: epoch, session names
  kData = 2,         // export → all: epoch, session, version, bytes
  kBye = 3,          // export → all: epoch; the export incarnation ends
  kOpen = 4,         // import → export: client name, import epoch
  kOpenResult = 5,   // export or agent → import: client name, ok, reason
  kDown = 6,         // import → agent: an operation of a local client
  kUpOperation = 7,  // agent → import: an operation for a local client
  kUpMessage = 8,    // agent → import: a message for a local client
  kReady = 9,        // agent → export: client name, import epoch, ok, reason
  kClosed = 10,      // agent → export: client name, import epoch
  kImportBeat = 11,  // import → agents: import epoch
  kResend = 12,      // import → export: send every session's data again
};

// An operation as it crosses: what the service or the client set, and the bridge's token that
// pairs a request with its reply (0: nothing to pair).
struct WireOperation {
  std::uint64_t token = 0;
  std::int32_t kind = 0;
  std::int32_t id = 0;
  std::string client;  // the local client's own name on the import side
  std::string session;
  std::string name;
  bool hasBuffer = false;
  std::vector<std::uint8_t> data;
};

class Writer {
 public:
  explicit Writer(Frame frame) { U8(static_cast<std::uint8_t>(frame)); }
  Writer& U8(std::uint8_t value);
  Writer& U32(std::uint32_t value);
  Writer& U64(std::uint64_t value);
  Writer& Bytes(const void* data, std::size_t size);
  Writer& Text(const std::string& text) { return Bytes(text.data(), text.size()); }
  const std::string& Out() const { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  Reader(const void* data, std::size_t size)
      : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
  // The frame type, or 0 for an empty frame.
  std::uint8_t Type();
  bool U8(std::uint8_t* value);
  bool U32(std::uint32_t* value);
  bool U64(std::uint64_t* value);
  bool Text(std::string* text);
  bool Bytes(std::vector<std::uint8_t>* bytes);
  bool AtEnd() const { return at_ == size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string EncodeOperation(Frame frame, const WireOperation& operation);
// False for a frame that does not hold a whole operation.
bool DecodeOperation(Reader* reader, WireOperation* operation);

}  // namespace kqcp_bridge
