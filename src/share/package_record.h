// One record of a package data queue in memory. The payload is not owned: when pushing it is
// the sender's buffer; after a pop it points into the shared queue and is valid only while the
// queue's mutex is held.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Vantor::KQCP {

// A record's parts as views, for laying one out without copying its strings first. The label
// may come in two pieces ("Operation." and the name), stored as one string.
struct RecordParts {
  std::string_view target, sender, session, label, labelTail;
  std::int32_t payloadLength = 0;
  const std::uint8_t* payload = nullptr;

  // As PackageRecord::StoredLength.
  std::uint32_t StoredLength() const;
};

struct PackageRecord {
  static constexpr std::uint16_t kType = 10;
  // Type, four string lengths and the payload length.
  static constexpr std::uint32_t kFixedBytes = 22;
  static constexpr std::uint32_t kMaxStringLength = 65536;

  std::uint16_t type = kType;
  std::string target;   // own name of the receiving client; empty for the service
  std::string sender;   // own name of the sending process; empty for the service
  std::string session;  // share session name
  std::string label;    // "Message." or "Operation." + operation name
  std::int32_t payloadLength = 0;
  const std::uint8_t* payload = nullptr;

  // Bytes the record takes in the queue; 0 when it cannot be stored (a string longer than
  // kMaxStringLength, a negative payload length, or a total past 32 bits).
  std::uint32_t StoredLength() const { return Parts().StoredLength(); }
  RecordParts Parts() const { return {target, sender, session, label, {}, payloadLength, payload}; }
};

}  // namespace Vantor::KQCP
