#include "base/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

namespace sm {
namespace {

struct Record {
  TreeNode node;
  int key;
  int serial;
};

Record* RecordOf(TreeNode* node) {
  return node ? reinterpret_cast<Record*>(reinterpret_cast<char*>(node) - offsetof(Record, node)) : nullptr;
}
const Record* RecordOf(const TreeNode* node) { return RecordOf(const_cast<TreeNode*>(node)); }

int CompareKey(const void* context, const TreeNode* node) {
  const int key = *static_cast<const int*>(context);
  const int other = RecordOf(node)->key;
  return key < other ? -1 : key > other ? 1 : 0;
}

// Never matches; an equal key counts as lying after, so inserts go last.
int CompareKeyAfterEqual(const void* context, const TreeNode* node) {
  return *static_cast<const int*>(context) < RecordOf(node)->key ? -1 : 1;
}

// Checks links, colour bookkeeping and the red-black rules below `node`;
// returns the black height and records the in-order keys and the shortest
// and longest path to a missing child.
struct Shape {
  std::vector<int> keys;
  int shortest = 1 << 30;
  int longest = 0;
};

int CheckSubtree(const TreeNode* node, bool node_red, int depth, Shape* shape) {
  if (!node) {
    shape->shortest = std::min(shape->shortest, depth);
    shape->longest = std::max(shape->longest, depth);
    return 1;
  }
  int heights[2];
  for (int side = 0; side < 2; ++side) {
    const TreeNode* child = node->child[side];
    if (!child) {
      EXPECT_EQ(node->link_colour[side], -1);
    } else {
      EXPECT_EQ(child->parent, node);
      EXPECT_TRUE(node->link_colour[side] == 0 || node->link_colour[side] == 1);
      EXPECT_FALSE(node_red && node->link_colour[side] == 0) << "red node with a red child";
    }
    if (side == 1) shape->keys.push_back(RecordOf(node)->key);
    heights[side] = CheckSubtree(child, child && node->link_colour[side] == 0, depth + 1, shape);
  }
  EXPECT_EQ(heights[0], heights[1]) << "black heights differ below key " << RecordOf(node)->key;
  return heights[0] + (node_red ? 0 : 1);
}

Shape CheckTree(const TreeNode* root) {
  Shape shape;
  if (root) {
    EXPECT_EQ(root->parent, nullptr);
  }
  CheckSubtree(root, false, 0, &shape);
  EXPECT_TRUE(std::is_sorted(shape.keys.begin(), shape.keys.end()));
  return shape;
}

std::vector<int> KeysForward(TreeNode* root) {
  std::vector<int> keys;
  for (TreeNode* node = TreeNext(root, nullptr); node; node = TreeNext(root, node)) keys.push_back(RecordOf(node)->key);
  return keys;
}

std::vector<int> KeysBackward(TreeNode* root) {
  std::vector<int> keys;
  for (TreeNode* node = TreePrev(root, nullptr); node; node = TreePrev(root, node)) keys.push_back(RecordOf(node)->key);
  std::reverse(keys.begin(), keys.end());
  return keys;
}

void InsertSorted(TreeNode** root, Record* record) {
  TreeNode* slot = nullptr;
  TreeFindSlot(*root, CompareKey, &record->key, &slot);
  TreeInsertAfter(root, slot, &record->node);
}

TEST(Tree, RandomInsertsAndRemovesKeepInvariants) {
  std::mt19937 random(1234);
  std::vector<Record> records(600);
  TreeNode* root = nullptr;
  for (size_t i = 0; i < records.size(); ++i) {
    records[i] = Record{{}, static_cast<int>(random() % 200), static_cast<int>(i)};
  }
  std::vector<Record*> linked;
  std::vector<Record*> unlinked;
  for (Record& record : records) unlinked.push_back(&record);

  for (int round = 0; round < 4000; ++round) {
    const bool insert = !unlinked.empty() && (linked.empty() || random() % 5 < 3);
    if (insert) {
      const size_t pick = random() % unlinked.size();
      Record* record = unlinked[pick];
      unlinked.erase(unlinked.begin() + pick);
      InsertSorted(&root, record);
      linked.push_back(record);
      ASSERT_TRUE(TreeIsLinked(root, &record->node));
    } else {
      const size_t pick = random() % linked.size();
      Record* record = linked[pick];
      linked.erase(linked.begin() + pick);
      TreeRemove(&root, &record->node);
      unlinked.push_back(record);
      ASSERT_EQ(record->node.parent, nullptr);
      ASSERT_EQ(record->node.child[0], nullptr);
      ASSERT_EQ(record->node.child[1], nullptr);
      ASSERT_FALSE(TreeIsLinked(root, &record->node));
    }
    if (round % 50 == 0 || round > 3900) {
      const Shape shape = CheckTree(root);
      std::vector<int> keys;
      for (Record* record : linked) keys.push_back(record->key);
      std::sort(keys.begin(), keys.end());
      ASSERT_EQ(shape.keys, keys);
      ASSERT_EQ(KeysForward(root), keys);
      ASSERT_EQ(KeysBackward(root), keys);
      if (HasFailure()) return;
    }
  }
  // Drain completely: the tree must end empty.
  while (!linked.empty()) {
    TreeRemove(&root, &linked.back()->node);
    linked.pop_back();
    CheckTree(root);
  }
  EXPECT_EQ(root, nullptr);
}

TEST(Tree, MonotonicInsertsStayBalanced) {
  for (const bool ascending : {true, false}) {
    SCOPED_TRACE(ascending ? "ascending, each after the last" : "descending, each first");
    std::vector<Record> records(1000);
    TreeNode* root = nullptr;
    for (int i = 0; i < 1000; ++i) {
      records[i].key = ascending ? i : 999 - i;
      TreeInsertAfter(&root, ascending ? TreePrev(root, nullptr) : nullptr, &records[i].node);
    }
    const Shape shape = CheckTree(root);
    EXPECT_LE(shape.longest, 2 * shape.shortest);
    ASSERT_EQ(shape.keys.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(shape.keys[i], i);
  }
}

// Equal keys: a found slot puts the newcomer before the equal ones; a callback
// that calls equal keys "after" puts it behind them.
TEST(Tree, EqualKeysFollowTheCallback) {
  struct Case {
    TreeCompare compare;
    std::vector<int> serials;
  };
  for (const Case& c : {Case{CompareKey, {2, 1, 0}}, Case{CompareKeyAfterEqual, {0, 1, 2}}}) {
    Record records[5] = {{{}, 1, 10}, {{}, 9, 11}, {{}, 5, 0}, {{}, 5, 1}, {{}, 5, 2}};
    TreeNode* root = nullptr;
    for (Record& record : records) {
      TreeNode* slot = nullptr;
      TreeFindSlot(root, c.compare, &record.key, &slot);
      TreeInsertAfter(&root, slot, &record.node);
    }
    CheckTree(root);
    std::vector<int> serials;
    for (TreeNode* node = TreeNext(root, nullptr); node; node = TreeNext(root, node)) {
      if (RecordOf(node)->key == 5) serials.push_back(RecordOf(node)->serial);
    }
    EXPECT_EQ(serials, c.serials);
    // The leftmost equal node is the one found.
    const int key = 5;
    EXPECT_EQ(RecordOf(TreeFind(root, CompareKey, &key))->serial, c.serials[0]);
  }
}

TEST(Tree, SearchesOnKeysAroundTheStoredOnes) {
  Record records[4] = {{{}, 10, 0}, {{}, 20, 1}, {{}, 20, 2}, {{}, 30, 3}};
  TreeNode* root = nullptr;
  for (Record& record : records) InsertSorted(&root, &record);
  struct Case {
    int key;
    int found;  // serial, or -1 for none
    int below;  // serial of the slot, or -1
  };
  const Case cases[] = {{5, -1, -1}, {10, 0, -1}, {15, -1, 0}, {20, 2, 0}, {25, -1, 1}, {30, 3, 1}, {35, -1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    TreeNode* slot = reinterpret_cast<TreeNode*>(1);
    const Record* found = RecordOf(TreeFindSlot(root, CompareKey, &c.key, &slot));
    EXPECT_EQ(found ? found->serial : -1, c.found);
    EXPECT_EQ(slot ? RecordOf(slot)->serial : -1, c.below);
    const Record* below = RecordOf(TreeFindBelow(root, CompareKey, &c.key));
    EXPECT_EQ(below ? below->serial : -1, c.below);
    EXPECT_EQ(TreeFind(root, CompareKey, &c.key), found ? &found->node : nullptr);
  }
  const int key = 1;
  EXPECT_EQ(TreeFind(nullptr, CompareKey, &key), nullptr);
  EXPECT_EQ(TreeFindBelow(nullptr, CompareKey, &key), nullptr);
}

TEST(Tree, RemovingTheOnlyNodeEmptiesTheTree) {
  Record record{{}, 1, 0};
  TreeNode* root = nullptr;
  TreeInsertAfter(&root, nullptr, &record.node);
  EXPECT_EQ(root, &record.node);
  EXPECT_TRUE(TreeIsLinked(root, &record.node));
  TreeRemove(&root, &record.node);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(record.node.parent, nullptr);
  EXPECT_EQ(record.node.child[0], nullptr);
  EXPECT_EQ(record.node.child[1], nullptr);
  EXPECT_FALSE(TreeIsLinked(root, &record.node));
  EXPECT_EQ(TreeNext(root, nullptr), nullptr);
  EXPECT_EQ(TreePrev(root, nullptr), nullptr);
}

TEST(Tree, RemovingANodeWithTwoChildrenMovesItsPredecessorIn) {
  // Keys 1..3 make the middle one the root with two red children, so no
  // rebalancing moves anything but the predecessor.
  Record records[3] = {{{}, 1, 0}, {{}, 2, 1}, {{}, 3, 2}};
  TreeNode* root = nullptr;
  for (Record& record : records) InsertSorted(&root, &record);
  ASSERT_EQ(root, &records[1].node);
  TreeRemove(&root, &records[1].node);
  EXPECT_EQ(root, &records[0].node);
  EXPECT_EQ(root->child[0], nullptr);
  EXPECT_EQ(root->child[1], &records[2].node);
  EXPECT_EQ(records[2].node.parent, root);
  EXPECT_EQ(records[1].node.parent, nullptr);
  EXPECT_EQ(records[1].node.child[0], nullptr);
  EXPECT_EQ(records[1].node.child[1], nullptr);
  EXPECT_EQ(CheckTree(root).keys, (std::vector<int>{1, 3}));

  // Deeper: removing the root of 15 keeps every other key in order.
  std::vector<Record> many(15);
  root = nullptr;
  for (int i = 0; i < 15; ++i) {
    many[i].key = i;
    InsertSorted(&root, &many[i]);
  }
  Record* removed = RecordOf(root);
  ASSERT_TRUE(root->child[0] && root->child[1]);
  TreeRemove(&root, &removed->node);
  EXPECT_FALSE(TreeIsLinked(root, &removed->node));
  std::vector<int> expected;
  for (int i = 0; i < 15; ++i) {
    if (i != removed->key) expected.push_back(i);
  }
  EXPECT_EQ(CheckTree(root).keys, expected);
  EXPECT_EQ(KeysForward(root), expected);
}

TEST(Tree, IterationStopsAtTheEnds) {
  Record records[3] = {{{}, 1, 0}, {{}, 2, 1}, {{}, 3, 2}};
  TreeNode* root = nullptr;
  for (Record& record : records) InsertSorted(&root, &record);
  EXPECT_EQ(TreeNext(root, &records[2].node), nullptr);
  EXPECT_EQ(TreePrev(root, &records[0].node), nullptr);
  EXPECT_EQ(TreeNext(root, nullptr), &records[0].node);
  EXPECT_EQ(TreePrev(root, nullptr), &records[2].node);
  EXPECT_EQ(TreeNext(root, &records[0].node), &records[1].node);
  EXPECT_EQ(TreePrev(root, &records[2].node), &records[1].node);
}

}  // namespace
}  // namespace sm
