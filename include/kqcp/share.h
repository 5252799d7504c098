/// @file
/// Share sessions between processes of one platform name: the manager, the service and client
/// (proxy) sides of a session, operations, and the listener contracts.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IShareSessionManager.
inline constexpr GUID IID_IShareSessionManager = {
    0x8AFB40A5, 0xEAE6, 0x48E9, {0xAA, 0x16, 0x22, 0xBE, 0x8A, 0x85, 0x78, 0xE9}};
/// Interface id of IShareSessionProxy.
inline constexpr GUID IID_IShareSessionProxy = {
    0x105E6628, 0x121F, 0x4906, {0xA2, 0x58, 0x1D, 0x6B, 0xA9, 0x2F, 0xF8, 0xDD}};
/// Interface id of IShareSessionService.
inline constexpr GUID IID_IShareSessionService = {
    0x15414326, 0xC9AD, 0x4743, {0x92, 0xFA, 0x7E, 0x09, 0x1B, 0x01, 0x88, 0x3B}};
/// Interface id of IShareSessionOperation.
inline constexpr GUID IID_IShareSessionOperation = {
    0x9CC574B7, 0x095E, 0x4BDB, {0x96, 0xBF, 0x4B, 0xCD, 0x89, 0x4D, 0xC4, 0x5C}};
/// Interface id of IShareSessionMessageEvents. The sessions never query listeners; this id and
/// the next are assigned by this build for implementers.
inline constexpr GUID IID_IShareSessionMessageEvents = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x10}};
/// Interface id of IShareSessionOperationEvents.
inline constexpr GUID IID_IShareSessionOperationEvents = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x11}};
/// Interface id of IShareNamespace. Assigned by this build, as the next one: further
/// interfaces of the manager, reached with QueryInterface.
inline constexpr GUID IID_IShareNamespace = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x12}};
/// Interface id of IShareStatistics.
inline constexpr GUID IID_IShareStatistics = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x13}};

/// Posting never accepts what it cannot keep. What a process holds for one receiver (posted and
/// not yet written into the receiver's queue) is bounded in records and bytes; a post past either
/// bound is refused at once with KQCP_E_SHARE_BACKLOG_FULL, and nothing is sent. A broadcast is
/// bounded as one receiver of its own while it waits; a copy for a receiver over its bound is
/// dropped and counted (ShareStatistics::droppedBacklog).
inline constexpr std::uint32_t kShareBacklogRecords = 4096;    ///< records held for one receiver
inline constexpr std::uint32_t kShareBacklogBytes = 8u << 20;  ///< bytes held for one receiver
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
  kShareModeClient = 0,    ///< a client: registers its own name with the platform's service
  kShareModeService = 1,   ///< the platform's one service, which owns the sessions
  kShareModeInactive = 2,  ///< no sessions; Start only records the mode
};

/// Operation kinds.
enum ShareOperationKind : std::int32_t {
  kShareOperationRequest = 0,  ///< a request, delivered to OnRequest
  kShareOperationReply = 1,    ///< a reply, delivered to OnResponse
};

/// A request or reply: a name, a 32-bit kind and id, routing strings (session, target, sender)
/// and a byte buffer. A received operation is handed to listeners on the manager's background
/// thread. Getters copy a string with its terminator into the caller's buffer and fail with
/// E_FAIL, copying nothing, when the buffer is too short.
struct IShareSessionOperation : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionOperation;  ///< its interface id
  virtual HRESULT SetId(std::int32_t id) = 0;                      ///< S_OK
  virtual HRESULT GetId(std::int32_t* id) = 0;                     ///< S_OK
  virtual HRESULT SetKind(std::int32_t kind) = 0;                  ///< a ShareOperationKind; S_OK
  virtual HRESULT GetKind(std::int32_t* kind) = 0;                 ///< S_OK
  /// The operation's name; E_FAIL for null.
  virtual HRESULT SetName(const char* name) = 0;
  /// Copies the name; E_FAIL when length is less than its length + 1.
  virtual HRESULT GetName(char* buffer, std::uint32_t length) = 0;
  /// The session it belongs to; E_FAIL for null.
  virtual HRESULT SetSession(const char* session) = 0;
  /// Copies the session name, as GetName.
  virtual HRESULT GetSession(char* buffer, std::uint32_t length) = 0;
  /// The receiving client's own name; null or empty for the service. S_OK.
  virtual HRESULT SetTarget(const char* target) = 0;
  /// Copies the target, as GetName.
  virtual HRESULT GetTarget(char* buffer, std::uint32_t length) = 0;
  /// The sending client's own name (null stores an empty one). S_OK.
  virtual HRESULT SetSender(const char* sender) = 0;
  /// Copies the sender, as GetName.
  virtual HRESULT GetSender(char* buffer, std::uint32_t length) = 0;
  /// 0 < length <= 4194304; replaces any earlier buffer.
  virtual HRESULT AllocBuffer(std::int32_t length) = 0;
  /// The buffer and its size; E_FAIL when none was allocated.
  virtual HRESULT GetBuffer(std::uint8_t** data, std::int32_t* size) = 0;
};

