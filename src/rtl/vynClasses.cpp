#include "vynClasses.h"

#include <algorithm>

namespace vyn {

void TPersistent::Assign(const TPersistent* ASource) {
  if (ASource) {
    ASource->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* ADest) const { ADest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* ASource) const {
  const String source = ASource ? ASource->ClassName() : String(u"nil");
  EConvertError::Toss(Format(u"Cannot assign a %s to a %s", {source, ClassName()}));
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Tell every interested component first, while this one is still whole.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    other->RemoveFreeNotification(this);
    other->Notification(this, opRemove);
  }
  while (!FComponents.empty()) delete FComponents.back();  // unlinks itself
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& back = AComponent->FFreeNotifies;
  if (std::find(back.begin(), back.end(), this) == back.end()) back.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  auto& mine = FFreeNotifies;
  mine.erase(std::remove(mine.begin(), mine.end(), AComponent), mine.end());
  auto& theirs = AComponent->FFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, opRemove);
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                    FComponents.end());
  AComponent->FOwner = nullptr;
}

void TComponent::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                        FFreeNotifies.end());
  }
}

int TStrings::Add(const String& AValue) {
  const int index = Count();
  Insert(index, AValue);
  return index;
}

void TStrings::AddStrings(const TStrings& AStrings) {
  for (int i = 0; i < AStrings.Count(); ++i) Add(AStrings.Get(i));
}

void TStrings::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TStrings*>(ASource)) {
    if (source == this) return;
    Clear();
    FNameValueSeparator = source->FNameValueSeparator;
    AddStrings(*source);
    return;
  }
  TPersistent::Assign(ASource);
}

bool TStrings::CompareStrings(const String& A, const String& B) const { return SameText(A, B); }

int TStrings::IndexOf(const String& AValue) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), AValue)) return i;
  return -1;
}

String TStrings::Text() const {
  String out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += u"\r\n";
  }
  return out;
}

void TStrings::SetText(const String& AText) {
  Clear();
  size_t start = 0;
  const size_t n = AText.size();
  while (start < n) {
    size_t end = start;
    while (end < n && AText[end] != u'\r' && AText[end] != u'\n') ++end;
    Add(AText.substr(start, end - start));
    if (end < n && AText[end] == u'\r') {
      ++end;
      if (end < n && AText[end] == u'\n') ++end;
    } else if (end < n) {
      ++end;
    }
    start = end;
  }
}

String TStrings::Names(int AIndex) const {
  const String line = Get(AIndex);
  const auto pos = line.find(FNameValueSeparator);
  return pos == String::npos ? String() : line.substr(0, pos);
}

String TStrings::ValueFromIndex(int AIndex) const {
  const String line = Get(AIndex);
  const auto pos = line.find(FNameValueSeparator);
  return pos == String::npos ? String() : line.substr(pos + 1);
}

int TStrings::IndexOfName(const String& AName) const {
  for (int i = 0; i < Count(); ++i) {
    const String line = Get(i);
    const auto pos = line.find(FNameValueSeparator);
    if (pos != String::npos && CompareStrings(line.substr(0, pos), AName)) return i;
  }
  return -1;
}

String TStrings::Values(const String& AName) const {
  const int index = IndexOfName(AName);
  return index < 0 ? String() : ValueFromIndex(index);
}

void TStrings::SetValues(const String& AName, const String& AValue) {
  const int index = IndexOfName(AName);
  if (AValue.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  const String line = AName + FNameValueSeparator + AValue;
  if (index >= 0) Put(index, line);
  else Add(line);
}

void TStringList::CheckIndex(int AIndex, int ALimit) const {
  if (AIndex < 0 || AIndex >= ALimit)
    EListError::Toss(Format(u"List index out of bounds (%d)", {AIndex}));
}

String TStringList::Get(int AIndex) const {
  CheckIndex(AIndex, Count());
  return FList[AIndex];
}

void TStringList::Put(int AIndex, const String& AValue) {
  CheckIndex(AIndex, Count());
  FList[AIndex] = AValue;
}

void TStringList::Insert(int AIndex, const String& AValue) {
  CheckIndex(AIndex, Count() + 1);
  FList.insert(FList.begin() + AIndex, AValue);
}

void TStringList::Delete(int AIndex) {
  CheckIndex(AIndex, Count());
  FList.erase(FList.begin() + AIndex);
}

bool TStringList::CompareStrings(const String& A, const String& B) const {
  return FCaseSensitive ? A == B : SameText(A, B);
}

}  // namespace vyn
