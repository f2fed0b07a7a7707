// Persistent objects, components with owners, and string lists.
#pragma once

#include <utility>
#include <vector>

#include "vynSysUtils.h"

namespace vyn {

// An object that can copy another of a class it accepts. Assign falls back to the
// source's AssignTo; when neither side accepts, EConvertError "Cannot assign a %s to a %s"
// (source class or "nil", then this class).
class TPersistent : public TObject {
public:
  virtual void Assign(const TPersistent* ASource);
  // The object this one belongs to, for walking up to the owning component; none here.
  virtual TPersistent* GetOwner() const { return nullptr; }

protected:
  virtual void AssignTo(TPersistent* ADest) const;
  [[noreturn]] void AssignError(const TPersistent* ASource) const;
};

VYN_EXCEPTION_CLASS(EListError, Exception);

enum TOperation { opInsert, opRemove };

// A component may have an owner, which destroys it. Ownership contract: a component
// created with an owner must be created by CreateOwned (heap, released by the owner);
// one without an owner belongs to whoever created it (usually a std::unique_ptr).
// Destroying a component first tells every component that asked for FreeNotification.
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  TPersistent* GetOwner() const override { return FOwner; }
  const String& Name() const { return FName; }
  void SetName(const String& AName) { FName = AName; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int AIndex) const { return FComponents.at(AIndex); }

  // Asks for Notification(this, opRemove) on AComponent when this one is destroyed;
  // the request is mutual, so either side going away cancels it on the other.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

protected:
  // Called on an owner when a component is inserted or removed, and on every
  // component that asked for a free notification when the notifier is destroyed.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);

private:
  TComponent* FOwner = nullptr;
  String FName;
  std::vector<TComponent*> FComponents;     // owned
  std::vector<TComponent*> FFreeNotifies;   // not owned
};

// Creates a component that AOwner owns and destroys.
template <class T, class... Args>
T* CreateOwned(TComponent* AOwner, Args&&... AArgs) {
  return new T(AOwner, std::forward<Args>(AArgs)...);  // released by ~TComponent of AOwner
}

// An ordered list of strings with name=value access.
class TStrings : public TPersistent {
public:
  virtual int Count() const = 0;
  virtual String Get(int AIndex) const = 0;
  virtual void Put(int AIndex, const String& AValue) = 0;
  virtual void Insert(int AIndex, const String& AValue) = 0;
  virtual void Delete(int AIndex) = 0;
  virtual void Clear() = 0;

  String operator[](int AIndex) const { return Get(AIndex); }
  virtual int Add(const String& AValue);
  // Virtual so that a list with its own line form (header lists) can convert; Assign
  // goes through it too.
  virtual void AddStrings(const TStrings& AStrings);
  void Assign(const TPersistent* ASource) override;
  virtual int IndexOf(const String& AValue) const;

  // Lines joined with CR LF, each one ended; setting splits at CR LF, LF or CR.
  String Text() const;
  void SetText(const String& AText);

  char16_t NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(char16_t AValue) { FNameValueSeparator = AValue; }
  String Names(int AIndex) const;            // empty when the line has no separator
  String ValueFromIndex(int AIndex) const;
  virtual String Values(const String& AName) const;  // empty when no line has that name
  virtual void SetValues(const String& AName, const String& AValue);  // empty value deletes
  virtual int IndexOfName(const String& AName) const;

protected:
  // Whether comparisons of lines and names respect case (string lists: false).
  virtual bool CompareStrings(const String& A, const String& B) const;

private:
  char16_t FNameValueSeparator = u'=';
};

class TStringList : public TStrings {
public:
  int Count() const override { return static_cast<int>(FList.size()); }
  String Get(int AIndex) const override;
  void Put(int AIndex, const String& AValue) override;
  void Insert(int AIndex, const String& AValue) override;
  void Delete(int AIndex) override;
  void Clear() override { FList.clear(); }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool AValue) { FCaseSensitive = AValue; }

protected:
  bool CompareStrings(const String& A, const String& B) const override;

private:
  void CheckIndex(int AIndex, int ALimit) const;  // "List index out of bounds (%d)"

  std::vector<String> FList;
  bool FCaseSensitive = false;
};

}  // namespace vyn
