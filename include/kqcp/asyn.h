/// @file
/// The asynchronous I/O frame as plug-ins see it: the frame, its operation, socket and timer
/// objects, the message-event contract and the proxy record.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IAsynIOFrame.
inline constexpr GUID IID_IAsynIOFrame = {
    0xF3D178A8, 0x1333, 0x4BBD, {0xA3, 0xE5, 0xD0, 0x18, 0xF7, 0xDC, 0x0F, 0x88}};
/// Interface id of IAsynMessageEvents.
inline constexpr GUID IID_IAsynMessageEvents = {
    0xE0913DE3, 0xB289, 0x4A4D, {0xA2, 0x44, 0x8D, 0x90, 0xD6, 0x7A, 0x4B, 0x68}};
/// Interface id of IKQCPAsynIoOperation.
inline constexpr GUID IID_IKQCPAsynIoOperation = {
    0x90B9F4E6, 0x988B, 0x4BD8, {0x9D, 0x61, 0xAB, 0xF6, 0xBF, 0x98, 0xF4, 0x3F}};
/// Interface id of IAsynIoOperationEvents.
inline constexpr GUID IID_IAsynIoOperationEvents = {
    0xA13FF036, 0xB25B, 0x4796, {0xA2, 0x1B, 0x58, 0xAC, 0xAA, 0x42, 0x07, 0x0E}};
/// Interface id of IKQCPAsynTcpSocket.
inline constexpr GUID IID_IKQCPAsynTcpSocket = {
    0xA989AFF4, 0x89FF, 0x4067, {0x9E, 0x47, 0xD7, 0x0F, 0x42, 0x6C, 0x1D, 0xE3}};
/// Interface id of IKQCPAsynUdpSocket.
inline constexpr GUID IID_IKQCPAsynUdpSocket = {
    0x3D5F06C5, 0x775C, 0x48E7, {0x8D, 0xD2, 0x8D, 0xD2, 0x82, 0xEE, 0x23, 0xF6}};
/// Interface id of IAsynTimerEvents.
inline constexpr GUID IID_IAsynTimerEvents = {
    0x066765B7, 0xE6C5, 0x4A3C, {0xBB, 0x69, 0xE7, 0x5A, 0xA4, 0x40, 0x94, 0x6F}};
/// Interface id of IKQCPAsynIoDevice. Never queried by the library; assigned by this build for
/// device implementers.
inline constexpr GUID IID_IKQCPAsynIoDevice = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x01}};

/// Opaque values that the frame's operation and socket wrappers pass through to the host. They
/// are pointer-sized because a host may carry buffers and addresses in them.
using AsynValue = std::uintptr_t;

/// Caller-filled proxy description; a fixed 788-byte little-endian record. The frame copies
/// the counted bytes of each text and hands the fields to the host, which alone interprets them.
struct AsynProxyInfo {
  std::int32_t kind;            ///< must be 1
  std::int32_t serverLength;    ///< bytes of server that count, 0 to 256
  char server[256];             ///< the proxy server, not terminated
  std::uint16_t port;           ///< the proxy's port
  std::uint16_t padding;        ///< unused
  std::int32_t userLength;      ///< bytes of user that count, 0 to 256
  char user[256];               ///< the user name, not terminated
  std::int32_t passwordLength;  ///< bytes of password that count, 0 to 256
  char password[256];           ///< the password, not terminated
};
static_assert(sizeof(AsynProxyInfo) == 788);
static_assert(offsetof(AsynProxyInfo, port) == 264);
static_assert(offsetof(AsynProxyInfo, userLength) == 268);
static_assert(offsetof(AsynProxyInfo, passwordLength) == 528);

/// Messages posted through the host's message thread. The two values are pointer-sized: the
/// frame and the sockets carry pointers in them. The frame and its sockets implement it for
/// their own requests; each gives the types its own meaning and answers S_OK to a type it does
/// not know.
struct IAsynMessageEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynMessageEvents;  ///< its interface id
  /// A message posted to this target, delivered by the host on its message thread with the
  /// values given to PostAsynMessage.
  virtual HRESULT OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) = 0;
  /// A posted message the host dropped instead of delivering, on the message thread (or while
  /// the host shuts down); the target frees what the message carried and wakes its waiter.
  virtual HRESULT OnMessageDiscarded(std::int32_t type, std::uintptr_t value1,
                                     std::uintptr_t value2) = 0;
};

/// Implemented by the caller of IAsynIOFrame::SetTimer.
struct IAsynTimerEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynTimerEvents;  ///< its interface id
  /// A timer of this sink fired, with the host's value; called on the host's message thread.
  virtual HRESULT OnTimer(std::uint32_t value) = 0;
};

