// A list of typed values, the payload of process messages. Between processes it travels as a
// GVariant of type "av" (see CefListToVariant).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_string.h"

typedef struct _GVariant GVariant;

enum CefValueType {
  VTYPE_INVALID = 0,
  VTYPE_NULL,
  VTYPE_BOOL,
  VTYPE_INT,
  VTYPE_DOUBLE,
  VTYPE_STRING,
  VTYPE_BINARY,
  VTYPE_DICTIONARY,
  VTYPE_LIST,
};

class CefListValue : public CefRefCounted<CefListValue> {
 public:
  static CefRefPtr<CefListValue> Create();

  size_t GetSize() const { return items_.size(); }
  // Grows with null entries or cuts the tail.
  bool SetSize(size_t size);
  bool Clear();
  CefValueType GetType(size_t index) const;

  // Readers answer a neutral value (false, 0, "", null) for an entry of another type.
  bool GetBool(size_t index) const;
  int GetInt(size_t index) const;
  double GetDouble(size_t index) const;
  CefString GetString(size_t index) const;
  std::vector<unsigned char> GetBinary(size_t index) const;
  CefRefPtr<CefListValue> GetList(size_t index) const;

  // Writers grow the list when |index| is past its end.
  bool SetNull(size_t index);
  bool SetBool(size_t index, bool value);
  bool SetInt(size_t index, int value);
  bool SetDouble(size_t index, double value);
  bool SetString(size_t index, const CefString& value);
  bool SetBinary(size_t index, const std::vector<unsigned char>& value);
  bool SetList(size_t index, CefRefPtr<CefListValue> value);

 private:
  struct Item {
    CefValueType type = VTYPE_NULL;
    bool b = false;
    int i = 0;
    double d = 0;
    std::string s;
    std::vector<unsigned char> bytes;
    CefRefPtr<CefListValue> list;
  };
  Item& Slot(size_t index);
  std::vector<Item> items_;
};

// The transport form: "av" whose entries are "b", "i", "d", "s", "ay", "av" or "()" (null).
// The returned variant is floating. An entry of any other type arrives as invalid.
GVariant* CefListToVariant(const CefRefPtr<CefListValue>& list);
CefRefPtr<CefListValue> CefListFromVariant(GVariant* variant);