/// Implemented by the host: receives the three values of a posted message. Called on the
/// manager's background thread while this process's receive queue is locked, so it must not
/// wait for a process that sends to this one.
struct IShareSessionMessageEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionMessageEvents;  ///< its interface id
  /// reserved is always 0.
  virtual HRESULT OnShareMessage(std::int32_t reserved, std::int32_t value1, std::int32_t value2,
                                 std::int32_t value3) = 0;
};

/// Implemented by the host: receives operations of one session, on the manager's background
/// thread, under the same rules as IShareSessionMessageEvents.
struct IShareSessionOperationEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionOperationEvents;  ///< its interface id
  /// Kind 0 arrives here; the listener may keep the operation by adding a reference.
  virtual HRESULT OnRequest(IShareSessionOperation* operation) = 0;
  /// Kind 1 arrives here.
  virtual HRESULT OnResponse(IShareSessionOperation* operation) = 0;
};

/// A client's view of a session owned by the service process.
struct IShareSessionProxy : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionProxy;  ///< its interface id
  /// Copies the platform name with its terminator; E_OUTOFMEMORY when the buffer is too short.
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  /// Copies the session name, as GetPlatformName.
  virtual HRESULT GetSessionName(char* buffer, std::uint32_t length) = 0;
  /// Holds the session data lock until UnlockData. E_FAIL when the service is gone, or when the
  /// lock stays held by another process for 5 s. After the service process was replaced, the
  /// data of the new service's session of this name is read.
  virtual HRESULT LockData() = 0;
  /// The shared data and its size while LockData holds the lock (null and 0xFFFFFFFF
  /// otherwise); S_OK.
  virtual HRESULT GetSharedData(std::uint8_t** data, std::uint32_t* length) = 0;
  /// Releases what LockData took; S_OK.
  virtual HRESULT UnlockData() = 0;
  /// Adds a reference and appends the listener; S_FALSE when it is there already. Any thread.
  virtual HRESULT AddMessageListener(IShareSessionMessageEvents* listener) = 0;
  /// Removes and releases the listener; E_FAIL when it is not there. Any thread, a listener
  /// of this session included.
  virtual HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) = 0;
  /// As AddMessageListener, for operation listeners.
  virtual HRESULT AddOperationListener(IShareSessionOperationEvents* listener) = 0;
  /// As RemoveMessageListener, for operation listeners.
  virtual HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) = 0;
  /// Ids are per process and start at a value of their own in every process, so that replies
  /// meant for an earlier process of this client's name are never taken for this one's: a
  /// reply whose id this process never issued reaches no listener.
  virtual HRESULT CreateOperation(IShareSessionOperation** operation) = 0;
  /// S_OK once accepted; KQCP_E_SHARE_BACKLOG_FULL, KQCP_E_SHARE_TOO_LARGE, E_FAIL before
  /// Start and after Stop, or E_UNEXPECTED in a child forked after Start (see
  /// IShareSessionManager), and then nothing is sent. The operation is read as it stands when
  /// posted: changing or posting it again afterwards does not change what was sent. Any thread;
  /// it never waits for another process.
  virtual HRESULT PostOperation(IShareSessionOperation* operation) = 0;
};

/// The service process's side of a session.
struct IShareSessionService : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionService;  ///< its interface id
  /// As IShareSessionProxy::GetPlatformName.
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  /// As IShareSessionProxy::GetSessionName.
  virtual HRESULT GetSessionName(char* buffer, std::uint32_t length) = 0;
  /// Replaces the session's shared data that clients read with LockData; S_OK or E_FAIL.
  virtual HRESULT SetSharedData(const void* data, std::int32_t length) = 0;
  /// As IShareSessionProxy::AddMessageListener.
  virtual HRESULT AddMessageListener(IShareSessionMessageEvents* listener) = 0;
  /// As IShareSessionProxy::RemoveMessageListener.
  virtual HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) = 0;
  /// As IShareSessionProxy::AddOperationListener.
  virtual HRESULT AddOperationListener(IShareSessionOperationEvents* listener) = 0;
  /// As IShareSessionProxy::RemoveOperationListener.
  virtual HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) = 0;
  /// A new request of this session with a fresh id; the caller sets its target. E_FAIL when
  /// the session is not set up.
  virtual HRESULT CreateOperation(IShareSessionOperation** operation) = 0;
  /// The reply goes to the very process that sent the request, never to a later one of its name.
  virtual HRESULT CreateReply(IShareSessionOperation* request, IShareSessionOperation** reply) = 0;
  /// As the proxy's.
  virtual HRESULT PostOperation(IShareSessionOperation* operation) = 0;
  /// An empty or null target broadcasts to every live client. Results as PostOperation's.
  virtual HRESULT PostMessage(const char* target, std::int32_t value1, std::int32_t value2,
                              std::int32_t value3) = 0;
};

