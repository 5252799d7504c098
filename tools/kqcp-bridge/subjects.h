// The NATS subjects of one platform: <prefix>.<platform token>.<what>. A platform name that
// holds bytes a subject cannot carry is written in hexadecimal.
#pragma once

#include <cstdint>
#include <string>

namespace kqcp_bridge {

std::string Hex(const std::string& bytes);
std::string Hex64(std::uint64_t value);

class Subjects {
 public:
  Subjects(const std::string& prefix, const std::string& platform);
  std::string Beat() const { return base_ + ".beat"; }
  std::string Data() const { return base_ + ".data"; }
  std::string Resend() const { return base_ + ".resend"; }
  std::string Open() const { return base_ + ".open"; }
  std::string Agents() const { return base_ + ".agents"; }  // ready and closed notices
  std::string Stats() const { return base_ + ".stats"; }
  // Operations for the agent of one remote client.
  std::string ToClient(const std::string& client) const { return base_ + ".c." + Hex(client); }
  // What the agents and the export send to one import incarnation.
  std::string ToImport(std::uint64_t epoch) const { return base_ + ".i." + Hex64(epoch); }
  std::string ImportBeat(std::uint64_t epoch) const { return base_ + ".ib." + Hex64(epoch); }
  std::string ImportBeats() const { return base_ + ".ib.*"; }

 private:
  std::string base_;
};

}  // namespace kqcp_bridge
