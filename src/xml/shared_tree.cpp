// Counting, forwarding and the end of shared trees. Long chains of forwarded trees are walked
// in loops, never by recursion.
#include "xml/shared_tree.h"

#include <new>

namespace Vantor::KQCP::xml {

using VEXO::XML::DOMNode;

SharedTree* SharedTree::New(DOMNode* root) {
  auto* tree = new (std::nothrow) SharedTree(root);
  if (!tree) delete root;
  return tree;
}

void SharedTree::Release(SharedTree* tree) {
  while (tree && --tree->strong_ == 0) {
    delete tree->root_;
    tree->root_ = nullptr;
    if (tree->context_) ReleaseWeak(std::exchange(tree->context_, nullptr));
    SharedTree* next = tree->forward_;
    if (tree->weak_ == 0) {
      delete tree;
    } else if (next) {
      ++next->weak_;  // the strong hold on next becomes a weak one, dropped below
    }
    tree = next;
  }
}

void SharedTree::ReleaseWeak(SharedTree* tree) {
  while (tree && --tree->weak_ == 0 && tree->strong_ == 0) {
    SharedTree* next = tree->forward_;
    delete tree;
    tree = next;
  }
}

SharedTree* SharedTree::Current() {
  SharedTree* tree = this;
  while (tree->forward_) tree = tree->forward_;
  return tree;
}

SharedTree* SharedTree::CurrentOfWeak(SharedTree* tree) {
  while (tree) {
    if (tree->strong_ > 0) return tree->Current();
    tree = tree->forward_;
  }
  return nullptr;
}

void SharedTree::SetContext(SharedTree* context) {
  if (context) AddWeak(context);
  if (context_) ReleaseWeak(context_);
  context_ = context;
}

bool SharedTree::AttachTo(DOMNode* parent, SharedTree* into) {
  if (parent->AttachChild(root_) != VEXO::XML::kDomOk) return false;
  root_ = nullptr;
  SetContext(nullptr);
  into->AddRef();
  forward_ = into;
  return true;
}

}  // namespace Vantor::KQCP::xml