/// Events of an asynchronous operation. From the host the argument is the host's operation
/// object; from the frame to a caller it is the caller's IKQCPAsynIoOperation.
struct IAsynIoOperationEvents : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynIoOperationEvents;  ///< its interface id
  /// An event of the operation, on the thread the host reports on (its message thread). The
  /// frame's operation passes an event of its own host operation on to the caller's sink and
  /// returns the sink's result; E_FAIL, passing nothing on, for any other operation.
  virtual HRESULT OnOperationEvent(IUnknown* operation) = 0;
};

struct IAsynHostOperation;

/// Seventeen operations; the first sixteen carry the host's own meaning (see the host's
/// documentation), the seventeenth yields the host operation without adding a reference.
/// Made by IAsynIOFrame::CreateOperation; a socket request names one, and its outcome reaches
/// the caller's IAsynIoOperationEvents. Forwarded operations run on the calling thread, with
/// no lock and no marshalling, and return the host operation's result unchanged (E_FAIL when
/// there is none). QueryInterface answers this id and IID_IAsynIoOperationEvents (the same
/// object) and adds no reference; the count is atomic.
struct IKQCPAsynIoOperation : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPAsynIoOperation;  ///< its interface id
  virtual HRESULT Op1(AsynValue a) = 0;                          ///< forwarded
  virtual HRESULT Op2(AsynValue a) = 0;                          ///< forwarded
  virtual HRESULT Op3(AsynValue a, AsynValue b) = 0;             ///< E_NOTIMPL
  virtual HRESULT Op4(AsynValue a, AsynValue b) = 0;             ///< forwarded
  virtual HRESULT Op5(AsynValue a) = 0;                          ///< E_NOTIMPL
  virtual HRESULT Op6(AsynValue a) = 0;                          ///< E_NOTIMPL
  virtual HRESULT Op7(AsynValue a) = 0;                          ///< forwarded
  virtual HRESULT Op8(AsynValue a, AsynValue b) = 0;             ///< forwarded
  virtual HRESULT Op9() = 0;                                     ///< forwarded
  virtual HRESULT Op10(AsynValue a, AsynValue b) = 0;            ///< forwarded
  virtual HRESULT Op11(AsynValue a, AsynValue b) = 0;            ///< forwarded
  virtual HRESULT Op12(AsynValue a, AsynValue b) = 0;            ///< E_NOTIMPL
  virtual HRESULT Op13(AsynValue a) = 0;                         ///< E_NOTIMPL
  virtual HRESULT Op14(AsynValue a, AsynValue b) = 0;            ///< forwarded
  virtual HRESULT Op15(AsynValue a, AsynValue b) = 0;            ///< forwarded
  virtual HRESULT Op16() = 0;                                    ///< forwarded
  /// Stores the host operation (null when there is none) without a reference; S_OK, E_POINTER
  /// for null.
  virtual HRESULT GetHostOperation(IAsynHostOperation** hostOperation) = 0;
};

/// Five device operations shared by TCP and UDP sockets; their meaning is the host's.
///
/// Called on the host's message thread, every request goes to the host socket at once and
/// returns the host's result. From any other thread a request is posted to the message thread:
/// device operations 1, 2 and 5, TCP operation 1 and UDP operation 1 return the post's result
/// at once, and their outcome arrives later as the operation's event; device operations 3 and 4
/// (which have no event) and TCP operation 4 wait until the message thread has run them and
/// return the host's verdict, so a caller may read their results, or release the operation, as
/// soon as they return. A posted request holds the socket and the operation until it has run or
/// been dropped, so either may be released right after the call.
///
/// Any thread. A posted request whose message the host drops is not made. Each operation that
/// takes an operation returns E_POINTER for null.
struct IKQCPAsynIoDevice : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPAsynIoDevice;  ///< its interface id
  /// The host socket's device operation 1 on the operation's host operation.
  virtual HRESULT DeviceOp1(IKQCPAsynIoOperation* operation) = 0;
  /// The host socket's device operation 2 on the operation's host operation.
  virtual HRESULT DeviceOp2(IKQCPAsynIoOperation* operation) = 0;
  /// The host socket's device operation 3; from another thread it waits, and E_FAIL when the
  /// message was dropped.
  virtual HRESULT DeviceOp3(IKQCPAsynIoOperation* operation) = 0;
  /// The host socket's device operation 4; waits as DeviceOp3.
  virtual HRESULT DeviceOp4(IKQCPAsynIoOperation* operation) = 0;
  /// The host socket's device operation 5, which takes no operation.
  virtual HRESULT DeviceOp5() = 0;
};

