// Red-black tree over opaque 64-bit keys, ordered by a comparison function that the caller
// passes with a context at every call. Used for the k-best match stores and the collection
// of matches walked for sorted output.
//
// Contents: RBNode, RBCompare, RBVisit, RBAction; rbinsert, rbdelete; rbminimum, rbmaximum;
// rbwalk; rbdestroy; rbcheck.
#pragma once

#include <cstdint>

// A tree is the caller's pointer to its root node; an empty tree is a null root.
struct RBNode {
  uint64_t key;
  RBNode *left;  // keys that compare smaller
  RBNode *right;
  bool red;
};

// Negative, zero or positive as a is smaller than, equal to or greater than b. Keys that
// compare equal are the same element: the tree never holds two of them.
using RBCompare = int (*)(uint64_t a, uint64_t b, void *context);

// How rbwalk visits a node: a node with children is visited before its left subtree
// (RB_PREORDER), between its subtrees (RB_POSTORDER) and after its right subtree
// (RB_ENDORDER); a leaf once (RB_LEAF). Ascending order is RB_POSTORDER and RB_LEAF.
enum RBVisit : int { RB_PREORDER = 0, RB_POSTORDER = 1, RB_ENDORDER = 2, RB_LEAF = 3 };
// Called by rbwalk for each visit; depth is 0 at the root. Non-zero stops the walk.
using RBAction = int (*)(uint64_t key, RBVisit kind, uint64_t depth, void *context);

// Inserts key unless an equal key is present. Returns the key held in the tree: the present
// one with *ret_created false, or key itself with *ret_created true. A null root reference
// returns 0 with *ret_created false. A node that cannot be allocated ends the process with
// "file %s, line %lu: malloc(%lu bytes) failed: %s".
uint64_t rbinsert(uint64_t key, bool *ret_created, RBNode **root, RBCompare compare, void *context);

// Removes the node whose key compares equal to key: 0, or -1 when the tree is empty or holds
// no equal key (not an error of the tree). A deletion stack that cannot grow ends the process
// with "file \"%s\", line %lu: realloc(%lu) failed: %s".
int rbdelete(uint64_t key, RBNode **root, RBCompare compare, void *context);

// The key of the leftmost (smallest) or rightmost (largest) node; 0 for an empty tree.
uint64_t rbminimum(const RBNode *root);
uint64_t rbmaximum(const RBNode *root);

// Walks the tree calling action as described at RBVisit: 0, or -1 when the action stopped it.
int rbwalk(const RBNode *root, RBAction action, void *context);

// Frees every node, children before their parent, and sets *root to null. Keys belong to the
// caller and are not released.
void rbdestroy(RBNode **root);

// Checks the invariants: black root, no red node with a red child, the same number of black
// nodes on every path from the root to a leaf, and keys strictly ascending in order. Returns
// 0, or -1 with the first violation in the ErrorBuffer (text only).
int rbcheck(const RBNode *root, RBCompare compare, void *context);
