// Shared objects (devices, property sets, record stores) carry an intrusive reference count and
// are held through RefPtr. A new object has count 0; the first RefPtr raises it to 1 and the
// last release deletes the object through its virtual destructor.
#pragma once

#include <atomic>
#include <cstdint>

class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  int32_t AddRef() { return ++count_; }
  // Returns the new count; the object is gone when it is 0.
  int32_t Release();
  int32_t RefCount() const { return count_; }

 protected:
  virtual ~RefCounted() = default;

 private:
  std::atomic<int32_t> count_{0};
};

template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(T* object) : ptr_(object) {  // NOLINT: implicit, as a raw pointer converts
    if (ptr_) ptr_->AddRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.ptr_) {}
  RefPtr(RefPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <typename U>
  RefPtr(const RefPtr<U>& other) : RefPtr(other.Get()) {}
  ~RefPtr() { Reset(); }

  RefPtr& operator=(const RefPtr& other) {
    if (this != &other) Assign(other.ptr_);
    return *this;
  }
  RefPtr& operator=(RefPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
    }
    return *this;
  }
  RefPtr& operator=(T* object) {
    Assign(object);
    return *this;
  }

  void Reset() {
    if (ptr_) {
      T* old = ptr_;
      ptr_ = nullptr;
      old->Release();
    }
  }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  // Raise the new object first, so assigning an object to a pointer that already holds it
  // never lets its count touch 0.
  void Assign(T* object) {
    if (object) object->AddRef();
    T* old = ptr_;
    ptr_ = object;
    if (old) old->Release();
  }

  T* ptr_ = nullptr;
};
