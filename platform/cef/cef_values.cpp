#include "platform/cef/cef_values.h"

#include <glib.h>

CefRefPtr<CefListValue> CefListValue::Create() { return new CefListValue(); }

bool CefListValue::SetSize(size_t size) {
  items_.resize(size);
  return true;
}

bool CefListValue::Clear() {
  items_.clear();
  return true;
}

CefValueType CefListValue::GetType(size_t index) const {
  return index < items_.size() ? items_[index].type : VTYPE_INVALID;
}

bool CefListValue::GetBool(size_t index) const {
  return GetType(index) == VTYPE_BOOL && items_[index].b;
}
int CefListValue::GetInt(size_t index) const {
  return GetType(index) == VTYPE_INT ? items_[index].i : 0;
}
double CefListValue::GetDouble(size_t index) const {
  if (GetType(index) == VTYPE_DOUBLE) return items_[index].d;
  if (GetType(index) == VTYPE_INT) return items_[index].i;
  return 0;
}
CefString CefListValue::GetString(size_t index) const {
  return GetType(index) == VTYPE_STRING ? CefString(items_[index].s) : CefString();
}
std::vector<unsigned char> CefListValue::GetBinary(size_t index) const {
  return GetType(index) == VTYPE_BINARY ? items_[index].bytes : std::vector<unsigned char>();
}
CefRefPtr<CefListValue> CefListValue::GetList(size_t index) const {
  return GetType(index) == VTYPE_LIST ? items_[index].list : nullptr;
}

CefListValue::Item& CefListValue::Slot(size_t index) {
  if (index >= items_.size()) items_.resize(index + 1);
  items_[index] = Item();
  return items_[index];
}

bool CefListValue::SetNull(size_t index) {
  Slot(index);
  return true;
}
bool CefListValue::SetBool(size_t index, bool value) {
  Item& it = Slot(index);
  it.type = VTYPE_BOOL;
  it.b = value;
  return true;
}
bool CefListValue::SetInt(size_t index, int value) {
  Item& it = Slot(index);
  it.type = VTYPE_INT;
  it.i = value;
  return true;
}
bool CefListValue::SetDouble(size_t index, double value) {
  Item& it = Slot(index);
  it.type = VTYPE_DOUBLE;
  it.d = value;
  return true;
}
bool CefListValue::SetString(size_t index, const CefString& value) {
  Item& it = Slot(index);
  it.type = VTYPE_STRING;
  it.s = value.ToString();
  return true;
}
bool CefListValue::SetBinary(size_t index, const std::vector<unsigned char>& value) {
  Item& it = Slot(index);
  it.type = VTYPE_BINARY;
  it.bytes = value;
  return true;
}
bool CefListValue::SetList(size_t index, CefRefPtr<CefListValue> value) {
  if (!value) return false;
  Item& it = Slot(index);
  it.type = VTYPE_LIST;
  it.list = value;
  return true;
}

GVariant* CefListToVariant(const CefRefPtr<CefListValue>& list) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("av"));
  size_t n = list ? list->GetSize() : 0;
  for (size_t i = 0; i < n; ++i) {
    GVariant* v = nullptr;
    switch (list->GetType(i)) {
      case VTYPE_BOOL:
        v = g_variant_new_boolean(list->GetBool(i));
        break;
      case VTYPE_INT:
        v = g_variant_new_int32(list->GetInt(i));
        break;
      case VTYPE_DOUBLE:
        v = g_variant_new_double(list->GetDouble(i));
        break;
      case VTYPE_STRING: {
        const std::string s = list->GetString(i).ToString();
        // GVariant strings must be valid UTF-8: a broken sequence becomes U+FFFD instead
        // of failing the whole message.
        if (g_utf8_validate(s.data(), s.size(), nullptr)) {
          v = g_variant_new_string(s.c_str());
        } else {
          gchar* valid = g_utf8_make_valid(s.data(), s.size());
          v = g_variant_new_string(valid);
          g_free(valid);
        }
        break;
      }
      case VTYPE_BINARY: {
        std::vector<unsigned char> bytes = list->GetBinary(i);
        v = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
        break;
      }
      case VTYPE_LIST:
        v = CefListToVariant(list->GetList(i));
        break;
      default:
        v = g_variant_new_tuple(nullptr, 0);
        break;
    }
    g_variant_builder_add(&b, "v", v);
  }
  return g_variant_builder_end(&b);
}

CefRefPtr<CefListValue> CefListFromVariant(GVariant* variant) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  if (!variant || !g_variant_is_of_type(variant, G_VARIANT_TYPE("av"))) return list;
  size_t n = g_variant_n_children(variant);
  list->SetSize(n);
  for (size_t i = 0; i < n; ++i) {
    GVariant* boxed = g_variant_get_child_value(variant, i);
    GVariant* v = g_variant_get_variant(boxed);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN)) {
      list->SetBool(i, g_variant_get_boolean(v));
    } else if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32)) {
      list->SetInt(i, g_variant_get_int32(v));
    } else if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE)) {
      list->SetDouble(i, g_variant_get_double(v));
    } else if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) {
      list->SetString(i, g_variant_get_string(v, nullptr));
    } else if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTESTRING)) {
      gsize len = 0;
      const unsigned char* p =
          static_cast<const unsigned char*>(g_variant_get_fixed_array(v, &len, 1));
      list->SetBinary(i, std::vector<unsigned char>(p, p + len));
    } else if (g_variant_is_of_type(v, G_VARIANT_TYPE("av"))) {
      list->SetList(i, CefListFromVariant(v));
    } else {
      list->SetNull(i);
    }
    g_variant_unref(v);
    g_variant_unref(boxed);
  }
  return list;
}