/// The process's one share-session manager (a singleton: AddRef and Release return 1). Start
/// makes the process the platform's service or one of its clients and starts the background
/// thread that sends, receives and calls the session listeners. Any thread may call it.
///
/// After fork(), the child holds none of the parent's names: its copies of them are let go at
/// the fork, so a helper process that outlives its parent never keeps the parent's service or
/// client alive for the others. A manager started before the fork stays with the parent (its
/// thread is not in the child): in the child every post of its sessions is refused with
/// E_UNEXPECTED. A child that needs share sessions runs a new program (exec), which starts its
/// own; a child of a process that never called Start may call Start itself.
struct IShareSessionManager : IUnknown {
  static constexpr const GUID& kIid = IID_IShareSessionManager;  ///< its interface id
  /// Joins platformName as a ShareSessionMode; ownName is the client's name (two characters at
  /// least). Runs once per process: S_OK; E_FAIL when it ran before, another service holds the
  /// platform, or a live client holds ownName; E_INVALIDARG for an unknown mode. It waits for
  /// what other processes hold (the platform mutex, names they are making or closing) at most
  /// 5 s in all, and fails after that.
  virtual HRESULT Start(const char* platformName, std::int32_t mode, const char* ownName) = 0;
  /// The mode Start was given; E_FAIL before Start.
  virtual HRESULT GetMode(std::int32_t* mode) = 0;
  /// Copies the own name with its terminator; E_FAIL before Start, E_OUTOFMEMORY when the
  /// buffer is too short.
  virtual HRESULT GetOwnName(char* buffer, std::uint32_t length) = 0;
  /// Copies the platform name, as GetOwnName.
  virtual HRESULT GetPlatformName(char* buffer, std::uint32_t length) = 0;
  /// Asks the background thread to end; S_OK, or E_FAIL when it is not running.
  virtual HRESULT Stop() = 0;
  /// Waits at most milliseconds for the background thread to end: S_OK once it has ended,
  /// S_FALSE when it was still running when the time ran out, E_FAIL when no thread was started.
  virtual HRESULT WaitForStop(std::uint32_t milliseconds) = 0;
  /// Makes the service session sessionName; S_OK or E_FAIL.
  virtual HRESULT CreateServiceSession(const char* sessionName, std::uint32_t unused) = 0;
  /// The session CreateServiceSession made; E_FAIL when there is none.
  virtual HRESULT GetServiceSession(const char* sessionName, std::uint32_t unused,
                                    IShareSessionService** session) = 0;
  /// A client's view of the service's session sessionName; S_OK or E_FAIL.
  virtual HRESULT GetProxySession(const char* sessionName, std::uint32_t unused,
                                  IShareSessionProxy** session) = 0;
};

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
  /// times this process found its receive queue (or, in the service, the platform's client
  /// list) damaged and repaired it
  std::uint64_t queueResets;
  std::uint64_t recordsLostInResets;  ///< records those resets threw away
};

/// The manager's counters, reached from IShareSessionManager with QueryInterface. Any thread.
struct IShareStatistics : IUnknown {
  static constexpr const GUID& kIid = IID_IShareStatistics;  ///< its interface id
  /// Fills statistics; E_POINTER for null.
  virtual HRESULT GetStatistics(ShareStatistics* statistics) = 0;
};

/// The calling user's named objects. They live in a folder of the user's own, mode 0700, that no
/// other user can enter: /run/user/UID/kqcp where the user has a runtime folder (a folder of the
/// user's, closed to others, as the login manager makes it), /dev/shm/kqcp-UID elsewhere. The
/// library refuses the folder (and every share operation fails, with a line on standard error
/// saying how to mend it) when it is a symlink, belongs to someone else or is open to others. A
/// normal exit removes the names whose last holder the process was; a killed process leaves its
/// files until a sweep, which every Start in client or service mode also runs. Reached from
/// IShareSessionManager with QueryInterface. Any thread.
struct IShareNamespace : IUnknown {
  static constexpr const GUID& kIid = IID_IShareNamespace;  ///< its interface id
  /// Removes the files of objects that no live process holds. Objects any live process holds,
  /// or is creating or opening at that moment, are untouched. removed (may be null) receives how
  /// many files went. E_FAIL when the user's folder cannot be used.
  virtual HRESULT SweepStale(std::int32_t* removed) = 0;
};

}  // namespace Vantor::KQCP