/// A TCP socket over one of the host's, made by IAsynIOFrame::CreateTcpSocket. QueryInterface
/// answers this id and IID_IAsynMessageEvents and adds no reference; the count is atomic.
struct IKQCPAsynTcpSocket : IKQCPAsynIoDevice {
  static constexpr const GUID& kIid = IID_IKQCPAsynTcpSocket;  ///< its interface id
  /// The host socket's TCP operation 1 on the operation's host operation, with host (a
  /// NUL-terminated text, handed on as its byte length and bytes), port and value. E_POINTER
  /// for a null operation or host; E_OUTOFMEMORY when the request cannot be posted.
  virtual HRESULT TcpOp1(IKQCPAsynIoOperation* operation, const char* host, std::uint16_t port,
                         AsynValue value) = 0;
  virtual HRESULT TcpOp2(AsynValue a, AsynValue b) = 0;  ///< S_OK; does nothing
  virtual HRESULT TcpOp3(AsynValue a, AsynValue b) = 0;  ///< S_OK; does nothing
  /// The host socket's TCP operation 4 with pointer. Synchronous across threads: on the
  /// message thread the host's result; elsewhere S_OK when the host answered zero or more,
  /// E_FAIL when it answered a failure or the message was not delivered.
  virtual HRESULT TcpOp4(void* pointer) = 0;
  virtual HRESULT TcpOp5(AsynValue a) = 0;  ///< S_OK; does nothing
};

/// A UDP socket over one of the host's, made by IAsynIOFrame::CreateUdpSocket. QueryInterface
/// answers this id and IID_IAsynMessageEvents and adds no reference; the count is atomic.
struct IKQCPAsynUdpSocket : IKQCPAsynIoDevice {
  static constexpr const GUID& kIid = IID_IKQCPAsynUdpSocket;  ///< its interface id
  /// The host socket's UDP operation 1 with address, port and the operation's host operation;
  /// each posted request carries its own address and port. E_POINTER for a null operation;
  /// E_OUTOFMEMORY when the request cannot be posted.
  virtual HRESULT UdpOp1(std::uint32_t address, std::uint16_t port,
                         IKQCPAsynIoOperation* operation) = 0;
  virtual HRESULT UdpOp2(AsynValue a, AsynValue b) = 0;  ///< E_NOTIMPL
};

/// The process's one asynchronous I/O frame (a singleton: AddRef and Release return 1), reached
/// through IKQCommunityPlatform::GetAsynIOFrame; Init attaches the host's service. It wraps
/// that service for plug-ins. QueryInterface answers this id and IID_IAsynMessageEvents. Before
/// a host is attached every call needing it returns E_FAIL at once.
///
/// Every call may be made on any thread. On the host's message thread it runs at once; on any
/// other thread it is run there while the caller waits. Either way the caller gets the real
/// verdict: SetTimer, KillTimer and KillTimers called from another thread return E_FAIL when the
/// host refused them, as on the message thread (the frame waits for the host's answer rather
/// than reporting success once the request was carried out). A call whose message the host
/// drops (for instance while it shuts down) returns E_FAIL. A failed creation leaves its out
/// pointer null.
///
/// Timers: all of one sink's timers reach the host through one wrapper, so the host tells them
/// apart by their values. KillTimer stops the timer named by its value, KillTimers all of the
/// sink's timers; the frame holds the sink only while the host has a live timer for it.
struct IAsynIOFrame : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynIOFrame;  ///< its interface id
  /// Three unnamed slots: each returns 0 and does nothing.
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;  ///< returns 0, does nothing
  virtual HRESULT Reserved3() = 0;  ///< returns 0, does nothing
  /// 0 on the host's message thread, E_FAIL elsewhere.
  virtual HRESULT IsMessageThread() = 0;
  /// A new operation over a host operation whose events reach events, with the caller's one
  /// reference. S_OK; E_POINTER for a null events or operation; E_FAIL when the host refuses;
  /// E_OUTOFMEMORY.
  virtual HRESULT CreateOperation(IAsynIoOperationEvents* events,
                                  IKQCPAsynIoOperation** operation) = 0;
  /// A new TCP socket with the caller's one reference; with a proxy record, the host's proxy
  /// socket. S_OK; E_UNEXPECTED for a proxy kind other than 1 and E_INVALIDARG for a text
  /// length outside 0 to 256, both before anything is posted; E_POINTER for a null socket;
  /// E_FAIL when the host refuses; E_OUTOFMEMORY.
  virtual HRESULT CreateTcpSocket(IKQCPAsynTcpSocket** socket, const AsynProxyInfo* proxy) = 0;
  /// As CreateTcpSocket, for a UDP socket from the host's IAsynUdpHost (E_FAIL when the host
  /// has none); the proxy's kind is checked but not passed on.
  virtual HRESULT CreateUdpSocket(IKQCPAsynUdpSocket** socket, const AsynProxyInfo* proxy) = 0;
  /// Sets a host timer for sink with the three values, which only the host interprets. S_OK;
  /// E_FAIL when the host refuses; E_POINTER for null; E_OUTOFMEMORY.
  virtual HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t value1, std::uint32_t value2,
                           std::uint32_t value3) = 0;
  /// Stops the sink's timer named by value. S_OK; E_FAIL when the sink has no live timer
  /// (nothing is sent to the host) or the host refuses; E_POINTER for null.
  virtual HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t value) = 0;
  /// Stops all of the sink's timers; results as KillTimer.
  virtual HRESULT KillTimers(IAsynTimerEvents* sink) = 0;
};

}  // namespace Vantor::KQCP
