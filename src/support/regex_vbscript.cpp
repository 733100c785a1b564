#include "support/regex_vbscript.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sorrel {

namespace {

// One reference to an automation object.
class DispatchRef {
 public:
  DispatchRef() = default;
  explicit DispatchRef(IDispatch* adopted) : object_(adopted) {}
  DispatchRef(const DispatchRef& other) : object_(other.object_) {
    if (object_ != nullptr) object_->AddRef();
  }
  DispatchRef& operator=(DispatchRef other) {
    std::swap(object_, other.object_);
    return *this;
  }
  ~DispatchRef() {
    if (object_ != nullptr) object_->Release();
  }
  IDispatch* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  IDispatch* object_ = nullptr;
};

// A VARIANT that clears itself.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }

  static void SetBool(VARIANT& v, bool value) {
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  static void SetInt(VARIANT& v, long value) {
    v.vt = VT_I4;
    v.lVal = value;
  }
  // Null when the text could not be allocated.
  static bool SetText(VARIANT& v, std::u16string_view text) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                  static_cast<UINT>(text.size()));
    return v.bstrVal != nullptr;
  }

 private:
  VARIANT value_;
};

// Arguments of one late-bound call, in the order of the member's signature.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  VARIANT& Add() {
    VARIANT v;
    VariantInit(&v);
    values_.push_back(v);
    return values_.back();
  }
  // IDispatch::Invoke takes its arguments last first.
  std::vector<VARIANT> Reversed() const { return {values_.rbegin(), values_.rend()}; }

 private:
  std::vector<VARIANT> values_;
};

DISPID MemberId(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    return DISPID_UNKNOWN;
  }
  return id;
}

// Calls member `name` of `object`; false when the object lacks it or the
// call fails.
bool Call(const DispatchRef& object, const wchar_t* name, WORD kind, const Arguments& arguments,
          VARIANT* result) {
  if (!object) return false;
  const DISPID id = MemberId(object.get(), name);
  if (id == DISPID_UNKNOWN) return false;
  std::vector<VARIANT> args = arguments.Reversed();
  DISPPARAMS params{};
  params.rgvarg = args.empty() ? nullptr : args.data();
  params.cArgs = static_cast<UINT>(args.size());
  DISPID putId = DISPID_PROPERTYPUT;
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  return SUCCEEDED(object.get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result,
                                        nullptr, nullptr));
}

bool Get(const DispatchRef& object, const wchar_t* name, VARIANT* result) {
  Arguments none;
  return Call(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, result);
}

void PutFlag(const DispatchRef& object, const wchar_t* name, bool flag) {
  Arguments arguments;
  Variant::SetBool(arguments.Add(), flag);
  Call(object, name, DISPATCH_PROPERTYPUT, arguments, nullptr);
}

// The object a property or method returned; empty when it returned none.
DispatchRef ObjectOf(VARIANT& value) {
  if (value.vt != VT_DISPATCH || value.pdispVal == nullptr) return {};
  value.pdispVal->AddRef();
  return DispatchRef(value.pdispVal);
}

std::optional<std::u16string> TextOfVariant(const VARIANT& value) {
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return std::nullopt;
  Variant converted;
  if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
    return std::nullopt;
  const BSTR text = (*converted).bstrVal;
  if (text == nullptr) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

long NumberOf(const VARIANT& value) {
  Variant converted;
  if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_R8))) return 0;
  const double number = (*converted).dblVal;
  if (number >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  if (number <= static_cast<double>(LONG_MIN)) return LONG_MIN;
  return static_cast<long>(number);
}

int CountOf(const DispatchRef& collection) {
  Variant count;
  if (!Get(collection, L"Count", count.get())) return 0;
  const long n = NumberOf(*count);
  return n > INT_MAX ? INT_MAX : n < 0 ? 0 : static_cast<int>(n);
}

// Item `index` of a collection, as the variant the collection holds.
bool ItemOf(const DispatchRef& collection, int index, VARIANT* result) {
  if (index < 0) return false;
  Arguments arguments;
  Variant::SetInt(arguments.Add(), index);
  return Call(collection, L"Item", DISPATCH_PROPERTYGET | DISPATCH_METHOD, arguments, result);
}

class VbSubMatches : public RegexSubMatches {
 public:
  VbSubMatches(DispatchRef object, std::shared_ptr<ComApartment> apartment)
      : object_(std::move(object)), apartment_(std::move(apartment)) {}
  int Count() const override { return CountOf(object_); }
  std::optional<std::u16string> Item(int index) const override {
    Variant item;
    if (!ItemOf(object_, index, item.get())) return std::nullopt;
    return TextOfVariant(*item);
  }

