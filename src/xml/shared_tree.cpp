// Counting, forwarding and the end of shared trees. Long chains of forwarded trees are walked
// in loops, never by recursion.
#include "xml/shared_tree.h"

#include <algorithm>
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
    tree->CutLinksIn();
    tree->DropLink();
    // The context may forward back to this tree (it was attached below it), so this tree is
    // held while the context goes.
    ++tree->weak_;
    if (tree->context_) ReleaseWeak(std::exchange(tree->context_, nullptr));
    --tree->weak_;
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

void SharedTree::CutLinksIn() {
  for (const auto& link : linksIn_) link->node = nullptr;
  linksIn_.clear();
}

void SharedTree::DropLink() {
  if (link_) link_->node = nullptr;
  link_.reset();
}

bool SharedTree::SetContext(SharedTree* context, DOMNode* node) {
  std::shared_ptr<Link> link;
  if (context) {
    SharedTree* holder = context->Current();
    try {
      link = std::make_shared<Link>(Link{node});
      auto& links = holder->linksIn_;
      // Dead links go when the list is full; it then keeps room for as many new ones as it
      // holds, so that the sweeps cost constant time per link.
      if (links.size() == links.capacity()) {
        std::erase_if(links, [](const auto& l) { return !l->node; });
        links.reserve(2 * links.size() + 1);
      }
      links.push_back(link);
    } catch (...) {
      return false;
    }
    AddWeak(context);
  }
  DropLink();
  if (context_) ReleaseWeak(context_);
  context_ = context;
  link_ = std::move(link);
  return true;
}

DOMNode* SharedTree::LinkedParent(SharedTree** holder) const {
  if (!link_ || !link_->node) return nullptr;
  SharedTree* current = CurrentOfWeak(context_);
  if (!current) return nullptr;
  *holder = current;
  return link_->node;
}

void SharedTree::ForgetLinksBelow(const DOMNode* node) {
  for (const auto& link : linksIn_) {
    // Climbs from the linked node to this tree's root; the links above the root lead elsewhere.
    for (const DOMNode* at = link->node; at && at != root_;) {
      at = at->Parent();
      if (at == node) {
        link->node = nullptr;
        break;
      }
    }
  }
  std::erase_if(linksIn_, [](const auto& l) { return !l->node; });
}

bool SharedTree::AttachTo(DOMNode* parent, SharedTree* into) {
  try {
    into->linksIn_.reserve(into->linksIn_.size() + linksIn_.size());
  } catch (...) {
    return false;
  }
  if (parent->AttachChild(root_) != VEXO::XML::kDomOk) return false;
  root_ = nullptr;
  SetContext(nullptr, nullptr);
  // Links to this tree's nodes now point into the tree that holds them.
  into->linksIn_.insert(into->linksIn_.end(), linksIn_.begin(), linksIn_.end());
  linksIn_.clear();
  into->AddRef();
  forward_ = into;
  return true;
}

}  // namespace Vantor::KQCP::xml
