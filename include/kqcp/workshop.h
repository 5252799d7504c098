/// @file
/// The workshop's public contract: the command object a caller posts (ICmd), the event sink
/// through which commands report (ICmdEvent) and the worker pool itself (IWorkshop).
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IWorkshop.
inline constexpr GUID IID_IWorkshop = {
    0xAC254E73, 0x8D48, 0x4AAD, {0xB4, 0x30, 0x19, 0x9E, 0x2D, 0xB5, 0x77, 0xA0}};
/// Interface id of ICmdEvent.
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
  kCmdStateFinishedLast = 8,   ///< the last finished state
};

/// Codes the workshop passes to ICmd::Notify.
enum CmdNotifyCode : std::int32_t {
  kCmdNotifyExecute = 1,     ///< Execute follows
  kCmdNotifyContinue = 4,    ///< Continue follows
  kCmdNotifyStopOrWait = 7,  ///< dropped from the queue (stop, failed requeue) or CheckWait >= 0
};

/// A command's report channel. The workshop implements it and hands it to each posted command;
/// hosts implement it to listen to every command's events (IWorkshop::AddListener).
struct ICmdEvent : IUnknown {
  static constexpr const GUID& kIid = IID_ICmdEvent;  ///< its interface id
  /// The three values are passed through without interpretation. The workshop's own relays
  /// them to every listener in order of registration, one event at a time, on the caller's
  /// thread, and returns S_OK.
  virtual HRESULT OnCmdEvent(std::int32_t value1, std::int32_t value2, std::int32_t value3) = 0;
};

/// Implemented by the host or a plug-in: a command that the workshop steps a little at a time
/// on its worker threads. Unkeyed commands are stepped in rotation by any worker; commands of
/// one key run one after another in the order posted, never two at a time. The workshop reads
/// no result except where noted. PostCmd calls SetEventSink, HasKey and GetKey on the posting
/// thread; every other call comes from a worker. GetState, CheckWait and Notify may be called
/// with the queue's lock held, so they must not wait for a thread that posts to the workshop.
struct ICmd : IUnknown {
  static constexpr const GUID& kIid = IID_ICmd;  ///< its interface id
  /// Called once when posted; the command owns the reference it receives.
  virtual HRESULT SetEventSink(ICmdEvent* sink) = 0;
  /// A CmdState, read before every step; a command that fails to set it is put back untouched.
  virtual HRESULT GetState(std::int32_t* state) = 0;
  /// Tells the command what comes next, a CmdNotifyCode; value and result are ignored.
  virtual HRESULT Notify(std::int32_t code, std::uint32_t* value) = 0;
  /// Negative: unkeyed; zero or positive: keyed. Must not change while queued.
  virtual HRESULT HasKey() = 0;
  /// A non-null string (empty is a valid key); the caller frees it.
  virtual HRESULT GetKey(BSTR* key) = 0;
  /// The first step, in state kCmdStateExecute after Notify(kCmdNotifyExecute).
  virtual HRESULT Execute() = 0;
  /// A further step, in state kCmdStateContinue after Notify(kCmdNotifyContinue).
  virtual HRESULT Continue() = 0;
  /// Never called by the library.
  virtual HRESULT Reserved() = 0;
  /// Asked of an unkeyed command in kCmdStateCheckWait about every 50 ms; zero or positive is
  /// answered with Notify(kCmdNotifyStopOrWait), and the command stays queued.
  virtual HRESULT CheckWait() = 0;
};

/// A pool of worker threads stepping posted commands. Each worker wakes every 50 ms and steps
/// at most one unkeyed and one keyed command. The platform makes one with two workers. Every
/// operation may be called from any thread.
///
/// After fork(): the child has none of the parent's worker threads, so a workshop it inherited
/// (the platform's among them) has no workers there: GetState reads 0, Stop and Wait answer
/// S_FALSE, and PostCmd refuses with E_UNEXPECTED until the child calls Start, which gives it
/// new workers and an empty queue of its own. Commands queued in the parent stay the parent's:
/// the child neither runs nor releases them. Listeners stay registered. The parent's workshop
/// is not affected. Forking from inside a command's step is not supported.
struct IWorkshop : IUnknown {
  static constexpr const GUID& kIid = IID_IWorkshop;  ///< its interface id
  /// Starts 1 to 512 workers (E_INVALIDARG otherwise). On a workshop that has workers already
  /// (a restart) it first stops and joins them, and they drain the queue as on Stop: every
  /// command still queued then is told Notify(kCmdNotifyStopOrWait) and released, so a restart
  /// cancels what was posted before it. Commands posted after Start returns go to the new
  /// workers. Refused with E_UNEXPECTED on one of the workshop's own workers.
  /// S_OK; E_OUTOFMEMORY when not every worker could be made (those made run). In a forked
  /// child it waits for none of the parent's workers.
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
  /// Hands the command the workshop's ICmdEvent, then queues it with a reference of its own; a
  /// command posted before Start waits for the workers. S_OK; E_POINTER for null; the command's
  /// own failure from GetKey (E_INVALIDARG for a null key) or E_OUTOFMEMORY, and then it is not
  /// queued; E_UNEXPECTED in a forked child that has not started the workshop (the command is
  /// left untouched).
  virtual HRESULT PostCmd(ICmd* command) = 0;
  /// Adds a reference and appends the listener to those that receive every command event.
  /// S_OK; S_FALSE when it is there already; E_POINTER for null; E_OUTOFMEMORY. A listener may
  /// add or remove listeners from inside its call.
  virtual HRESULT AddListener(ICmdEvent* listener) = 0;
  /// Removes and releases the listener; once this returns it receives no further event.
  /// S_OK; E_FAIL when it is not there; E_POINTER for null.
  virtual HRESULT RemoveListener(ICmdEvent* listener) = 0;
  /// 0 not started, 1 while Start runs, 2 started (also after Stop). S_OK; E_POINTER for null.
  virtual HRESULT GetState(std::int32_t* state) = 0;
};

}  // namespace Vantor::KQCP
