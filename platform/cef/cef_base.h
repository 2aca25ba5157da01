// Reference counting shared by every object of the browser layer: an object starts with no
// owner, each CefRefPtr holds one count, and the object deletes itself when the last goes.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

class CefBase {
 public:
  virtual void AddRef() const = 0;
  virtual bool Release() const = 0;  // true when this call deleted the object
  virtual int GetRefCt() const = 0;

 protected:
  virtual ~CefBase() = default;
};

// Supplies the counting for a class derived (virtually) from CefBase; several interfaces of
// one object share the single count.
template <class Derived>
class CefRefCounted : public virtual CefBase {
 public:
  void AddRef() const override { count_.fetch_add(1, std::memory_order_relaxed); }
  bool Release() const override {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete static_cast<const Derived*>(this);
      return true;
    }
    return false;
  }
  int GetRefCt() const override { return count_.load(std::memory_order_relaxed); }

 private:
  mutable std::atomic<int> count_{0};
};

template <class T>
class CefRefPtr {
 public:
  CefRefPtr() = default;
  CefRefPtr(std::nullptr_t) {}
  CefRefPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  CefRefPtr(const CefRefPtr& o) : CefRefPtr(o.p_) {}
  template <class U>
  CefRefPtr(const CefRefPtr<U>& o) : CefRefPtr(o.get()) {}
  CefRefPtr(CefRefPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~CefRefPtr() {
    if (p_) p_->Release();
  }
  CefRefPtr& operator=(CefRefPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const CefRefPtr& o) const { return p_ == o.p_; }
  bool operator!=(const CefRefPtr& o) const { return p_ != o.p_; }
  bool operator<(const CefRefPtr& o) const { return p_ < o.p_; }

 private:
  T* p_ = nullptr;
};
