/// @file
/// Share sessions between processes of one platform name: the manager, the service and client
/// (proxy) sides of a session, operations, and the listener contracts.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

inline constexpr GUID IID_IShareSessionManager = {
    0x8AFB40A5, 0xEAE6, 0x48E9, {0xAA, 0x16, 0x22, 0xBE, 0x8A, 0x85, 0x78, 0xE9}};
inline constexpr GUID IID_IShareSessionProxy = {
    0x105E6628, 0x121F, 0x4906, {0xA2, 0x58, 0x1D, 0x6B, 0xA9, 0x2F, 0xF8, 0xDD}};
inline constexpr GUID IID_IShareSessionService = {
    0x15414326, 0xC9AD, 0x4743, {0x92, 0xFA, 0x7E, 0x09, 0x1B, 0x01, 0x88, 0x3B}};
inline constexpr GUID IID_IShareSessionOperation = {
    0x9CC574B7, 0x095E, 0x4BDB, {0x96, 0xBF, 0x4B, 0xCD, 0x89, 0x4D, 0xC4, 0x5C}};
/// The sessions never query listeners; these are assigned by this build for implementers.
inline constexpr GUID IID_IShareSessionMessageEvents = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x10}};
inline constexpr GUID IID_IShareSessionOperationEvents = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x11}};
/// Assigned by this build: further interfaces of the manager, reached with QueryInterface.
inline constexpr GUID IID_IShareNamespace = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x12}};
inline constexpr GUID IID_IShareStatistics = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x13}};

/// Posting never accepts what it cannot keep. What a process holds for one receiver (posted and
/// not yet written into the receiver's queue) is bounded in records and bytes; a post past either
/// bound is refused at once with KQCP_E_SHARE_BACKLOG_FULL, and nothing is sent. A broadcast is
/// bounded as one receiver of its own while it waits; a copy for a receiver over its bound is
/// dropped and counted (ShareStatistics::droppedBacklog).
inline constexpr std::uint32_t kShareBacklogRecords = 4096;
inline constexpr std::uint32_t kShareBacklogBytes = 8u << 20;
/// An accepted record whose receiver's queue stays full (or its mutex held) this long is dropped
/// and counted; one whose receiver is gone, or is a later process of the same name, is dropped
/// at once. A record only ever goes to the process it was addressed to.
inline constexpr std::uint32_t kShareRetryLimitMs = 10000;
/// The receiver's backlog is at its bound: try again later.
inline constexpr HRESULT KQCP_E_SHARE_BACKLOG_FULL = static_cast<HRESULT>(0x800700AAu);
/// The operation's record could never fit a receive queue (262128 bytes for the record:
/// routing strings, name and data).
inline constexpr HRESULT KQCP_E_SHARE_TOO_LARGE = static_cast<HRESULT>(0x8007006Fu);

/// Modes given to IShareSessionManager::Start.
enum ShareSessionMode : std::int32_t {
  kShareModeClient = 0,
  kShareModeService = 1,
  kShareModeInactive = 2,
};

/// Operation kinds.
enum ShareOperationKind : std::int32_t {
  kShareOperationRequest = 0,
  kShareOperationReply = 1,
};

struct IShareSessionOperation : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionOperation;
  virtual HRESULT SetId(std::int32_t id) = 0;
  virtual HRESULT GetId(std::int32_t* id) = 0;
  virtual HRESULT SetKind(std::int32_t kind) = 0;
  virtual HRESULT GetKind(std::int32_t* kind) = 0;
  virtual HRESULT SetName(const char* name) = 0;
  virtual HRESULT GetName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT SetSession(const char* session) = 0;
  virtual HRESULT GetSession(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT SetTarget(const char* target) = 0;
  virtual HRESULT GetTarget(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT SetSender(const char* sender) = 0;
  virtual HRESULT GetSender(char* buffer, std::uint32_t length) = 0;
  /// 0 < length <= 4194304; replaces any earlier buffer.
  virtual HRESULT AllocBuffer(std::int32_t length) = 0;
  virtual HRESULT GetBuffer(std::uint8_t** data, std::int32_t* size) = 0;
};

struct IShareSessionMessageEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionMessageEvents;
  /// reserved is always 0.
  virtual HRESULT OnShareMessage(std::int32_t reserved, std::int32_t value1, std::int32_t value2,
                                 std::int32_t value3) = 0;
};

struct IShareSessionOperationEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionOperationEvents;
  /// Kind 0 arrives here; the listener may keep the operation by adding a reference.
  virtual HRESULT OnRequest(IShareSessionOperation* operation) = 0;
  /// Kind 1 arrives here.
  virtual HRESULT OnResponse(IShareSessionOperation* operation) = 0;
};

