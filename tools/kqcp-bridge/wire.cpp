// Frame encoding; decoding never reads past what arrived.
#include "wire.h"

#include <cstring>

namespace kqcp_bridge {

Writer& Writer::U8(std::uint8_t value) {
  out_.push_back(static_cast<char>(value));
  return *this;
}

Writer& Writer::U32(std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return *this;
}

Writer& Writer::U64(std::uint64_t value) {
  U32(static_cast<std::uint32_t>(value));
  return U32(static_cast<std::uint32_t>(value >> 32));
}

Writer& Writer::Bytes(const void* data, std::size_t size) {
  U32(static_cast<std::uint32_t>(size));
  out_.append(static_cast<const char*>(data), size);
  return *this;
}

std::uint8_t Reader::Type() {
  std::uint8_t type = 0;
  return U8(&type) ? type : 0;
}

bool Reader::U8(std::uint8_t* value) {
  if (size_ - at_ < 1) return false;
  *value = data_[at_++];
  return true;
}

bool Reader::U32(std::uint32_t* value) {
  if (size_ - at_ < 4) return false;
  *value = 0;
  for (int i = 0; i < 4; ++i) *value |= static_cast<std::uint32_t>(data_[at_ + i]) << (8 * i);
  at_ += 4;
  return true;
}

bool Reader::U64(std::uint64_t* value) {
  std::uint32_t low = 0, high = 0;
  if (!U32(&low) || !U32(&high)) return false;
  *value = (static_cast<std::uint64_t>(high) << 32) | low;
  return true;
}

bool Reader::Text(std::string* text) {
  std::uint32_t size = 0;
  if (!U32(&size) || size_ - at_ < size) return false;
  text->assign(reinterpret_cast<const char*>(data_ + at_), size);
  at_ += size;
  return true;
}

bool Reader::Bytes(std::vector<std::uint8_t>* bytes) {
  std::uint32_t size = 0;
  if (!U32(&size) || size_ - at_ < size) return false;
  bytes->assign(data_ + at_, data_ + at_ + size);
  at_ += size;
  return true;
}

std::string EncodeOperation(Frame frame, const WireOperation& operation) {
  Writer writer(frame);
  writer.U64(operation.token)
      .U32(static_cast<std::uint32_t>(operation.kind))
      .U32(static_cast<std::uint32_t>(operation.id))
      .Text(operation.client)
      .Text(operation.session)
      .Text(operation.name)
      .U8(operation.hasBuffer ? 1 : 0)
      .Bytes(operation.data.data(), operation.data.size());
  return writer.Out();
}

bool DecodeOperation(Reader* reader, WireOperation* operation) {
  std::uint32_t kind = 0, id = 0;
  std::uint8_t hasBuffer = 0;
  if (!reader->U64(&operation->token) || !reader->U32(&kind) || !reader->U32(&id) ||
      !reader->Text(&operation->client) || !reader->Text(&operation->session) ||
      !reader->Text(&operation->name) || !reader->U8(&hasBuffer) ||
      !reader->Bytes(&operation->data) || !reader->AtEnd()) {
    return false;
  }
  operation->kind = static_cast<std::int32_t>(kind);
  operation->id = static_cast<std::int32_t>(id);
  operation->hasBuffer = hasBuffer != 0;
  return true;
}

}  // namespace kqcp_bridge
