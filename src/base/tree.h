// Intrusive red-black tree: the node lives inside the caller's record, the
// tree never allocates, and ordering comes from a comparison callback given to
// each search. Insertion takes the position found by a search, so records with
// equal keys can be kept in whichever order the caller wants.
#pragma once

#include <cstdint>

namespace sm {

struct TreeNode {
  // Null for the root and for a node that is in no tree.
  TreeNode* parent;
  // Left (0) and right (1) child.
  TreeNode* child[2];
  // Colour of the left and right child: 0 red, 1 black, -1 no child. A node's
  // colour lives in its parent; the root has none and counts as black.
  int8_t link_colour[2];
};

// Compares the sought key (context) with a node: negative when the key lies
// before the node, 0 when it matches, positive when it lies after.
using TreeCompare = int (*)(const void* context, const TreeNode* node);

// The leftmost node that compares equal, or null.
TreeNode* TreeFind(TreeNode* root, TreeCompare compare, const void* context);

// Like TreeFind; also stores in *slot the greatest node that lies before the
// key (null when none). Inserting after the slot places a new node before all
// equal ones.
TreeNode* TreeFindSlot(TreeNode* root, TreeCompare compare, const void* context, TreeNode** slot);

// The greatest node for which the callback is positive, or null.
TreeNode* TreeFindBelow(TreeNode* root, TreeCompare compare, const void* context);

// Links `node` directly after `position` in order (first when `position` is
// null) and rebalances.
void TreeInsertAfter(TreeNode** tree, TreeNode* position, TreeNode* node);

// Unlinks `node`, rebalances, and clears the node's parent and children.
void TreeRemove(TreeNode** tree, TreeNode* node);

// In-order successor; the first node when `node` is null; null after the last.
TreeNode* TreeNext(TreeNode* root, TreeNode* node);

// In-order predecessor; the last node when `node` is null; null before the first.
TreeNode* TreePrev(TreeNode* root, TreeNode* node);

// Whether a node is currently linked into the tree whose root is `root`.
inline bool TreeIsLinked(const TreeNode* root, const TreeNode* node) {
  return node == root || node->parent != nullptr;
}

}  // namespace sm
