#include "base/tree.h"

namespace sm {
namespace {

constexpr int8_t kRed = 0;
constexpr int8_t kBlack = 1;
constexpr int8_t kNoChild = -1;

int SideOf(const TreeNode* node) { return node->parent->child[1] == node ? 1 : 0; }

// A missing node and the root count as black.
int8_t ColourOf(const TreeNode* node) {
  if (!node || !node->parent) return kBlack;
  return node->parent->link_colour[SideOf(node)];
}

bool IsRed(const TreeNode* node) { return ColourOf(node) == kRed; }

// The root keeps no colour, so painting it is a no-op.
void Paint(TreeNode* node, int8_t colour) {
  if (node && node->parent) node->parent->link_colour[SideOf(node)] = colour;
}

// Points whatever pointed at `old_child` (its parent's link or the root) at
// `new_child`, leaving the link's colour as it was.
void Replace(TreeNode** tree, TreeNode* parent, TreeNode* old_child, TreeNode* new_child) {
  if (!parent) {
    *tree = new_child;
  } else {
    parent->child[parent->child[1] == old_child ? 1 : 0] = new_child;
  }
  if (new_child) new_child->parent = parent;
}

// Moves `top` down to side `dir` and its child on the other side up into its
// place. Every node keeps its colour; since colours live in the links, they
// are rewritten to follow the nodes.
void Rotate(TreeNode** tree, TreeNode* top, int dir) {
  const int up_side = 1 - dir;
  TreeNode* up = top->child[up_side];
  TreeNode* parent = top->parent;
  const int8_t top_colour = ColourOf(top);
  const int8_t up_colour = top->link_colour[up_side];
  TreeNode* inner = up->child[dir];

  top->child[up_side] = inner;
  top->link_colour[up_side] = up->link_colour[dir];
  if (inner) inner->parent = top;

  Replace(tree, parent, top, up);
  if (parent) parent->link_colour[SideOf(up)] = up_colour;

  up->child[dir] = top;
  up->link_colour[dir] = top_colour;
  top->parent = up;
}

TreeNode* Extreme(TreeNode* node, int side) {
  if (!node) return nullptr;
  while (node->child[side]) node = node->child[side];
  return node;
}

TreeNode* Step(TreeNode* root, TreeNode* node, int side) {
  if (!node) return Extreme(root, 1 - side);
  if (node->child[side]) return Extreme(node->child[side], 1 - side);
  while (node->parent && node->parent->child[side] == node) node = node->parent;
  return node->parent;
}

void FixAfterInsert(TreeNode** tree, TreeNode* node) {
  for (;;) {
    TreeNode* parent = node->parent;
    if (!parent || !IsRed(parent)) return;
    TreeNode* grand = parent->parent;  // a red node is never the root
    const int parent_side = SideOf(parent);
    TreeNode* uncle = grand->child[1 - parent_side];
    if (IsRed(uncle)) {
      grand->link_colour[0] = kBlack;
      grand->link_colour[1] = kBlack;
      Paint(grand, kRed);
      node = grand;
      continue;
    }
    if (SideOf(node) != parent_side) {
      Rotate(tree, parent, parent_side);
      parent = node;
    }
    Rotate(tree, grand, 1 - parent_side);
    Paint(parent, kBlack);
    Paint(grand, kRed);
    return;
  }
}

// Restores equal black heights for a black node that is about to be removed
// as a leaf; `node` stays in place (and a leaf) throughout.
void FixBeforeRemove(TreeNode** tree, TreeNode* node) {
  while (node->parent && !IsRed(node)) {
    TreeNode* parent = node->parent;
    const int side = SideOf(node);
    TreeNode* sibling = parent->child[1 - side];  // exists: node is black
    if (IsRed(sibling)) {
      Rotate(tree, parent, side);
      Paint(sibling, kBlack);
      Paint(parent, kRed);
      sibling = parent->child[1 - side];
    }
    TreeNode* near = sibling->child[side];
    TreeNode* far = sibling->child[1 - side];
    if (!IsRed(near) && !IsRed(far)) {
      Paint(sibling, kRed);
      node = parent;
      continue;
    }
    if (!IsRed(far)) {
      Rotate(tree, sibling, 1 - side);
      Paint(near, kBlack);
      Paint(sibling, kRed);
      far = sibling;
      sibling = near;
    }
    const int8_t parent_colour = ColourOf(parent);
    Rotate(tree, parent, side);
    Paint(sibling, parent_colour);
    Paint(parent, kBlack);
    Paint(far, kBlack);
    return;
  }
  Paint(node, kBlack);
}

}  // namespace

TreeNode* TreeFindSlot(TreeNode* root, TreeCompare compare, const void* context, TreeNode** slot) {
  TreeNode* match = nullptr;
  TreeNode* below = nullptr;
  for (TreeNode* node = root; node;) {
    const int order = compare(context, node);
    if (order > 0) {
      below = node;
      node = node->child[1];
    } else {
      if (order == 0) match = node;
      node = node->child[0];
    }
  }
  if (slot) *slot = below;
  return match;
}

TreeNode* TreeFind(TreeNode* root, TreeCompare compare, const void* context) {
  return TreeFindSlot(root, compare, context, nullptr);
}

TreeNode* TreeFindBelow(TreeNode* root, TreeCompare compare, const void* context) {
  TreeNode* below = nullptr;
  TreeFindSlot(root, compare, context, &below);
  return below;
}

void TreeInsertAfter(TreeNode** tree, TreeNode* position, TreeNode* node) {
  node->child[0] = node->child[1] = nullptr;
  node->link_colour[0] = node->link_colour[1] = kNoChild;

  TreeNode* at;
  int side;
  if (!position) {
    at = Extreme(*tree, 0);
    side = 0;
  } else if (!position->child[1]) {
    at = position;
    side = 1;
  } else {
    at = Extreme(position->child[1], 0);
    side = 0;
  }
  node->parent = at;
  if (!at) {
    *tree = node;
    return;
  }
  at->child[side] = node;
  at->link_colour[side] = kRed;
  FixAfterInsert(tree, node);
}

void TreeRemove(TreeNode** tree, TreeNode* node) {
  // The node that leaves the structure has at most one child: the node
  // itself, or its predecessor standing in for it.
  TreeNode* leaving = node;
  if (node->child[0] && node->child[1]) leaving = Extreme(node->child[0], 1);

  const int only = leaving->child[0] ? 0 : leaving->child[1] ? 1 : -1;
  if (only >= 0) {
    // A lone child is a red leaf: lift it so that `leaving` becomes a red
    // leaf whose removal changes no black height.
    TreeNode* child = leaving->child[only];
    const int8_t colour = ColourOf(leaving);
    Rotate(tree, leaving, 1 - only);
    Paint(child, colour);
    Paint(leaving, kRed);
  } else if (!IsRed(leaving)) {
    FixBeforeRemove(tree, leaving);
  }

  TreeNode* parent = leaving->parent;
  if (!parent) {
    *tree = nullptr;
  } else {
    const int side = SideOf(leaving);
    parent->child[side] = nullptr;
    parent->link_colour[side] = kNoChild;
  }

  if (leaving != node) {
    Replace(tree, node->parent, node, leaving);
    for (int side = 0; side < 2; ++side) {
      leaving->child[side] = node->child[side];
      leaving->link_colour[side] = node->link_colour[side];
      if (leaving->child[side]) leaving->child[side]->parent = leaving;
    }
  }

  node->parent = nullptr;
  node->child[0] = node->child[1] = nullptr;
  node->link_colour[0] = node->link_colour[1] = kNoChild;
}

TreeNode* TreeNext(TreeNode* root, TreeNode* node) { return Step(root, node, 1); }

TreeNode* TreePrev(TreeNode* root, TreeNode* node) { return Step(root, node, 0); }

}  // namespace sm
