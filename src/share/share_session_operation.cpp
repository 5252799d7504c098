// Session operation accessors; each takes the operation's lock.
#include "share/share_session_operation.h"

#include <cstring>
#include <new>

#include "share/name_copy.h"
#include "share/package_record.h"
#include "share/share_message.h"
#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

HRESULT ShareSessionOperation::SetId(std::int32_t id) {
  ScopedLock guard(lock_);
  id_ = id;
  return S_OK;
}

HRESULT ShareSessionOperation::GetId(std::int32_t* id) {
  if (!id) return E_POINTER;
  ScopedLock guard(lock_);
  *id = id_;
  return S_OK;
}

HRESULT ShareSessionOperation::SetKind(std::int32_t kind) {
  ScopedLock guard(lock_);
  kind_ = kind;
  return S_OK;
}

HRESULT ShareSessionOperation::GetKind(std::int32_t* kind) {
  if (!kind) return E_POINTER;
  ScopedLock guard(lock_);
  *kind = kind_;
  return S_OK;
}

HRESULT ShareSessionOperation::SetName(const char* name) {
  if (!name) return E_FAIL;
  ScopedLock guard(lock_);
  name_ = name;
  return S_OK;
}

HRESULT ShareSessionOperation::SetSession(const char* session) {
  if (!session) return E_FAIL;
  ScopedLock guard(lock_);
  session_ = session;
  return S_OK;
}

HRESULT ShareSessionOperation::SetTarget(const char* target) {
  ScopedLock guard(lock_);
  target_ = target ? target : "";
  return S_OK;
}

HRESULT ShareSessionOperation::SetSender(const char* sender) {
  ScopedLock guard(lock_);
  sender_ = sender ? sender : "";
  return S_OK;
}

HRESULT ShareSessionOperation::Copy(const std::string& text, char* buffer,
                                    std::uint32_t length) const {
  ScopedLock guard(lock_);
  return CopyName(text, buffer, length) ? S_OK : E_FAIL;
}

HRESULT ShareSessionOperation::GetName(char* buffer, std::uint32_t length) {
  return Copy(name_, buffer, length);
}
HRESULT ShareSessionOperation::GetSession(char* buffer, std::uint32_t length) {
  return Copy(session_, buffer, length);
}
HRESULT ShareSessionOperation::GetTarget(char* buffer, std::uint32_t length) {
  return Copy(target_, buffer, length);
}
HRESULT ShareSessionOperation::GetSender(char* buffer, std::uint32_t length) {
  return Copy(sender_, buffer, length);
}

std::unique_ptr<std::uint8_t[]> ShareSessionOperation::NewBlock(std::int32_t length) {
  return std::unique_ptr<std::uint8_t[]>(
      new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length) + kHeaderBytes]);
}

bool ShareSessionOperation::Allocate(std::int32_t length) {
  auto block = NewBlock(length);
  if (!block) return false;
  ScopedLock guard(lock_);
  allocation_ = std::move(block);
  dataSize_ = length;
  return true;
}

HRESULT ShareSessionOperation::AllocBuffer(std::int32_t length) {
  if (length <= 0 || length > kMaxBuffer) return E_FAIL;
  return Allocate(length) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShareSessionOperation::GetBuffer(std::uint8_t** data, std::int32_t* size) {
  ScopedLock guard(lock_);
  if (!allocation_) return E_FAIL;
  if (data) *data = allocation_.get() + kHeaderBytes;
  if (size) *size = dataSize_;
  return S_OK;
}

bool ShareSessionOperation::LoadRecord(const PackageRecord& record, std::size_t nameAt) {
  // The payload is kind, id and data; one of 8 bytes or fewer gives an empty buffer.
  const std::int32_t length = record.payloadLength;
  if (length < 0) return false;
  const std::int32_t dataLength =
      length > static_cast<std::int32_t>(kHeaderBytes) ? length - kHeaderBytes : 0;
  auto block = NewBlock(dataLength);
  if (!block) return false;
  std::memset(block.get(), 0, kHeaderBytes);
  if (length > 0) std::memcpy(block.get(), record.payload, static_cast<std::size_t>(length));
  ScopedLock guard(lock_);
  allocation_ = std::move(block);
  dataSize_ = dataLength;
  std::memcpy(&kind_, allocation_.get(), 4);
  std::memcpy(&id_, allocation_.get() + 4, 4);
  target_ = record.target.c_str();
  session_ = record.session.c_str();
  sender_ = record.sender.c_str();
  name_ = record.label.c_str() + nameAt;
  return true;
}

std::string ShareSessionOperation::Sender() const {
  ScopedLock guard(lock_);
  return sender_;
}

void ShareSessionOperation::Address(std::int32_t kind, std::int32_t id, const std::string& session,
                                    const std::string& target, const std::string& sender) {
  ScopedLock guard(lock_);
  kind_ = kind;
  id_ = id;
  // As the setters take them: up to a zero byte.
  session_ = session.c_str();
  target_ = target.c_str();
  sender_ = sender.c_str();
}

bool ShareSessionOperation::Encode(const std::string& senderName, std::uint32_t limit,
                                   Posting* posting) {
  ScopedLock guard(lock_);
  posting->target = target_;
  posting->route = route_;
  std::uint8_t* block = allocation_ ? allocation_.get() : emptyHeader_;
  std::memcpy(block, &kind_, 4);
  std::memcpy(block + 4, &id_, 4);
  const RecordParts record{target_,  senderName,
                           session_, kShareOperationLabel,
                           name_,    dataSize_ + static_cast<std::int32_t>(kHeaderBytes),
                           block};
  const std::uint32_t length = record.StoredLength();
  return length != 0 && length <= limit && SharePackageDataQueue::Encode(record, &posting->record);
}

void ShareSessionOperation::SetRoute(std::shared_ptr<SharePackageDataQueue> route) {
  ScopedLock guard(lock_);
  route_ = std::move(route);
}

std::shared_ptr<SharePackageDataQueue> ShareSessionOperation::Route() const {
  ScopedLock guard(lock_);
  return route_;
}

}  // namespace Vantor::KQCP