 private:
  DispatchRef object_;
  std::shared_ptr<ComApartment> apartment_;
};

class VbMatch : public RegexMatch {
 public:
  VbMatch(DispatchRef object, std::shared_ptr<ComApartment> apartment)
      : object_(std::move(object)), apartment_(std::move(apartment)) {}
  std::u16string Value() const override {
    Variant value;
    if (!Get(object_, L"Value", value.get())) return {};
    return TextOfVariant(*value).value_or(u"");
  }
  long FirstIndex() const override {
    Variant index;
    if (!Get(object_, L"FirstIndex", index.get())) return 0;
    return NumberOf(*index);
  }
  std::shared_ptr<const RegexSubMatches> SubMatches() const override {
    Variant groups;
    if (!Get(object_, L"SubMatches", groups.get())) return nullptr;
    DispatchRef object = ObjectOf(*groups.get());
    if (!object) return nullptr;
    return std::make_shared<VbSubMatches>(std::move(object), apartment_);
  }

 private:
  DispatchRef object_;
  std::shared_ptr<ComApartment> apartment_;
};

class VbMatchCollection : public RegexMatchCollection {
 public:
  VbMatchCollection(DispatchRef object, std::shared_ptr<ComApartment> apartment)
      : object_(std::move(object)), apartment_(std::move(apartment)) {}
  int Count() const override { return CountOf(object_); }
  std::shared_ptr<const RegexMatch> Item(int index) const override {
    Variant item;
    if (!ItemOf(object_, index, item.get())) return nullptr;
    DispatchRef object = ObjectOf(*item.get());
    if (!object) return nullptr;
    return std::make_shared<VbMatch>(std::move(object), apartment_);
  }

 private:
  DispatchRef object_;
  std::shared_ptr<ComApartment> apartment_;
};

class VbScriptEngine : public RegexEngine {
 public:
  VbScriptEngine(DispatchRef object, std::shared_ptr<ComApartment> apartment)
      : object_(std::move(object)), apartment_(std::move(apartment)) {}

  void SetIgnoreCase(bool value) override { PutFlag(object_, L"IgnoreCase", value); }
  bool IgnoreCase() const override {
    Variant value;
    if (!Get(object_, L"IgnoreCase", value.get())) return false;
    return NumberOf(*value) != 0;
  }
  void SetMultiline(bool value) override { PutFlag(object_, L"Multiline", value); }
  void SetGlobal(bool value) override { PutFlag(object_, L"Global", value); }
  void SetPattern(std::u16string_view pattern) override {
    Arguments arguments;
    if (!Variant::SetText(arguments.Add(), pattern)) return;
    Call(object_, L"Pattern", DISPATCH_PROPERTYPUT, arguments, nullptr);
  }
  std::u16string Pattern() const override {
    Variant value;
    if (!Get(object_, L"Pattern", value.get())) return {};
    return TextOfVariant(*value).value_or(u"");
  }

  std::shared_ptr<const RegexMatchCollection> Execute(std::u16string_view subject) override {
    Arguments arguments;
    if (!Variant::SetText(arguments.Add(), subject)) return nullptr;
    Variant result;
    if (!Call(object_, L"Execute", DISPATCH_METHOD, arguments, result.get())) return nullptr;
    DispatchRef collection = ObjectOf(*result.get());
    if (!collection) return nullptr;
    return std::make_shared<VbMatchCollection>(std::move(collection), apartment_);
  }

  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement) override {
    Arguments arguments;
    if (!Variant::SetText(arguments.Add(), subject) ||
        !Variant::SetText(arguments.Add(), replacement)) {
      return std::nullopt;
    }
    Variant result;
    if (!Call(object_, L"Replace", DISPATCH_METHOD, arguments, result.get())) return std::nullopt;
    return TextOfVariant(*result);
  }

 private:
  DispatchRef object_;
  std::shared_ptr<ComApartment> apartment_;
};

}  // namespace

ComApartment::ComApartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}

ComApartment::~ComApartment() {
  if (initialised_) CoUninitialize();
}

std::unique_ptr<RegexEngine> MakeVbScriptRegexEngine(std::shared_ptr<ComApartment> apartment) {
  CLSID classId{};
  if (FAILED(CLSIDFromProgID(L"VBScript.RegExp", &classId))) return nullptr;
  IDispatch* object = nullptr;
  if (FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&object))) ||
      object == nullptr) {
    return nullptr;
  }
  return std::make_unique<VbScriptEngine>(DispatchRef(object), std::move(apartment));
}

}  // namespace sorrel
