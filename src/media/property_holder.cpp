#include "media/property_holder.h"

PropertyHolder::PropertyHolder() {
  if (rc::Succeeded(PropertySet::Create(&set_))) set_->AddNew();
}

PropertyHolder::PropertyHolder(const PropertyHolder& other, CloneTag) {
  if (other.set_) other.set_->Clone(&set_);
}

PropertyHolder::~PropertyHolder() = default;

PropertyHolder PropertyHolder::CloneFrom(const PropertyHolder& other) {
  return PropertyHolder(other, CloneTag());
}

PropertyHolder& PropertyHolder::operator=(const PropertyHolder& other) {
  set_ = other.set_;
  return *this;
}

Result PropertyHolder::SetInt(const std::string& name, int32_t value) {
  return set_ ? set_->SetInt(name, value) : rc::kOutOfMemory;
}

Result PropertyHolder::SetInt64(const std::string& name, int64_t value) {
  return set_ ? set_->SetInt64(name, value) : rc::kOutOfMemory;
}

Result PropertyHolder::SetString(const std::string& name, const std::string& value) {
  return set_ ? set_->SetString(name, value) : rc::kOutOfMemory;
}

std::string PropertyHolder::GetString(const std::string& name) const {
  return set_ ? set_->GetString(name) : std::string();
}

RefPtr<PropertySet> PropertyHolder::GetSet() const { return set_; }

Result PropertyHolder::Clear() {
  if (!set_) return rc::kOutOfMemory;
  set_->RemoveAll();
  return set_->AddNew();
}
