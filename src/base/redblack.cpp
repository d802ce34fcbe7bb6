// Red-black tree: top-down insertion in one pass, deletion along a recorded path with
// bottom-up repair, walks, and the invariant checker.
#include "base/redblack.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <source_location>

#include "base/error.hpp"

// A node takes 32 bytes, the size the allocation message reports.
static_assert(sizeof(RBNode) == 32);

namespace {

// The tree's allocations end the process on failure with the system's error text, naming
// the allocation site.
void *mallocorexit(size_t bytes, std::source_location where = std::source_location::current()) {
  void *block = std::malloc(bytes);
  if (block == nullptr) {
    const std::string_view unit = sourceunit(where.file_name());
    std::fprintf(stderr, "file %.*s, line %lu: malloc(%lu bytes) failed: %s\n",
                 static_cast<int>(unit.size()), unit.data(),
                 static_cast<unsigned long>(where.line()), static_cast<unsigned long>(bytes),
                 std::strerror(errno));
    std::exit(EXIT_FAILURE);
  }
  return block;
}

void *reallocorexit(void *old, size_t bytes,
                    std::source_location where = std::source_location::current()) {
  void *block = std::realloc(old, bytes);
  if (block == nullptr) {
    const std::string_view unit = sourceunit(where.file_name());
    std::fprintf(stderr, "file \"%.*s\", line %lu: realloc(%lu) failed: %s\n",
                 static_cast<int>(unit.size()), unit.data(),
                 static_cast<unsigned long>(where.line()), static_cast<unsigned long>(bytes),
                 std::strerror(errno));
    std::exit(EXIT_FAILURE);
  }
  return block;
}

RBNode *&link(RBNode *node, int dir) { return dir != 0 ? node->right : node->left; }
bool isred(const RBNode *node) { return node != nullptr && node->red; }

RBNode *newnode(uint64_t key) {
  RBNode *node = static_cast<RBNode *>(mallocorexit(sizeof(RBNode)));
  node->key = key;
  node->left = nullptr;
  node->right = nullptr;
  node->red = true;
  return node;
}

// Rotation of the subtree at top towards dir; the new top is black, the old one red.
RBNode *rotate(RBNode *top, int dir) {
  RBNode *save = link(top, !dir);
  link(top, !dir) = link(save, dir);
  link(save, dir) = top;
  top->red = true;
  save->red = false;
  return save;
}

RBNode *rotatetwice(RBNode *top, int dir) {
  link(top, !dir) = rotate(link(top, !dir), !dir);
  return rotate(top, dir);
}

// The path of a deletion: the addresses of the links from the root reference down to the
// current node. Room for 32 entries in place; beyond that it moves to the heap and grows by
// 16 entries at a time.
struct PathStack {
  static constexpr size_t initial = 32;
  static constexpr size_t increment = 16;
  RBNode **inplace[initial];
  RBNode ***entries = inplace;
  size_t capacity = initial;

  void reserve(size_t needed) {
    while (needed > capacity) {
      const size_t grown = capacity + increment;
      const size_t bytes = grown * sizeof(RBNode **);
      void *block = reallocorexit(entries == inplace ? nullptr : entries, bytes);
      if (entries == inplace) std::memcpy(block, inplace, sizeof inplace);
      entries = static_cast<RBNode ***>(block);
      capacity = grown;
    }
  }
  ~PathStack() {
    if (entries != inplace) std::free(entries);
  }
};

// Repairs the black heights after a black node was removed from the link at path[level].
void repairafterdelete(PathStack *path, size_t level) {
  RBNode *x = *path->entries[level];
  while (level > 0 && !isred(x)) {
    RBNode *parent = *path->entries[level - 1];
    const int dir = path->entries[level] == &parent->right ? 1 : 0;
    RBNode *sibling = link(parent, !dir);  // never null: its side has the larger black height
    if (sibling->red) {
      // Turn the red sibling into the parent's parent; x's side gains one level.
      *path->entries[level - 1] = rotate(parent, dir);
      path->reserve(level + 2);
      path->entries[level + 1] = path->entries[level];
      path->entries[level] = &link(sibling, dir);
      level++;
      sibling = link(parent, !dir);
    }
    if (!isred(sibling->left) && !isred(sibling->right)) {
      sibling->red = true;
      x = parent;
      level--;
      continue;
    }
    if (!isred(link(sibling, !dir))) {
      link(parent, !dir) = rotate(sibling, !dir);
      sibling = link(parent, !dir);
    }
    const bool parentred = parent->red;
    RBNode *top = rotate(parent, dir);
    top->red = parentred;
    parent->red = false;
    link(top, !dir)->red = false;
    *path->entries[level - 1] = top;
    return;
  }
  if (x != nullptr) x->red = false;
}

int walk(const RBNode *node, RBAction action, uint64_t depth, void *context) {
  if (node->left == nullptr && node->right == nullptr) {
    return action(node->key, RB_LEAF, depth, context);
  }
  if (action(node->key, RB_PREORDER, depth, context) != 0) return -1;
  if (node->left != nullptr && walk(node->left, action, depth + 1, context) != 0) return -1;
  if (action(node->key, RB_POSTORDER, depth, context) != 0) return -1;
  if (node->right != nullptr && walk(node->right, action, depth + 1, context) != 0) return -1;
  if (action(node->key, RB_ENDORDER, depth, context) != 0) return -1;
  return 0;
}

// Black height of the subtree, or -1 after reporting a violation. Keys must lie strictly
// between low and high where those bounds exist.
int64_t checksubtree(const RBNode *node, const uint64_t *low, const uint64_t *high,
                     RBCompare compare, void *context) {
  if (node == nullptr) return 1;
  if ((low != nullptr && compare(*low, node->key, context) >= 0) ||
      (high != nullptr && compare(node->key, *high, context) >= 0)) {
    return reporttext("key %lu out of order", static_cast<unsigned long>(node->key));
  }
  if (node->red && (isred(node->left) || isred(node->right))) {
    return reporttext("red node with key %lu has a red child",
                      static_cast<unsigned long>(node->key));
  }
  const int64_t left = checksubtree(node->left, low, &node->key, compare, context);
  if (left < 0) return -1;
  const int64_t right = checksubtree(node->right, &node->key, high, compare, context);
  if (right < 0) return -1;
  if (left != right) {
    return reporttext("black heights %ld and %ld differ below key %lu", static_cast<long>(left),
                      static_cast<long>(right), static_cast<unsigned long>(node->key));
  }
  return left + (node->red ? 0 : 1);
}

}  // namespace

