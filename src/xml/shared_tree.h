// Lifetime of the trees behind the XML objects. Every element, package and parser holds the
// tree its node lives in, so a tree goes only when the last of them lets go (releasing or
// resetting a parser never leaves an element dangling). When an element's tree is attached
// below a node of another tree, the first tree forwards to the second and keeps it alive.
// Counts are plain: a tree and everything taken from it are used by one thread at a time.
#pragma once

#include <memory>
#include <utility>
#include <vector>

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

  // The root node carries a parent link to node, a node of the tree context (given to
  // Create). The tree is held weakly and the node is watched, so that the link can be checked
  // before it is followed. False when memory is exhausted; a null context drops the link.
  bool SetContext(SharedTree* context, VEXO::XML::DOMNode* node);
  // The node the root's parent link names while that node still exists (else null), and in
  // *holder the tree that holds it now.
  VEXO::XML::DOMNode* LinkedParent(SharedTree** holder) const;
  // Called before the children of node, a node of this (current) tree, are destroyed: links
  // of other trees to nodes below it are cut.
  void ForgetLinksBelow(const VEXO::XML::DOMNode* node);

  // Moves this tree's root below parent, a node of the tree into: the node joins into's
  // children and this tree forwards to into from now on. False when memory is exhausted.
  bool AttachTo(VEXO::XML::DOMNode* parent, SharedTree* into);

 private:
  // A parent link of some tree's root to a node of this tree; node is null once the node is
  // gone or the link was dropped.
  struct Link {
    VEXO::XML::DOMNode* node;
  };

  explicit SharedTree(VEXO::XML::DOMNode* root) : root_(root) {}
  ~SharedTree() = default;
  void CutLinksIn();
  void DropLink();

  int strong_ = 1;
  int weak_ = 0;
  VEXO::XML::DOMNode* root_;  // owned; null once attached elsewhere or destroyed
  // Strong while this tree lives, weak afterwards (so weak holders can still follow it).
  SharedTree* forward_ = nullptr;
  SharedTree* context_ = nullptr;  // weak
  std::shared_ptr<Link> link_;     // this root's parent link, also listed in the context's tree
  // Links of other trees to nodes of this one; moved along when this tree is attached elsewhere.
  std::vector<std::shared_ptr<Link>> linksIn_;
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