/// A client's view of a session owned by the service process.
struct IShareSessionProxy : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionProxy;
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetSessionName(char* buffer, std::uint32_t length) = 0;
  /// Holds the session data lock until UnlockData. E_FAIL when the service is gone, or when the
  /// lock stays held by another process for 5 s. After the service process was replaced, the
  /// data of the new service's session of this name is read.
  virtual HRESULT LockData() = 0;
  virtual HRESULT GetSharedData(std::uint8_t** data, std::uint32_t* length) = 0;
  virtual HRESULT UnlockData() = 0;
  virtual HRESULT AddMessageListener(IShareSessionMessageEvents* listener) = 0;
  virtual HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) = 0;
  virtual HRESULT AddOperationListener(IShareSessionOperationEvents* listener) = 0;
  virtual HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) = 0;
  /// Ids are per process and start at a value of their own in every process, so that replies
  /// meant for an earlier process of this client's name are never taken for this one's: a
  /// reply whose id this process never issued reaches no listener.
  virtual HRESULT CreateOperation(IShareSessionOperation** operation) = 0;
  /// S_OK once accepted; KQCP_E_SHARE_BACKLOG_FULL, KQCP_E_SHARE_TOO_LARGE, or E_FAIL before
  /// Start and after Stop, and then nothing is sent.
  virtual HRESULT PostOperation(IShareSessionOperation* operation) = 0;
};

/// The service process's side of a session.
struct IShareSessionService : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionService;
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetSessionName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT SetSharedData(const void* data, std::int32_t length) = 0;
  virtual HRESULT AddMessageListener(IShareSessionMessageEvents* listener) = 0;
  virtual HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) = 0;
  virtual HRESULT AddOperationListener(IShareSessionOperationEvents* listener) = 0;
  virtual HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) = 0;
  virtual HRESULT CreateOperation(IShareSessionOperation** operation) = 0;
  /// The reply goes to the very process that sent the request, never to a later one of its name.
  virtual HRESULT CreateReply(IShareSessionOperation* request, IShareSessionOperation** reply) = 0;
  /// As the proxy's.
  virtual HRESULT PostOperation(IShareSessionOperation* operation) = 0;
  /// An empty or null target broadcasts to every live client. Results as PostOperation's.
  virtual HRESULT PostMessage(const char* target, std::int32_t value1, std::int32_t value2,
                              std::int32_t value3) = 0;
};

struct IShareSessionManager : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionManager;
  virtual HRESULT Start(const char* platformName, std::int32_t mode, const char* ownName) = 0;
  virtual HRESULT GetMode(std::int32_t* mode) = 0;
  virtual HRESULT GetOwnName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT WaitForStop(std::uint32_t milliseconds) = 0;
  virtual HRESULT CreateServiceSession(const char* sessionName, std::uint32_t unused) = 0;
  virtual HRESULT GetServiceSession(const char* sessionName, std::uint32_t unused,
                                    IShareSessionService** session) = 0;
  virtual HRESULT GetProxySession(const char* sessionName, std::uint32_t unused,
                                  IShareSessionProxy** session) = 0;
};

/// The calling user's named objects. They live in a folder of the user's own,
/// /dev/shm/kqcp-UID, mode 0700, that no other user can enter; the library refuses the folder
/// (and every share operation fails, with a line on standard error) when it is a symlink,
/// belongs to someone else or is open to others. A normal exit removes the names whose last
/// holder the process was; a killed process leaves its files until a sweep, which every Start
/// in client or service mode also runs.
/// What this process's manager did since Start. Every figure only grows.
struct ShareStatistics {
  std::uint64_t posted;            ///< operations and messages accepted (a broadcast counts once)
  std::uint64_t refusedBacklog;    ///< posts refused with KQCP_E_SHARE_BACKLOG_FULL
  std::uint64_t refusedOther;      ///< posts refused as too large, or before Start or after Stop
  std::uint64_t delivered;         ///< records written into a receiver's queue
  std::uint64_t droppedFull;       ///< accepted, but the receiver stayed full past the retry limit
  std::uint64_t droppedGone;       ///< accepted, but the receiver was gone
  std::uint64_t droppedBacklog;    ///< broadcast copies for receivers over their bound
  std::uint64_t received;          ///< records taken from this process's receive queue
  std::uint64_t droppedOnReceipt;  ///< unusable on arrival: no such session, oversized, stale reply
  std::uint64_t queueResets;       ///< times this process found its receive queue damaged
  std::uint64_t recordsLostInResets;
};

struct IShareStatistics : IUnknown {
  static constexpr const GUID& kIid = IID_IShareStatistics;
  virtual HRESULT GetStatistics(ShareStatistics* statistics) = 0;
};

struct IShareNamespace : IUnknown {
  static constexpr const GUID& kIid = IID_IShareNamespace;
  /// Removes the files of objects that no live process holds. Objects any live process holds,
  /// or is creating or opening at that moment, are untouched. removed (may be null) receives how
  /// many files went. E_FAIL when the user's folder cannot be used.
  virtual HRESULT SweepStale(std::int32_t* removed) = 0;
};

}  // namespace Vantor::KQCP
