/// @file
/// What a host application supplies to the asynchronous I/O frame: its I/O service with a message
/// thread (IAsynIoHost), its UDP service, and its operation and socket objects. The library only
/// passes requests through; the meaning of each numbered operation is the host's.
#pragma once

#include "kqcp/asyn.h"

namespace Vantor::KQCP {

/// Interface id of IAsynIoHost, which Init asks the host object for.
inline constexpr GUID IID_IAsynIoHost = {
    0xECB1468E, 0xDF17, 0x4BAA, {0x91, 0x05, 0x84, 0xFC, 0x29, 0x2F, 0x4B, 0x61}};
/// Interface id of IAsynUdpHost.
inline constexpr GUID IID_IAsynUdpHost = {
    0x6D99D3C0, 0x92D1, 0x4ACE, {0x9E, 0x01, 0xD7, 0x71, 0xF1, 0xC1, 0xF7, 0x33}};
/// Interface id of IAsynHostOperation. The library never queries for this one and the next three;
/// they are assigned by this build for host implementers.
inline constexpr GUID IID_IAsynHostOperation = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x02}};
/// Interface id of IAsynHostTcpSocket.
inline constexpr GUID IID_IAsynHostTcpSocket = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x03}};
/// Interface id of IAsynHostUdpSocket.
inline constexpr GUID IID_IAsynHostUdpSocket = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x04}};
/// Interface id of IAsynHostDevice.
inline constexpr GUID IID_IAsynHostDevice = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x05}};

/// The host's operation object: the same sixteen operations, in the same order, as
/// IKQCPAsynIoOperation. The frame's operation forwards the operations it does not refuse on
/// the thread its caller is on, which need not be the message thread, and returns their result
/// unchanged.
struct IAsynHostOperation : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynHostOperation;  ///< its interface id
  virtual HRESULT Op1(AsynValue a) = 0;                        ///< forwarded
  virtual HRESULT Op2(AsynValue a) = 0;                        ///< forwarded
  virtual HRESULT Op3(AsynValue a, AsynValue b) = 0;           ///< never called by the library
  virtual HRESULT Op4(AsynValue a, AsynValue b) = 0;           ///< forwarded
  virtual HRESULT Op5(AsynValue a) = 0;                        ///< never called by the library
  virtual HRESULT Op6(AsynValue a) = 0;                        ///< never called by the library
  virtual HRESULT Op7(AsynValue a) = 0;                        ///< forwarded
  virtual HRESULT Op8(AsynValue a, AsynValue b) = 0;           ///< forwarded
  virtual HRESULT Op9() = 0;                                   ///< forwarded
  virtual HRESULT Op10(AsynValue a, AsynValue b) = 0;          ///< forwarded
  virtual HRESULT Op11(AsynValue a, AsynValue b) = 0;          ///< forwarded
  virtual HRESULT Op12(AsynValue a, AsynValue b) = 0;          ///< never called by the library
  virtual HRESULT Op13(AsynValue a) = 0;                       ///< never called by the library
  virtual HRESULT Op14(AsynValue a, AsynValue b) = 0;          ///< forwarded
  virtual HRESULT Op15(AsynValue a, AsynValue b) = 0;          ///< forwarded
  virtual HRESULT Op16() = 0;                                  ///< forwarded
};

/// The device operations of a host socket, called by the frame's socket wrappers on the
/// message thread with the host operation of the caller's operation (IKQCPAsynIoDevice). A
/// result goes back to the wrapper's caller when it called on the message thread or waits.
struct IAsynHostDevice : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynHostDevice;       ///< its interface id
  virtual HRESULT DeviceOp1(IAsynHostOperation* operation) = 0;  ///< device operation 1
  virtual HRESULT DeviceOp2(IAsynHostOperation* operation) = 0;  ///< device operation 2
  virtual HRESULT DeviceOp3(IAsynHostOperation* operation) = 0;  ///< device operation 3
  virtual HRESULT DeviceOp4(IAsynHostOperation* operation) = 0;  ///< device operation 4
  virtual HRESULT DeviceOp5() = 0;                               ///< device operation 5
};

/// The host's TCP socket, made by IAsynIoHost::CreateTcpSocket or CreateProxyTcpSocket and
/// held by the frame's IKQCPAsynTcpSocket. Called on the message thread.
struct IAsynHostTcpSocket : IAsynHostDevice {
  static constexpr const GUID& kIid = IID_IAsynHostTcpSocket;  ///< its interface id
  /// The host text arrives as its byte length and its bytes (not terminated).
  virtual HRESULT TcpOp1(IAsynHostOperation* operation, std::int32_t hostLength, const char* host,
                         std::uint16_t port, AsynValue value) = 0;
  virtual HRESULT TcpOp2(AsynValue a, AsynValue b) = 0;  ///< never called by the library
  virtual HRESULT TcpOp3(AsynValue a, AsynValue b) = 0;  ///< never called by the library
  /// The caller's pointer unchanged; a caller on another thread waits for this result.
  virtual HRESULT TcpOp4(void* pointer) = 0;
  virtual HRESULT TcpOp5(AsynValue a) = 0;  ///< never called by the library
};

