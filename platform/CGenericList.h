#pragma once

// A named list of object pointers walked by position. The list stores the
// pointers only; whoever removes an object owns it again.

#include <new>

#include "platform/Windows.h"

struct __POSITION {
  int unused;
};
typedef __POSITION* POSITION;

template <class OBJECT>
class CGenericList {
 public:
  explicit CGenericList(LPCTSTR name) : m_name(name) {}
  ~CGenericList() {
    while (m_head != nullptr) RemoveHead();
  }
  CGenericList(const CGenericList&) = delete;
  CGenericList& operator=(const CGenericList&) = delete;

  // Null when the node cannot be allocated; the object is then not added.
  POSITION AddTail(OBJECT* object) {
    Node* node = new (std::nothrow) Node{object, m_tail, nullptr};
    if (node == nullptr) return nullptr;
    (m_tail != nullptr ? m_tail->next : m_head) = node;
    m_tail = node;
    ++m_count;
    return ToPosition(node);
  }

  POSITION GetHeadPosition() const { return ToPosition(m_head); }
  POSITION GetTailPosition() const { return ToPosition(m_tail); }

  // The object at rp; rp moves to the next position (null after the tail).
  OBJECT* GetNext(POSITION& rp) const {
    Node* node = FromPosition(rp);
    if (node == nullptr) return nullptr;
    rp = ToPosition(node->next);
    return node->object;
  }

  OBJECT* Get(POSITION p) const {
    Node* node = FromPosition(p);
    return node != nullptr ? node->object : nullptr;
  }

  OBJECT* Remove(POSITION p) {
    Node* node = FromPosition(p);
    if (node == nullptr) return nullptr;
    (node->prev != nullptr ? node->prev->next : m_head) = node->next;
    (node->next != nullptr ? node->next->prev : m_tail) = node->prev;
    OBJECT* object = node->object;
    delete node;
    --m_count;
    return object;
  }

  OBJECT* RemoveHead() { return Remove(GetHeadPosition()); }
  int GetCount() const { return m_count; }
  LPCTSTR Name() const { return m_name; }

 private:
  struct Node {
    OBJECT* object;
    Node* prev;
    Node* next;
  };
  static POSITION ToPosition(Node* node) { return reinterpret_cast<POSITION>(node); }
  static Node* FromPosition(POSITION p) { return reinterpret_cast<Node*>(p); }

  LPCTSTR m_name;
  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  int m_count = 0;
};
