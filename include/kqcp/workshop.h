/// @file
/// The workshop's public contract: the command object a caller posts (ICmd), the event sink
/// through which commands report (ICmdEvent) and the worker pool itself (IWorkshop).
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

inline constexpr GUID IID_IWorkshop = {
    0xAC254E73, 0x8D48, 0x4AAD, {0xB4, 0x30, 0x19, 0x9E, 0x2D, 0xB5, 0x77, 0xA0}};
inline constexpr GUID IID_ICmdEvent = {
    0x3AABF76F, 0x9FEA, 0x4BEC, {0xAE, 0x83, 0x04, 0x36, 0x0B, 0xE0, 0x5D, 0x32}};
/// The library never queries a command for this identifier; it is assigned by this build so that
/// command authors have one to answer.
inline constexpr GUID IID_ICmd = {
    0x6F1D2C3A, 0x4B5E, 0x4C7D, {0x9E, 0x8F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};

/// Command states as the workshop reads them from ICmd::GetState.
/// Any other value makes the workshop put the command back without calling it.
enum CmdState : std::int32_t {
  kCmdStateExecute = 0,        ///< Notify(1) and Execute follow
  kCmdStateCheckWait = 2,      ///< an unkeyed command is asked CheckWait on every tick
  kCmdStateContinue = 3,       ///< Notify(4) and Continue follow
  kCmdStateFinishedFirst = 5,  ///< 5 to 8: finished, the command leaves the queue
  kCmdStateFinishedLast = 8,
};

/// Codes the workshop passes to ICmd::Notify.
enum CmdNotifyCode : std::int32_t {
  kCmdNotifyExecute = 1,
  kCmdNotifyContinue = 4,
  kCmdNotifyStopOrWait = 7,
};

struct ICmdEvent : IUnknown {
  static constexpr const GUID& kIid = IID_ICmdEvent;
  /// The three values are passed through without interpretation.
  virtual HRESULT OnCmdEvent(std::int32_t value1, std::int32_t value2, std::int32_t value3) = 0;
};

struct ICmd : IUnknown {
  static constexpr const GUID& kIid = IID_ICmd;
  /// Called once when posted; the command owns the reference it receives.
  virtual HRESULT SetEventSink(ICmdEvent* sink) = 0;
  virtual HRESULT GetState(std::int32_t* state) = 0;
  virtual HRESULT Notify(std::int32_t code, std::uint32_t* value) = 0;
  /// Negative: unkeyed; zero or positive: keyed. Must not change while queued.
  virtual HRESULT HasKey() = 0;
  /// A non-null string (empty is a valid key); the caller frees it.
  virtual HRESULT GetKey(BSTR* key) = 0;
  virtual HRESULT Execute() = 0;
  virtual HRESULT Continue() = 0;
  /// Never called by the library.
  virtual HRESULT Reserved() = 0;
  virtual HRESULT CheckWait() = 0;
};

struct IWorkshop : IUnknown {
  static constexpr const GUID& kIid = IID_IWorkshop;
  /// Starts 1 to 512 workers (E_INVALIDARG otherwise). On a workshop that has workers already
  /// (a restart) it first stops and joins them, and they drain the queue as on Stop: every
  /// command still queued then is told Notify(kCmdNotifyStopOrWait) and released, so a restart
  /// cancels what was posted before it. Commands posted after Start returns go to the new
  /// workers. Refused with E_UNEXPECTED on one of the workshop's own workers.
  virtual HRESULT Start(std::int32_t workerCount) = 0;
  /// Asks every worker to end: each finishes its current step, drains the queue (Notify 7 and a
  /// release for every queued command) and ends; Wait then joins them. S_FALSE when the workshop
  /// was never started. A Stop that meets a Start under way on another thread also stops the
  /// workers that Start is still making. Stop, Start and Wait may be called from any threads.
  virtual HRESULT Stop() = 0;
  /// S_OK once every worker has ended; S_FALSE when the time ran out, there are no workers, or
  /// on one of the workshop's own workers.
  virtual HRESULT Wait(std::uint32_t milliseconds) = 0;
  /// Unnamed slot: always E_FAIL.
  virtual HRESULT Reserved() = 0;
  virtual HRESULT PostCmd(ICmd* command) = 0;
  virtual HRESULT AddListener(ICmdEvent* listener) = 0;
  virtual HRESULT RemoveListener(ICmdEvent* listener) = 0;
  virtual HRESULT GetState(std::int32_t* state) = 0;
};

}  // namespace Vantor::KQCP