/// The host's UDP socket, made by IAsynUdpHost and held by the frame's IKQCPAsynUdpSocket.
/// Called on the message thread.
struct IAsynHostUdpSocket : IAsynHostDevice {
  static constexpr const GUID& kIid = IID_IAsynHostUdpSocket;  ///< its interface id
  /// The caller's address and port, and its operation's host operation.
  virtual HRESULT UdpOp1(std::uint32_t address, std::uint16_t port,
                         IAsynHostOperation* operation) = 0;
  virtual HRESULT UdpOp2(AsynValue a, AsynValue b) = 0;  ///< never called by the library
};

/// The host's asynchronous I/O service. IsMessageThread, PostAsynMessage, RegisterEvents and
/// UnregisterEvents may be called on any thread; the rest only on the message thread.
///
/// What a host holds while a request is pending:
/// - A posted message: the frame and its socket wrappers keep the target alive until its
///   OnMessage or OnMessageDiscarded has run. The host calls exactly one of the two for every
///   message it accepted, on the message thread, and calls neither after UnregisterEvents.
///   A host that stops must hand each queued message to OnMessageDiscarded (and refuse new
///   posts): callers on other threads wait for those messages and wake only then.
/// - A socket request (device, TCP or UDP operation) that completes later: the host operation
///   and the socket until the request's event has been delivered, and the operation's events
///   target (given to CreateOperation) with a reference of its own, since the caller may release
///   its operation as soon as the request has been made. It must not call the target after the
///   last request that holds it has ended.
/// - A timer: the IAsynTimerEvents wrapper, with a reference, from SetTimer until the timer
///   ends (killed, or fired without repeating); it releases the wrapper then, on the message
///   thread. The frame gives the host one wrapper for all of a sink's timers, so a value set
///   again for a live timer should replace it.
struct IAsynIoHost : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynIoHost;  ///< its interface id
  /// Non-negative: the timer is set and the host holds the sink until the timer ends.
  virtual HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t value1, std::uint32_t value2,
                           std::uint32_t value3) = 0;
  /// Stops the sink's timer named by value. Non-negative: success.
  virtual HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t value) = 0;
  /// Stops all of the sink's timers; as KillTimer.
  virtual HRESULT KillTimers(IAsynTimerEvents* sink) = 0;
  /// From now on messages may be posted to target. The frame registers itself once attached,
  /// and each socket wrapper as it is made.
  virtual HRESULT RegisterEvents(IAsynMessageEvents* target) = 0;
  /// No call reaches target once this has returned; a socket wrapper unregisters as it goes.
  virtual HRESULT UnregisterEvents(IAsynMessageEvents* target) = 0;
  /// Non-negative: queued; the target's OnMessage later runs on the message thread with the same
  /// values, or OnMessageDiscarded if the host drops the message.
  virtual HRESULT PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                  std::uintptr_t value1, std::uintptr_t value2) = 0;
  /// Unnamed slot with the same arguments; the library only forwards it.
  virtual HRESULT Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                      std::uintptr_t value2) = 0;
  /// Zero exactly on the host's message thread.
  virtual HRESULT IsMessageThread() = 0;
  /// Non-negative and an operation carrying a reference for the caller; the operation's events
  /// later reach target's OnOperationEvent, naming this host operation.
  virtual HRESULT CreateOperation(IAsynIoOperationEvents* target,
                                  IAsynHostOperation** operation) = 0;
  /// Non-negative and a socket carrying a reference for the caller.
  virtual HRESULT CreateTcpSocket(IAsynHostTcpSocket** socket) = 0;
  /// A new socket for the caller that reaches its peer through the proxy, made from socket
  /// with the fields of the caller's AsynProxyInfo (texts as byte lengths and bytes, not
  /// terminated). Non-negative and a socket: success.
  virtual HRESULT CreateProxyTcpSocket(IAsynHostTcpSocket* socket, std::int32_t kind,
                                       std::int32_t serverLength, const char* server,
                                       std::uint16_t port, std::int32_t userLength,
                                       const char* user, std::int32_t passwordLength,
                                       const char* password, IAsynHostTcpSocket** proxySocket) = 0;
};

/// The host's UDP service, obtained from the IAsynIoHost object by QueryInterface for each UDP
/// socket made, and released afterwards. Called on the message thread.
struct IAsynUdpHost : IUnknown {
  static constexpr const GUID& kIid = IID_IAsynUdpHost;  ///< its interface id
  /// Non-negative and a socket carrying a reference for the caller.
  virtual HRESULT CreateUdpSocket(IAsynHostUdpSocket** socket) = 0;
  /// As CreateUdpSocket, through the proxy of the caller's AsynProxyInfo (its kind is not
  /// passed; texts as byte lengths and bytes).
  virtual HRESULT CreateProxyUdpSocket(std::int32_t serverLength, const char* server,
                                       std::uint16_t port, std::int32_t userLength,
                                       const char* user, std::int32_t passwordLength,
                                       const char* password, IAsynHostUdpSocket** socket) = 0;
};

}  // namespace Vantor::KQCP