uint64_t rbinsert(uint64_t key, bool *ret_created, RBNode **root, RBCompare compare,
                  void *context) {
  *ret_created = false;
  if (root == nullptr) return 0;
  if (*root == nullptr) {
    *root = newnode(key);
    (*root)->red = false;
    *ret_created = true;
    return key;
  }
  // Top-down: split every node with two red children on the way down, repairing a red
  // parent by one or two rotations at the grandparent, so the new red leaf can be attached
  // with at most one more repair. head is a false root above the real one.
  RBNode head{};
  head.right = *root;
  RBNode *greatgrandparent = &head;
  RBNode *grandparent = nullptr;
  RBNode *parent = nullptr;
  RBNode *current = *root;
  int dir = 0;
  int lastdir = 0;
  uint64_t result = key;
  for (;;) {
    bool created = false;
    if (current == nullptr) {
      current = newnode(key);
      link(parent, dir) = current;
      created = true;
    } else if (isred(current->left) && isred(current->right)) {
      current->red = true;
      current->left->red = false;
      current->right->red = false;
    }
    if (isred(current) && isred(parent)) {
      const int side = greatgrandparent->right == grandparent ? 1 : 0;
      if (current == link(parent, lastdir)) {
        link(greatgrandparent, side) = rotate(grandparent, !lastdir);
      } else {
        link(greatgrandparent, side) = rotatetwice(grandparent, !lastdir);
      }
    }
    if (created) {
      *ret_created = true;
      break;
    }
    const int comparison = compare(key, current->key, context);
    if (comparison == 0) {
      result = current->key;
      break;
    }
    lastdir = dir;
    dir = comparison > 0 ? 1 : 0;
    if (grandparent != nullptr) greatgrandparent = grandparent;
    grandparent = parent;
    parent = current;
    current = link(current, dir);
  }
  *root = head.right;
  (*root)->red = false;
  return result;
}

int rbdelete(uint64_t key, RBNode **root, RBCompare compare, void *context) {
  if (root == nullptr || *root == nullptr) return -1;
  PathStack path;
  size_t top = 0;
  path.entries[0] = root;
  RBNode *node = *root;
  for (;;) {
    const int comparison = compare(key, node->key, context);
    if (comparison == 0) break;
    RBNode **next = comparison < 0 ? &node->left : &node->right;
    if (*next == nullptr) return -1;
    path.reserve(top + 2);
    path.entries[++top] = next;
    node = *next;
  }
  if (node->left != nullptr && node->right != nullptr) {
    // Two children: the in-order successor's key takes this node's place, and the
    // successor's node (which has no left child) is the one removed.
    RBNode **next = &node->right;
    path.reserve(top + 2);
    path.entries[++top] = next;
    while ((*next)->left != nullptr) {
      next = &(*next)->left;
      path.reserve(top + 2);
      path.entries[++top] = next;
    }
    node->key = (*next)->key;
    node = *next;
  }
  RBNode *child = node->left != nullptr ? node->left : node->right;
  *path.entries[top] = child;
  const bool removedred = node->red;
  std::free(node);
  if (!removedred) repairafterdelete(&path, top);
  if (*root != nullptr) (*root)->red = false;
  return 0;
}

uint64_t rbminimum(const RBNode *root) {
  if (root == nullptr) return 0;
  while (root->left != nullptr) root = root->left;
  return root->key;
}

uint64_t rbmaximum(const RBNode *root) {
  if (root == nullptr) return 0;
  while (root->right != nullptr) root = root->right;
  return root->key;
}

int rbwalk(const RBNode *root, RBAction action, void *context) {
  if (root == nullptr) return 0;
  return walk(root, action, 0, context) != 0 ? -1 : 0;
}

void rbdestroy(RBNode **root) {
  if (*root == nullptr) return;
  rbdestroy(&(*root)->left);
  rbdestroy(&(*root)->right);
  std::free(*root);
  *root = nullptr;
}

int rbcheck(const RBNode *root, RBCompare compare, void *context) {
  if (root == nullptr) return 0;
  if (root->red)
    return reporttext("root with key %lu is red", static_cast<unsigned long>(root->key));
  return checksubtree(root, nullptr, nullptr, compare, context) < 0 ? -1 : 0;
}
