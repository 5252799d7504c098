// Descriptors of named-object files, and what a fork() does to them. The locks that say "this
// name is held" belong to open file descriptions, which a forked child shares with its parent:
// a child that inherited them would keep the parent's names alive for as long as it lives, even
// after the parent died. So every such descriptor is opened and closed here, in step with fork,
// and a forked child closes its copies at once. A mapping keeps the description it was made
// through open, too: the child maps its copies again through descriptions of its own first.
#pragma once

#include <cstdint>
#include <functional>

namespace Vantor::KQCP::os {

// What a forked child does for a descriptor before it closes it (for a mapping made through it,
// say): run(context), which may make system calls but must not allocate.
struct ChildStep {
  void (*run)(void* context) = nullptr;
  void* context = nullptr;
};

// Runs open (which returns a descriptor, or -1 with errno) so that no fork can copy the
// descriptor before it is known here, and stores the result in *slot. A forked child runs
// inChild, closes the descriptor and sets *slot to -1, so *slot must stay valid until
// CloseTracked.
int OpenTracked(int* slot, const std::function<int()>& open, ChildStep inChild = {});
// Closes *slot (when it is not -1) and forgets it; *slot becomes -1.
void CloseTracked(int* slot);

// How many forks lie between this process and the one whose state it runs on: 0 in a process
// that was started normally, more in a forked child. State made before a fork (a started share
// session manager, say) compares it to tell that its threads and names stayed in the parent.
std::uint32_t ForkGeneration();

}  // namespace Vantor::KQCP::os
