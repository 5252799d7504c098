// Lifetime of the trees behind the XML objects. Every element, package and parser holds the
// tree its node lives in, so a tree goes only when the last of them lets go (releasing or
// resetting a parser never leaves an element dangling). When an element's tree is attached
// below a node of another tree, the first tree forwards to the second and keeps it alive.
// Counts are plain: a tree and everything taken from it are used by one thread at a time.
#pragma once

#include <utility>

#include "xml/dom_node.h"

namespace Vantor::KQCP::xml {

class SharedTree {
 public:
  // Takes the heap node root; null (and root deleted) when memory is exhausted.
  static SharedTree* New(VEXO::XML::DOMNode* root);

  void AddRef() { ++strong_; }
  static void Release(SharedTree* tree);
  static void AddWeak(SharedTree* tree) { ++tree->weak_; }
  static void ReleaseWeak(SharedTree* tree);

  // The tree that holds this tree's nodes now (itself unless it was attached elsewhere).
  SharedTree* Current();
  // Current() of a weakly held tree, or null when its nodes are gone.
  static SharedTree* CurrentOfWeak(SharedTree* tree);

  VEXO::XML::DOMNode* Root() const { return root_; }

  // The root node carries a parent link into another tree (given to Create); that tree is
  // held weakly so that the link can be checked before it is followed.
  void SetContext(SharedTree* context);
  SharedTree* Context() const { return context_; }

  // Moves this tree's root below parent, a node of the tree into: the node joins into's
  // children and this tree forwards to into from now on. False when memory is exhausted.
  bool AttachTo(VEXO::XML::DOMNode* parent, SharedTree* into);

 private:
  explicit SharedTree(VEXO::XML::DOMNode* root) : root_(root) {}
  ~SharedTree() = default;

  int strong_ = 1;
  int weak_ = 0;
  VEXO::XML::DOMNode* root_;  // owned; null once attached elsewhere or destroyed
  // Strong while this tree lives, weak afterwards (so weak holders can still follow it).
  SharedTree* forward_ = nullptr;
  SharedTree* context_ = nullptr;  // weak
};

// A strong reference.
class TreeRef {
 public:
  TreeRef() = default;
  // Adds a reference.
  explicit TreeRef(SharedTree* tree) : tree_(tree) {
    if (tree_) tree_->AddRef();
  }
  static TreeRef Adopt(SharedTree* tree) {
    TreeRef ref;
    ref.tree_ = tree;
    return ref;
  }
  TreeRef(const TreeRef& other) : TreeRef(other.tree_) {}
  TreeRef(TreeRef&& other) noexcept : tree_(std::exchange(other.tree_, nullptr)) {}
  TreeRef& operator=(TreeRef other) noexcept {
    std::swap(tree_, other.tree_);
    return *this;
  }
  ~TreeRef() { Reset(); }
  void Reset() { SharedTree::Release(std::exchange(tree_, nullptr)); }
  SharedTree* Get() const { return tree_; }
  explicit operator bool() const { return tree_ != nullptr; }

 private:
  SharedTree* tree_ = nullptr;
};

}  // namespace Vantor::KQCP::xml
